#pragma once
// The route of the connection in use, read from a statistics report.

#include <api/stats/rtc_stats_report.h>

#include <optional>
#include <string>

namespace wl {

// "Relayed (UDP)" / "Relayed (TCP)" / "Relayed (TLS)" when this side relays (the relay
// protocol in capitals, "RELAY" when none is given), "Relayed (by the other Mac)" when
// the other side relays, "Direct" otherwise; nullopt when neither the transport's
// selected candidate pair nor a nominated pair that succeeded can be found.
std::optional<std::string> routeDescription(const webrtc::RTCStatsReport& report);

} // namespace wl
