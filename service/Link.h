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
    void send(std::shared_ptr<const std::string> text) { queue(std::move(text), 0, Kind::forwarded); }
    // The same for a frame a host link carries on behalf of one of its connectors (lane: its
    // channel, above 0). The link writes its lanes in turn, one frame each, so that no
    // connector's frames wait behind more than one frame of each other's; withdraw() takes a
    // lane's frames back.
    void sendFor(std::uint64_t lane, std::shared_ptr<const std::string> text)
    {
        queue(std::move(text), lane, Kind::forwarded);
    }
    // What the service tells a host when a connector binds (its `iceServers`): the first frame
    // of that connector's lane. Never refused for the send budget, only by the link's own limit.
    void begin(std::uint64_t lane, std::shared_ptr<const std::string> text)
    {
        queue(std::move(text), lane, Kind::opening);
    }
    // What the service itself tells a host (that a connector left): on a lane of its own, 0, so
    // that a host's link has at most one lane for each bound connector and this one. Never
    // refused for the send budget, only by the link's own limit.
    void tell(std::shared_ptr<const std::string> text) { queue(std::move(text), 0, Kind::owed); }
    // Drops the frames of that lane still waiting (not one already on the wire): a connector
    // that is gone leaves nothing behind in its host's queue. True when the peer was told the
    // lane began: its first frame has left the queue (false when it goes with the rest).
    virtual bool withdraw(std::uint64_t lane) = 0;
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
    // forwarded: takes from the send budget, or drops the link when it is spent. owed: the
    // service's own word, which takes from the budget even when it is spent; opening: the same,
    // and the first frame of its lane.
    enum class Kind { forwarded, owed, opening };
    virtual void queue(std::shared_ptr<const std::string> text, std::uint64_t lane, Kind kind) = 0;
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
