#include "platform/linux/JournalSocket.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace wl {

namespace {
// A line is one datagram; longer ones are cut (log lines are short).
constexpr size_t longestMessage = 48 * 1024;
} // namespace

JournalSocket::JournalSocket(std::string path, std::string identifier)
    : path_(std::move(path)), identifier_(std::move(identifier))
{
}

JournalSocket::~JournalSocket()
{
    if (socket_ >= 0)
        ::close(socket_);
}

bool JournalSocket::send(const std::string& message, int priority)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path_.data(), path_.size());

    // Fields as "NAME=value\n"; MESSAGE in the length-prefixed form, which allows any byte
    // (a newline) in the text: "MESSAGE\n", its length as 64-bit little-endian, the text, "\n".
    std::string text = message.substr(0, longestMessage);
    std::string datagram =
        "PRIORITY=" + std::to_string(priority) + "\nSYSLOG_IDENTIFIER=" + identifier_ + "\nMESSAGE\n";
    uint64_t length = text.size();
    for (int i = 0; i < 8; ++i)
        datagram.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
    datagram += text;
    datagram.push_back('\n');

    std::lock_guard guard(lock_);
    if (socket_ < 0) {
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (socket_ < 0)
            return false;
    }
    // Not connected: a restarted journal is found again at the same path.
    ssize_t sent = ::sendto(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    return sent == static_cast<ssize_t>(datagram.size());
}

bool JournalSocket::listening() const
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(probe);
    return connected;
}

bool JournalSocket::stderrIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat status { };
    if (::fstat(STDERR_FILENO, &status) != 0)
        return false;
    return status.st_dev == device && status.st_ino == inode;
}

} // namespace wl
