#include "ServiceConfig.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

namespace wl::service {

namespace {

std::optional<double> parseNumber(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0)
        return std::nullopt;
    return value;
}

std::optional<std::size_t> parseCount(const std::string& text)
{
    std::size_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The first line of a secret file, without its line end; the file must hold something.
std::optional<std::string> readSecretFile(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the TURN secret file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    if (line.empty()) {
        *error = "the TURN secret file " + path + " is empty";
        return std::nullopt;
    }
    return line;
}

std::chrono::milliseconds secondsToMillis(double seconds)
{
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
}

} // namespace

std::string helpText()
{
    return "Usage: wickerlane-introduction [options]\n"
           "The Wickerlane introduction service: presence, signalling relay, pairing rendezvous,\n"
           "mailbox and key directory, over HTTP and WebSockets on one port.\n"
           "\n"
           "  --listen ADDRESS            address to listen on (default 127.0.0.1)\n"
           "  --port PORT                 port (default 8787; 0 picks a free one)\n"
           "  --db PATH                   SQLite database (default $XDG_DATA_HOME/wickerlane-introduction/service.sqlite)\n"
           "  --cert PATH --key PATH      serve TLS with this PEM certificate chain and private key\n"
           "  --stun URL                  STUN server handed to clients (repeatable)\n"
           "  --turn URL                  TURN server handed to clients (repeatable)\n"
           "  --turn-secret-file PATH     file holding the shared secret for time-limited TURN credentials\n"
           "                              (coturn use-auth-secret); or set WICKERLANE_TURN_SECRET\n"
           "  --turn-secret SECRET        the same secret on the command line (visible in the process list)\n"
           "  --turn-lifetime SECONDS     lifetime of TURN credentials (default 86400)\n"
           "  --max-frame BYTES           largest WebSocket frame (default 65536)\n"
           "  --max-mail-body BYTES       largest mail POST body (default 65536)\n"
           "  --max-key-body BYTES        largest key record PUT body (default 4096)\n"
           "  --mailbox-capacity N        envelopes one mailbox holds (default 500)\n"
           "  --sender-rate N             envelopes one sender may post per minute (default 60)\n"
           "  --connection-rate N         new connections per address per 10 s (default 60)\n"
           "  --request-rate N            requests per address per minute (default 1200)\n"
           "  --connections-per-address N connections one address may hold open at once (default 256)\n"
           "  --max-connections N         connections open at once in all (default: what the descriptor limit allows)\n"
           "  --send-budget BYTES         frames queued for sending to slow readers, all links together\n"
           "                              (default 67108864)\n"
           "  --connector-queue BYTES     bytes one helper's link (v1/connect) may have waiting unwritten on\n"
           "                              its host's link (default 131072); a host's link holds 32 times this\n"
           "                              plus 1 MiB before the host counts as not reading\n"
           "  --connector-burst N         frames one helper's link may send at once (default 64)\n"
           "  --connector-rate N          frames a second it may send after that (default 4); a helper's link\n"
           "                              past either budget is closed (4429), never its host's\n"
           "  --idle-timeout SECONDS      close links silent this long (default 90)\n"
           "  --pairing-expiry SECONDS    how long a host waits with a pairing code (default 600)\n"
           "  --request-timeout SECONDS   TLS handshake, HTTP request and WebSocket handshake limit (default 30)\n"
           "  --first-byte-timeout SECONDS  wait this long for a new connection's first byte (default 5)\n"
           "  --mail-max-age SECONDS      drop stored envelopes older than this (default 2592000, 30 days)\n"
           "  --help                      show this text\n";
}

std::string defaultDatabasePath()
{
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        return {};
    return base + "/wickerlane-introduction/service.sqlite";
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv)
{
    ServiceConfig config;
    ParsedCommandLine result;
    auto fail = [&](std::string message) {
        result.config.reset();
        result.isError = true;
        result.message = std::move(message) + "\n(see --help)";
        return result;
    };

    std::string turnSecretFile;
    using Setter = std::function<bool(const std::string&)>;
    auto count = [](std::size_t& target, std::size_t minimum) -> Setter {
        return [&target, minimum](const std::string& v) {
            auto n = parseCount(v);
            if (!n || *n < minimum)
                return false;
            target = *n;
            return true;
        };
    };
    auto millis = [](std::chrono::milliseconds& target) -> Setter {
        return [&target](const std::string& v) {
            auto n = parseNumber(v);
            if (!n || *n <= 0)
                return false;
            target = secondsToMillis(*n);
            return true;
        };
    };
    auto text = [](std::string& target) -> Setter {
        return [&target](const std::string& v) {
            if (v.empty())
                return false;
            target = v;
            return true;
        };
    };
    auto list = [](std::vector<std::string>& target) -> Setter {
        return [&target](const std::string& v) {
            if (v.empty())
                return false;
            target.push_back(v);
            return true;
        };
    };

    std::map<std::string, Setter> options = {
        {"--listen", text(config.listenAddress)},
        {"--port",
         [&](const std::string& v) {
             auto n = parseCount(v);
             if (!n || *n > 65535)
                 return false;
             config.port = static_cast<std::uint16_t>(*n);
             return true;
         }},
        {"--db", text(config.databasePath)},
        {"--cert", text(config.certificatePath)},
        {"--key", text(config.privateKeyPath)},
        {"--stun", list(config.stunUrls)},
        {"--turn", list(config.turnUrls)},
        {"--turn-secret", text(config.turnSecret)},
        {"--turn-secret-file",
         [&](const std::string& v) {
             if (v.empty())
                 return false;
             turnSecretFile = v;
             return true;
         }},
        {"--turn-lifetime",
         [&](const std::string& v) {
             auto n = parseCount(v);
             if (!n || *n == 0)
                 return false;
             config.turnCredentialLifetime = std::chrono::seconds(*n);
             return true;
         }},
        {"--max-frame", count(config.maxFrameBytes, 1024)},
        {"--max-mail-body", count(config.maxMailBodyBytes, 1)},
        {"--max-key-body", count(config.maxKeyBodyBytes, 1)},
        {"--mailbox-capacity", count(config.mailboxCapacity, 1)},
        {"--sender-rate", count(config.senderMailsPerMinute, 1)},
        {"--connection-rate", count(config.connectionsPer10Seconds, 1)},
        {"--request-rate", count(config.requestsPerMinute, 1)},
        {"--connections-per-address", count(config.connectionsPerAddress, 1)},
        {"--max-connections", count(config.maxConnections, 1)},
        {"--send-budget", count(config.sendBudgetBytes, 1024 * 1024)},
        {"--connector-queue", count(config.connectorQueueBytes, 1024)},
        {"--connector-burst", count(config.connectorBurstFrames, 1)},
        {"--connector-rate", count(config.connectorFramesPerSecond, 1)},
        {"--idle-timeout", millis(config.idleTimeout)},
        {"--pairing-expiry", millis(config.pairingExpiry)},
        {"--request-timeout", millis(config.requestTimeout)},
        {"--first-byte-timeout", millis(config.firstByteTimeout)},
        {"--mail-max-age",
         [&](const std::string& v) {
             auto n = parseCount(v);
             if (!n || *n == 0)
                 return false;
             config.mailMaxAge = std::chrono::seconds(*n);
             return true;
         }},
    };

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            result.message = helpText();
            return result;
        }
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto option = options.find(arg);
        if (option == options.end())
            return fail("unknown option " + arg);
        if (!hasValue) {
            if (i + 1 >= argc)
                return fail("option " + arg + " needs a value");
            value = argv[++i];
        }
        if (!option->second(value))
            return fail("bad value for " + arg + ": " + value);
    }
    if (config.certificatePath.empty() != config.privateKeyPath.empty())
        return fail("--cert and --key go together");
    if (config.sendBudgetBytes / 16 < std::max(config.maxFrameBytes, config.maxMailBodyBytes))
        return fail("--send-budget must be at least 16 times --max-frame and --max-mail-body");
    if (config.connectorQueueBytes < config.maxFrameBytes)
        return fail("--connector-queue must be at least --max-frame");
    if (!turnSecretFile.empty()) {
        if (!config.turnSecret.empty())
            return fail("--turn-secret and --turn-secret-file exclude each other");
        std::string error;
        auto secret = readSecretFile(turnSecretFile, &error);
        if (!secret)
            return fail(error);
        config.turnSecret = *secret;
    } else if (config.turnSecret.empty()) {
        if (const char* secret = std::getenv("WICKERLANE_TURN_SECRET"); secret && *secret)
            config.turnSecret = secret;
    }
    if (config.databasePath.empty())
        config.databasePath = defaultDatabasePath();
    if (config.databasePath.empty())
        return fail("no database path: neither XDG_DATA_HOME nor HOME is set; give --db PATH");
    result.config = config;
    return result;
}

} // namespace wl::service
