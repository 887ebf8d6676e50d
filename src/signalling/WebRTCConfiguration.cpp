#include "signalling/WebRTCConfiguration.h"

#include "platform/Defaults.h"

namespace wl {

std::vector<std::string> defaultSTUNServers(const Defaults& defaults)
{
    if (defaults.contains(kSTUNServersKey))
        return defaults.stringList(kSTUNServersKey);
    return {"stun:stun.l.google.com:19302", "stun:stun1.l.google.com:19302"};
}

webrtc::PeerConnectionInterface::RTCConfiguration makeRTCConfiguration(const Defaults& defaults,
                                                                       const std::vector<ICEServer>& relays)
{
    webrtc::PeerConnectionInterface::RTCConfiguration config;
    config.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;

    std::vector<std::string> stun = defaultSTUNServers(defaults);
    if (!stun.empty()) {
        webrtc::PeerConnectionInterface::IceServer server;
        server.urls = std::move(stun);
        config.servers.push_back(std::move(server));
    }
    for (const auto& relay : relays) {
        if (relay.urls.empty())
            continue;
        webrtc::PeerConnectionInterface::IceServer server;
        server.urls = relay.urls;
        if (relay.username && relay.credential) {
            server.username = *relay.username;
            server.password = *relay.credential;
        }
        config.servers.push_back(std::move(server));
    }
    config.continual_gathering_policy = webrtc::PeerConnectionInterface::GATHER_CONTINUALLY;
    if (defaults.boolValue(kForceRelayKey))
        config.type = webrtc::PeerConnectionInterface::kRelay;
    return config;
}

const webrtc::MediaConstraints& defaultMediaConstraints()
{
    static const webrtc::MediaConstraints constraints;
    return constraints;
}

} // namespace wl
