#pragma once
// Connectors that bind to a host through the introduction service and leave at once, by the
// thousand: each connects from one of a set of loopback addresses, asks for the WebSocket
// upgrade of a target, waits for the answer and resets the connection (a reset leaves no
// TIME_WAIT behind, so that tens of thousands fit in the port range). One thread with many
// connections under way; every wait is bounded.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wl::test {

class BindAndLeave {
public:
    struct Options {
        std::vector<std::string> sources = {"127.0.0.1"}; // taken in turn
        std::size_t underWay = 16; // connections under way at once, at most
        double perSecond = 0; // cycles started a second, at most; 0: as fast as they end
    };
    struct Result {
        std::size_t bound = 0; // answered 101: bound, then gone
        std::size_t refused = 0; // closed, reset or answered otherwise
        double seconds = 0;
        double boundPerSecond() const { return seconds > 0 ? static_cast<double>(bound) / seconds : 0; }
    };

    BindAndLeave(std::uint16_t port, std::string target, Options options);

    // Cycles until `count` have ended or `duration` has passed; what is under way then is reset.
    Result run(std::size_t count, std::chrono::milliseconds duration);

    // count distinct loopback addresses "127.<first>.x.y", from 127.<first>.1.1 on (up to 62,500).
    static std::vector<std::string> loopbackSources(std::size_t count, int first = 1);

private:
    std::uint16_t port_;
    std::string request_;
    Options options_;
};

} // namespace wl::test
