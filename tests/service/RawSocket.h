#pragma once
// Plain TCP connections to the service for tests that behave as no proper client would
// (half-sent requests, links that never read, floods), and what the service process holds.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace wl::test {

class RawSocket {
public:
    struct Options {
        int receiveBuffer = 0; // SO_RCVBUF when above zero: a peer that reads slowly
        const char* source = nullptr; // bind to this loopback address first ("127.0.0.2")
        bool blocking = true; // false: start the connect and don't wait for it
    };

    explicit RawSocket(std::uint16_t port, int receiveBuffer = 0) : RawSocket(port, Options{receiveBuffer}) { }
    RawSocket(std::uint16_t port, Options options)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (options.blocking ? 0 : SOCK_NONBLOCK), 0);
        if (fd_ < 0)
            return;
        if (options.receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
        if (options.source) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, options.source, &local.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        connected_ = rc == 0 || (!options.blocking && errno == EINPROGRESS);
    }
    ~RawSocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    void write(const std::string& data) { (void)::send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }
    // Half-closes: the service reads the end of the stream while we could still read.
    void shutdownSend() { ::shutdown(fd_, SHUT_WR); }
    // What arrives until `marker` is seen (or the time-out).
    std::string readUntil(const std::string& marker)
    {
        std::string text;
        char buffer[1024];
        while (text.find(marker) == std::string::npos) {
            auto n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // True when the service closes the connection (EOF or reset) within the receive time-out.
    bool closedByPeer()
    {
        char buffer[256];
        while (true) {
            auto n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0)
                return false;
        }
    }
    // Sends a WebSocket upgrade for target and reads the answer's header; true on 101. The
    // link then stays as it is: nothing more is read unless the test reads.
    bool upgrade(const std::string& target)
    {
        write("GET " + target +
              " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        return readUntil("\r\n\r\n").find(" 101 ") != std::string::npos;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// The sockets a process holds open.
inline int socketCount(pid_t pid)
{
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code linkError;
        auto target = std::filesystem::read_symlink(entry.path(), linkError);
        if (!linkError && target.string().rfind("socket:", 0) == 0)
            ++count;
    }
    return count;
}

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); 0 when unknown.
inline long processMemoryKiB(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    }
    return 0;
}

// Sanitizers make everything slower and hold freed memory back: tests that bound time or
// memory widen or skip their bounds under them.
constexpr bool underSanitizer()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(undefined_behavior_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace wl::test
