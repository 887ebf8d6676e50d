#pragma once
// Splits a request target into the route it names and its query items.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl::service {

enum class RouteKind {
    unknown, // 404
    status, // v1/status/<id>
    keys, // v1/keys/<id>
    mail, // v1/mail/<id>: POST delivers, a WebSocket is the mailbox link
    host, // v1/host/<id>
    connect, // v1/connect/<id>
    pairHost, // v1/pair/host/<code>
    pairJoin, // v1/pair/join/<code>
};

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
