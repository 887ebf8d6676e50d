#include "protocol/SignalMessage.h"

#include "protocol/JsonFields.h"

#include <array>

namespace wl {

using jsonfields::put;

namespace {

constexpr std::array<const char*, 13> kKindWords = {"hello",       "challenge", "prove",     "accepted", "declined",
                                                    "offer",       "answer",    "candidate", "bye",      "iceServers",
                                                    "pairRequest", "pairInfo",  "proven"};

std::optional<SignalMessage> readSignalMessage(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "SignalMessage");
    SignalMessage m;
    r.word("kind", m.kind, signalKindFromString);
    r.string("name", m.name);
    r.string("sdp", m.sdp);
    r.integer("sdpMLineIndex", m.sdpMLineIndex);
    r.string("sdpMid", m.sdpMid);
    r.string("publicKey", m.publicKey);
    r.string("nonce", m.nonce);
    r.string("signature", m.signature);
    r.string("reason", m.reason);
    r.records("iceServers", m.iceServers);
    r.boolean("unattended", m.unattended);
    r.string("salt", m.salt);
    r.string("pinProof", m.pinProof);
    r.string("purpose", m.purpose);
    r.string("requestId", m.requestId);
    r.integer("channel", m.channel);
    if (!r.ok())
        return std::nullopt;
    return m;
}

} // namespace

std::string toString(SignalMessage::Kind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    return index < kKindWords.size() ? kKindWords[index] : "";
}

std::optional<SignalMessage::Kind> signalKindFromString(std::string_view text)
{
    for (std::size_t i = 0; i < kKindWords.size(); ++i) {
        if (text == kKindWords[i])
            return static_cast<SignalMessage::Kind>(i);
    }
    return std::nullopt;
}

SignalMessage SignalMessage::make(Kind kind)
{
    SignalMessage m;
    m.kind = kind;
    return m;
}

nlohmann::json SignalMessage::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["kind"] = toString(kind);
    put(j, "name", name);
    put(j, "sdp", sdp);
    put(j, "sdpMLineIndex", sdpMLineIndex);
    put(j, "sdpMid", sdpMid);
    put(j, "publicKey", publicKey);
    put(j, "nonce", nonce);
    put(j, "signature", signature);
    put(j, "reason", reason);
    if (iceServers)
        j["iceServers"] = jsonfields::recordList(*iceServers);
    put(j, "unattended", unattended);
    put(j, "salt", salt);
    put(j, "pinProof", pinProof);
    put(j, "purpose", purpose);
    put(j, "requestId", requestId);
    put(j, "channel", channel);
    return j;
}

WL_JSON_RECORD_CODING(SignalMessage, readSignalMessage)

} // namespace wl
