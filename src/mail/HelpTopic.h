#pragma once
// The topics of a help request. The raw value is the title shown to users and sent as
// the request's `topic`.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace wl {

enum class HelpTopic { printer, email, internet, password, looksWrong, other };

inline constexpr std::array<HelpTopic, 6> kAllHelpTopics = {HelpTopic::printer,    HelpTopic::email,
                                                            HelpTopic::internet,   HelpTopic::password,
                                                            HelpTopic::looksWrong, HelpTopic::other};

// "Printer", "Email", "Wi-Fi or internet", "A password", "Something looks wrong", "Something else".
std::string rawValue(HelpTopic topic);
std::optional<HelpTopic> helpTopicFromRaw(std::string_view raw);

} // namespace wl
