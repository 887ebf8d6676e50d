#pragma once
// The peer-connection configuration and constraints every session uses.

#include "protocol/ICEServer.h"

#include <api/peer_connection_interface.h>
#include <sdk/media_constraints.h>

#include <string>
#include <vector>

namespace wl {

class Defaults;

// The setting naming the STUN servers; when absent the two public defaults below are
// used. When present (even empty) it replaces them; an empty list adds no STUN entry.
inline constexpr const char* kSTUNServersKey = "WLSTUNServers";
inline constexpr const char* kForceRelayKey = "WLForceRelay";
std::vector<std::string> defaultSTUNServers(const Defaults& defaults);

// Unified plan; first ICE server = the STUN URLs (when any), then one per relay server
// (with username and credential when both are given); continual gathering; relay-only
// when WLForceRelay is set. Settings are read from defaults, on the caller's thread.
webrtc::PeerConnectionInterface::RTCConfiguration makeRTCConfiguration(const Defaults& defaults,
                                                                       const std::vector<ICEServer>& relays);

// Made on first use: no mandatory and no optional constraints.
const webrtc::MediaConstraints& defaultMediaConstraints();

} // namespace wl
