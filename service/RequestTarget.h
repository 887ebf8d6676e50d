#pragma once
// Splits a request target into the route it names and its query items.

#include "protocol/Routes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl::service {

// The routes are the shared table's (protocol/Routes.h).
using RouteKind = wl::Route;

struct RequestTarget {
    RouteKind kind = RouteKind::unknown;
    std::string key; // device id or pairing code
    bool keyValid = false; // id: 64 lower-case hex; code: 8 symbols of the pairing alphabet
    std::vector<std::pair<std::string, std::string>> query; // percent-decoded, '+' kept
    bool queryValid = true; // false on a malformed percent escape

    static RequestTarget parse(std::string_view target);

    // Exactly one item named `name`; nullopt when absent or repeated.
    std::optional<std::string> single(std::string_view name) const;
    bool isWebSocketRoute() const;
};

bool isDeviceId(std::string_view text);
bool isPairingCode(std::string_view text);
std::optional<std::string> percentDecode(std::string_view text);

} // namespace wl::service
