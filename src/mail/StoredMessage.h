#pragma once
// One message of the history: mail this Mac sent or received, with when it was stored.
// A received password keeps its envelope (`sealed`) instead of its secret.

#include "protocol/Date.h"
#include "protocol/MailContent.h"
#include "protocol/MailEnvelope.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

struct StoredMessage {
    std::string id; // the mail's envelope id
    std::string peerId; // the other Mac's device id
    std::string peerName;
    bool outgoing = false;
    MailContent content;
    Date at = 0; // when it was stored
    std::optional<MailEnvelope> sealed;
    std::optional<Date> openedAt;

    bool operator==(const StoredMessage&) const = default;

    nlohmann::json toJson() const;
    static std::optional<StoredMessage> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<StoredMessage> decode(std::string_view text, std::string* error = nullptr);

    // A JSON array of messages. Decoding a list skips entries that do not decode.
    static std::string encodeList(const std::vector<StoredMessage>& messages);
    static std::optional<std::vector<StoredMessage>> decodeList(std::string_view text);
};

} // namespace wl
