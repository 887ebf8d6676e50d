#include "protocol/MailContent.h"

#include "protocol/JsonFields.h"

#include <array>

namespace wl {

using jsonfields::put;

namespace {

constexpr std::array<const char*, 10> kKindWords = {"message", "helpRequest", "reply",       "cancel",    "password",
                                                    "receipt", "access",      "linkRequest", "linkReply", "myMacs"};

std::optional<MailContent> readMailContent(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "MailContent");
    MailContent c;
    r.word("kind", c.kind, mailKindFromString);
    r.number("sentAt", c.sentAt);
    r.string("text", c.text);
    r.string("topic", c.topic);
    r.string("replyTo", c.replyTo);
    r.integer("attachments", c.attachments);
    r.string("label", c.label);
    r.string("secret", c.secret);
    r.string("lifetime", c.lifetime);
    r.number("expiresAt", c.expiresAt);
    r.boolean("unattended", c.unattended);
    r.record("roster", c.roster);
    r.string("personKey", c.personKey);
    if (!r.ok())
        return std::nullopt;
    return c;
}

} // namespace

std::string toString(MailContent::Kind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    return index < kKindWords.size() ? kKindWords[index] : "";
}

std::optional<MailContent::Kind> mailKindFromString(std::string_view text)
{
    for (std::size_t i = 0; i < kKindWords.size(); ++i) {
        if (text == kKindWords[i])
            return static_cast<MailContent::Kind>(i);
    }
    return std::nullopt;
}

nlohmann::json MailContent::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["kind"] = toString(kind);
    j["sentAt"] = sentAt;
    put(j, "text", text);
    put(j, "topic", topic);
    put(j, "replyTo", replyTo);
    put(j, "attachments", attachments);
    put(j, "label", label);
    put(j, "secret", secret);
    put(j, "lifetime", lifetime);
    put(j, "expiresAt", expiresAt);
    put(j, "unattended", unattended);
    jsonfields::putRecord(j, "roster", roster);
    put(j, "personKey", personKey);
    return j;
}

WL_JSON_RECORD_CODING(MailContent, readMailContent)

} // namespace wl
