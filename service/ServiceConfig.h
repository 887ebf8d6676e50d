#pragma once
// The introduction service's settings, from its command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wl::service {

struct ServiceConfig {
    std::string listenAddress = "127.0.0.1";
    std::uint16_t port = 8787; // 0 picks a free port (logged once listening)
    std::string databasePath; // empty: defaultDatabasePath()
    std::string certificatePath; // TLS when both are given
    std::string privateKeyPath;

    std::vector<std::string> stunUrls;
    std::vector<std::string> turnUrls;
    // coturn use-auth-secret; empty: TURN urls go out without credentials. Also read from
    // --turn-secret-file or $WICKERLANE_TURN_SECRET, so that it needn't show in the process list.
    std::string turnSecret;
    std::chrono::seconds turnCredentialLifetime{24 * 3600};

    // Limits.
    std::size_t maxFrameBytes = 65536;
    std::size_t maxMailBodyBytes = 64 * 1024;
    std::size_t maxKeyBodyBytes = 4 * 1024;
    std::size_t mailboxCapacity = 500;
    std::size_t senderMailsPerMinute = 60;
    std::size_t connectionsPer10Seconds = 60; // per remote address
    std::size_t requestsPerMinute = 1200; // per remote address (HTTP requests and upgrades)
    std::size_t connectionsPerAddress = 256; // open at once per remote address
    std::size_t maxConnections = 0; // open at once in all; 0: what the descriptor limit allows
    std::size_t sendBudgetBytes = 64u * 1024 * 1024; // frames queued for sending, all links together
    // What one connector of v1/connect/<id> may put on its host's link: bytes waiting there
    // unwritten, and frames (a burst, then a steady rate). An honest helper sends a few dozen
    // frames of some 30 KiB in all; past either budget the connector is closed (4429).
    std::size_t connectorQueueBytes = 128 * 1024;
    std::size_t connectorBurstFrames = 64;
    std::size_t connectorFramesPerSecond = 4;
    std::chrono::milliseconds idleTimeout{90'000};
    std::chrono::milliseconds pairingExpiry{600'000};
    std::chrono::milliseconds requestTimeout{30'000}; // TLS handshake, HTTP request, WebSocket handshake
    std::chrono::milliseconds firstByteTimeout{5'000}; // a new connection's first byte, the next request's
    std::chrono::milliseconds closeTimeout{5'000}; // a WebSocket close handshake, then the socket goes
    std::chrono::seconds mailMaxAge{30 * 24 * 3600};
    std::int64_t signedQueryWindowSeconds = 300;
};

struct ParsedCommandLine {
    std::optional<ServiceConfig> config; // nullopt: stop (help shown or error)
    std::string message; // help text or the error
    bool isError = false;
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);
std::string helpText();
// $XDG_DATA_HOME/wickerlane-introduction/service.sqlite, else ~/.local/share/...; empty
// when neither variable is set (the service then needs --db).
std::string defaultDatabasePath();

} // namespace wl::service
