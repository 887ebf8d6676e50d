#pragma once
// The service's in-memory routing: presence of host links, connector bindings, pairing
// rendezvous and mailbox links. Everything runs on the one thread of the io_context.

#include "Link.h"
#include "MailStore.h"
#include "RelayServers.h"
#include "SendBudget.h"
#include "ServiceConfig.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace wl::service {

class Hub {
public:
    using Clock = Link::Clock;

    // Connectors bound to one host at once. A host serves one helper at a time but hears every
    // connector on its own channel, so strangers that never prove who they are cannot keep an
    // honest helper out. Past this many, a newcomer makes room by the oldest connector of the
    // lowest standing below proven; when all have proven who they are, the newcomer is refused.
    static constexpr std::size_t maxConnectorsPerHost = 32;

    // Stored mail goes out on a mailbox link in a window of about this many bytes: more as the
    // client reads.
    static constexpr std::size_t mailWindowBytes = 256 * 1024;
    static constexpr std::size_t mailPageCount = 8;

    Hub(const ServiceConfig& config, MailStore& store, const RelayServers& relays, SendBudget& budget);

    // A WebSocket was accepted for link->role() and link->key(). Rejections (4404, 4409)
    // close the link; it still ends through detach().
    void attach(const std::shared_ptr<Link>& link);
    // A complete frame arrived on an attached link.
    void frame(const std::shared_ptr<Link>& link, std::string_view data, bool binary);
    // The link's socket is done (closed, reset, failed).
    void detach(const std::shared_ptr<Link>& link);
    // A frame of an attached link was written: a mailbox link may take more stored mail.
    void drained(const std::shared_ptr<Link>& link);

    bool isOnline(const std::string& hostId) const;
    // A new envelope was stored for recipient: send it when its mailbox link is open.
    void mailArrived(const std::string& recipient);

    // Closes idle links (4408) and expired pairing codes (4408); drops links stuck in their
    // close handshake; forgets old used codes; goes on with mailbox streams that waited for
    // room in the send budget.
    void sweep(Clock::time_point now = Clock::now());

    // Drops stored envelopes older than the configured age.
    void dropExpiredMail();

    std::size_t linkCount() const { return links_.size(); }

    // How far the host has taken a connector, lowest first: nothing yet (or a refusal); a
    // `challenge` (it said hello with a paired helper's key); `proven` (its proof held) or
    // `accepted`. Only connectors below proven are ever sent away to make room.
    enum class Standing { bound, challenged, proven, accepted };

    // What a connector has waiting on its host's link, unwritten: the frames forwarded for it
    // give their bytes back as the host's link writes or drops them.
    struct Waiting {
        std::size_t bytes = 0;
    };

private:
    struct Connector {
        std::shared_ptr<Link> link;
        Standing standing = Standing::bound;
        std::shared_ptr<Waiting> waiting = std::make_shared<Waiting>();
        double frames = 0; // frames it may still send at once (refilled at the configured rate)
        Clock::time_point refilled;
    };
    struct HostEntry {
        std::shared_ptr<Link> host;
        // By channel number, oldest first (numbers only grow).
        std::map<std::uint64_t, Connector> connectors;
    };
    struct Mailbox {
        std::shared_ptr<Link> link;
        std::int64_t cursor = 0; // sequence number of the last envelope sent on this link
        bool caughtUp = false; // everything stored was sent (until new mail arrives)
    };
    struct Pairing {
        std::shared_ptr<Link> host;
        std::shared_ptr<Link> joiner;
        Clock::time_point expiresAt;
    };

    void attachHost(const std::shared_ptr<Link>& link);
    void attachConnector(const std::shared_ptr<Link>& link);
    void attachPairHost(const std::shared_ptr<Link>& link);
    void attachPairJoin(const std::shared_ptr<Link>& link);
    void attachMailbox(const std::shared_ptr<Link>& link);
    void mailboxFrame(const std::shared_ptr<Link>& link, std::string_view data);
    void pump(Mailbox& mailbox);
    void hostFrame(const std::shared_ptr<Link>& link, std::string_view data, bool binary);
    void connectorFrame(const std::shared_ptr<Link>& link, std::string_view data, bool binary);
    void closeConnectors(HostEntry& entry, std::uint16_t code);
    // Unbinds a connector, however it goes: what it left waiting unwritten on the host's link
    // goes with it, so that the host's link holds only the shares of connectors still bound.
    // A connector whose `iceServers` never left the host's queue takes it along: the host was
    // never told of it.
    struct Unbound {
        std::shared_ptr<Link> link;
        bool told = false; // the host was told the channel began
    };
    Unbound unbind(HostEntry& entry, std::map<std::uint64_t, Connector>::iterator bound);
    // The host hears `bye` on the channel of a connector that left, if it was told of it: what
    // the service queues for a host stays bounded by what the host has read, whatever the churn.
    void left(HostEntry& entry, std::uint64_t channel, const Unbound& unbound);
    // Unbinds the connector on channel, the host hears `bye` on that channel (see left()), and
    // the connector is sent away with text (when given) and code.
    void sendAway(HostEntry& entry, std::map<std::uint64_t, Connector>::iterator bound, const char* text,
                  std::uint16_t code);
    bool takeFrame(Connector& connector, Clock::time_point now) const;

    const ServiceConfig& config_;
    MailStore& store_;
    const RelayServers& relays_;
    SendBudget& budget_;

    std::unordered_map<Link*, std::shared_ptr<Link>> links_;
    std::unordered_map<std::string, HostEntry> hosts_;
    std::unordered_map<Link*, std::uint64_t> channels_; // a bound connector's channel
    std::uint64_t nextChannel_ = 1;
    std::unordered_map<std::string, Pairing> pairings_;
    std::unordered_map<std::string, Clock::time_point> usedCodes_;
    std::unordered_map<std::string, Mailbox> mailboxes_;
};

// "abcdef01" of a device id, for log lines.
std::string idPrefix(const std::string& id);

} // namespace wl::service
