#include "mail/HelpTopic.h"

namespace wl {

std::string rawValue(HelpTopic topic)
{
    switch (topic) {
    case HelpTopic::printer: return "Printer";
    case HelpTopic::email: return "Email";
    case HelpTopic::internet: return "Wi-Fi or internet";
    case HelpTopic::password: return "A password";
    case HelpTopic::looksWrong: return "Something looks wrong";
    case HelpTopic::other: return "Something else";
    }
    return "Something else";
}

std::optional<HelpTopic> helpTopicFromRaw(std::string_view raw)
{
    for (auto topic : kAllHelpTopics)
        if (rawValue(topic) == raw)
            return topic;
    return std::nullopt;
}

} // namespace wl
