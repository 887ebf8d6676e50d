#include "BindAndLeave.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace wl::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCycleTimeout = std::chrono::seconds(20);

struct Cycle {
    int fd = -1;
    bool connected = false;
    std::string answer;
    Clock::time_point started;
};

// Closes with a reset: nothing lingers in TIME_WAIT.
void reset(int fd)
{
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

int connectFrom(const std::string& source, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
#ifdef IP_BIND_ADDRESS_NO_PORT
    // The port is picked at connect, per destination: the range is not spent per source.
    int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
#endif
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 && errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

BindAndLeave::BindAndLeave(std::uint16_t port, std::string target, Options options)
    : port_(port), request_("GET " + target +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"),
      options_(std::move(options))
{
    if (options_.sources.empty())
        options_.sources.push_back("127.0.0.1");
    if (options_.underWay == 0)
        options_.underWay = 1;
}

std::vector<std::string> BindAndLeave::loopbackSources(std::size_t count, int first)
{
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < count; ++i)
        sources.push_back("127." + std::to_string(first) + "." + std::to_string(1 + i / 250) + "." +
                          std::to_string(1 + i % 250));
    return sources;
}

BindAndLeave::Result BindAndLeave::run(std::size_t count, std::chrono::milliseconds duration)
{
    Result result;
    std::vector<Cycle> cycles;
    std::vector<pollfd> polled;
    const auto start = Clock::now();
    const auto end = start + duration;
    std::size_t started = 0, nextSource = 0;
    const auto ended = [&] { return result.bound + result.refused; };
    const auto finish = [&](std::size_t index, bool bound) {
        reset(cycles[index].fd);
        cycles[index] = std::move(cycles.back());
        cycles.pop_back();
        ++(bound ? result.bound : result.refused);
    };
    while (ended() < count && Clock::now() < end) {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        while (cycles.size() < options_.underWay && started < count &&
               (options_.perSecond <= 0 || static_cast<double>(started) < options_.perSecond * elapsed + 1)) {
            ++started;
            const int fd = connectFrom(options_.sources[nextSource++ % options_.sources.size()], port_);
            if (fd < 0)
                ++result.refused;
            else
                cycles.push_back(Cycle{fd, false, {}, now});
        }
        polled.clear();
        for (const auto& cycle : cycles)
            polled.push_back(pollfd{cycle.fd, static_cast<short>(cycle.connected ? POLLIN : POLLOUT), 0});
        const bool paced = options_.perSecond > 0 && cycles.size() < options_.underWay;
        ::poll(polled.data(), polled.size(), paced ? 1 : 50);
        // Backwards: a finished cycle's place is taken by the last one, already looked at.
        for (std::size_t i = polled.size(); i-- > 0;) {
            auto& cycle = cycles[i];
            const auto events = polled[i].revents;
            if (events == 0) {
                if (Clock::now() - cycle.started > kCycleTimeout)
                    finish(i, false);
                continue;
            }
            if (!cycle.connected) {
                int error = 0;
                socklen_t size = sizeof error;
                getsockopt(cycle.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error != 0 ||
                    ::send(cycle.fd, request_.data(), request_.size(), MSG_NOSIGNAL) !=
                        static_cast<ssize_t>(request_.size())) {
                    finish(i, false);
                    continue;
                }
                cycle.connected = true;
                continue;
            }
            char buffer[2048];
            const auto n = ::recv(cycle.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    continue;
                finish(i, false);
                continue;
            }
            cycle.answer.append(buffer, static_cast<std::size_t>(n));
            if (cycle.answer.find("\r\n\r\n") != std::string::npos)
                finish(i, cycle.answer.rfind("HTTP/1.1 101 ", 0) == 0);
        }
    }
    for (const auto& cycle : cycles)
        reset(cycle.fd);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

} // namespace wl::test
