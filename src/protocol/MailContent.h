#pragma once
// What a sealed mail carries.

#include "protocol/Date.h"
#include "protocol/Roster.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace wl {

struct MailContent {
    enum class Kind { message, helpRequest, reply, cancel, password, receipt, access, linkRequest, linkReply, myMacs };

    Kind kind = Kind::message;
    Date sentAt = 0;
    std::optional<std::string> text;
    std::optional<std::string> topic;
    std::optional<std::string> replyTo;
    std::optional<int> attachments;
    std::optional<std::string> label;
    std::optional<std::string> secret;
    std::optional<std::string> lifetime;
    std::optional<Date> expiresAt;
    std::optional<bool> unattended;
    std::optional<SignedRoster> roster;
    std::optional<std::string> personKey;

    bool operator==(const MailContent&) const = default;

    nlohmann::json toJson() const;
    static std::optional<MailContent> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<MailContent> decode(std::string_view text, std::string* error = nullptr);
};

std::string toString(MailContent::Kind kind);
std::optional<MailContent::Kind> mailKindFromString(std::string_view text);

} // namespace wl
