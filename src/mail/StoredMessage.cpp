#include "mail/StoredMessage.h"

namespace wl {

nlohmann::json StoredMessage::toJson() const
{
    nlohmann::json j = {
        {"id", id}, {"peerId", peerId}, {"peerName", peerName}, {"outgoing", outgoing}, {"content", content.toJson()},
        {"at", at},
    };
    if (sealed)
        j["sealed"] = sealed->toJson();
    if (openedAt)
        j["openedAt"] = *openedAt;
    return j;
}

std::optional<StoredMessage> StoredMessage::fromJson(const nlohmann::json& j, std::string* error)
{
    auto fail = [&](const char* why) -> std::optional<StoredMessage> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!j.is_object())
        return fail("not an object");
    StoredMessage m;
    auto text = [&](const char* key, std::string& out) {
        auto it = j.find(key);
        if (it == j.end() || !it->is_string())
            return false;
        out = it->get<std::string>();
        return true;
    };
    if (!text("id", m.id) || !text("peerId", m.peerId) || !text("peerName", m.peerName))
        return fail("missing id, peerId or peerName");
    auto outgoing = j.find("outgoing");
    if (outgoing == j.end() || !outgoing->is_boolean())
        return fail("missing outgoing");
    m.outgoing = outgoing->get<bool>();
    auto at = j.find("at");
    if (at == j.end() || !at->is_number())
        return fail("missing at");
    m.at = at->get<double>();
    auto content = j.find("content");
    if (content == j.end())
        return fail("missing content");
    auto decoded = MailContent::fromJson(*content, error);
    if (!decoded)
        return std::nullopt;
    m.content = *decoded;
    if (auto s = j.find("sealed"); s != j.end()) {
        auto envelope = MailEnvelope::fromJson(*s, error);
        if (!envelope)
            return std::nullopt;
        m.sealed = *envelope;
    }
    if (auto o = j.find("openedAt"); o != j.end()) {
        if (!o->is_number())
            return fail("openedAt is not a number");
        m.openedAt = o->get<double>();
    }
    return m;
}

std::string StoredMessage::encode() const
{
    return toJson().dump();
}

std::optional<StoredMessage> StoredMessage::decode(std::string_view text, std::string* error)
{
    auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        if (error)
            *error = "not JSON";
        return std::nullopt;
    }
    return fromJson(j, error);
}

std::string StoredMessage::encodeList(const std::vector<StoredMessage>& messages)
{
    auto array = nlohmann::json::array();
    for (const auto& m : messages)
        array.push_back(m.toJson());
    return array.dump();
}

std::optional<std::vector<StoredMessage>> StoredMessage::decodeList(std::string_view text)
{
    auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_array())
        return std::nullopt;
    std::vector<StoredMessage> out;
    for (const auto& item : j)
        if (auto m = fromJson(item))
            out.push_back(std::move(*m));
    return out;
}

} // namespace wl
