#pragma once
// A signalling message: JSON text frames on the introduction service's links.

#include "protocol/ICEServer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

struct SignalMessage {
    enum class Kind {
        hello,
        challenge,
        prove,
        accepted,
        declined,
        offer,
        answer,
        candidate,
        bye,
        iceServers,
        pairRequest,
        pairInfo,
        proven // host to service only: the helper on this channel proved who it is
    };

    Kind kind = Kind::hello;
    std::optional<std::string> name;
    std::optional<std::string> sdp;
    std::optional<std::int32_t> sdpMLineIndex;
    std::optional<std::string> sdpMid;
    std::optional<std::string> publicKey;
    std::optional<std::string> nonce;
    std::optional<std::string> signature;
    std::optional<std::string> reason;
    std::optional<std::vector<ICEServer>> iceServers;
    std::optional<bool> unattended;
    std::optional<std::string> salt;
    std::optional<std::string> pinProof;
    std::optional<std::string> purpose;
    std::optional<std::string> requestId;
    // Only between the host and the service: the connector a frame comes from or goes to.
    std::optional<std::uint64_t> channel;

    static SignalMessage make(Kind kind);

    bool operator==(const SignalMessage&) const = default;

    nlohmann::json toJson() const;
    static std::optional<SignalMessage> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<SignalMessage> decode(std::string_view text, std::string* error = nullptr);
};

std::string toString(SignalMessage::Kind kind);
std::optional<SignalMessage::Kind> signalKindFromString(std::string_view text);

} // namespace wl
