#pragma once
// One accepted WebSocket as the hub sees it: a role, the id or code it was opened for,
// a queue of outgoing text frames and a close with a code. The network session behind it
// reports frames and its end to the Hub.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace wl::service {

class Link : public std::enable_shared_from_this<Link> {
public:
    enum class Role { host, connector, pairHost, pairJoin, mailbox };
    using Clock = std::chrono::steady_clock;

    Link(Role role, std::string key, std::string address)
        : role_(role), key_(std::move(key)), address_(std::move(address)), lastActivity_(Clock::now())
    {
    }
    virtual ~Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Queues a text frame; dropped once the link is closing. A link whose queue would grow
    // beyond its own limit or the service's send budget is dropped (the peer does not read).
    void send(std::shared_ptr<const std::string> text) { queue(std::move(text), 0, false); }
    // The same for a frame a host link carries on behalf of one of its connectors (lane: its
    // channel, above 0). The link writes its lanes in turn, one frame each, so that no
    // connector's frames wait behind more than one frame of each other's; withdraw() takes a
    // lane's frames back.
    void sendFor(std::uint64_t lane, std::shared_ptr<const std::string> text) { queue(std::move(text), lane, false); }
    // What the service itself tells a host about one of its connectors (its `iceServers`, that
    // it left), on that connector's lane: never refused for the send budget, only by the
    // link's own limit.
    void tell(std::uint64_t lane, std::shared_ptr<const std::string> text) { queue(std::move(text), lane, true); }
    // Drops the frames of that lane still waiting (not one already on the wire): a connector
    // that is gone leaves nothing behind in its host's queue.
    virtual void withdraw(std::uint64_t lane) = 0;
    // Sends the close frame after the queued frames; later calls do nothing.
    virtual void close(std::uint16_t code) = 0;
    // Drops the queued frames (all but one already on the wire) and sends the close frame.
    virtual void closeNow(std::uint16_t code) = 0;
    // Bytes queued and not yet written, the frame on the wire included.
    virtual std::size_t queuedBytes() const = 0;
    virtual bool closing() const = 0;
    // Drops the connection without a close handshake (a peer that stopped reading).
    virtual void abort() = 0;
    Clock::time_point closingSince() const { return closingSince_; }

    Role role() const { return role_; }
    const std::string& key() const { return key_; }
    const std::string& address() const { return address_; }
    Clock::time_point lastActivity() const { return lastActivity_; }
    void touch(Clock::time_point now = Clock::now()) { lastActivity_ = now; }

protected:
    // owed: the service's own word, which takes from the send budget even when it is spent.
    virtual void queue(std::shared_ptr<const std::string> text, std::uint64_t lane, bool owed) = 0;
    void markClosing() { closingSince_ = Clock::now(); }

private:
    Role role_;
    std::string key_;
    std::string address_;
    Clock::time_point lastActivity_;
    Clock::time_point closingSince_{};
};

// Close codes of the service.
namespace CloseCode {
inline constexpr std::uint16_t normal = 1000;
inline constexpr std::uint16_t tooBig = 1009;
inline constexpr std::uint16_t replaced = 4000;
inline constexpr std::uint16_t nothingToReach = 4404;
inline constexpr std::uint16_t idle = 4408;
inline constexpr std::uint16_t busy = 4409;
inline constexpr std::uint16_t otherSideLeft = 4410;
inline constexpr std::uint16_t rateLimited = 4429;
} // namespace CloseCode

} // namespace wl::service
