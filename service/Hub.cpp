#include "Hub.h"

#include "platform/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <vector>

namespace wl::service {

namespace {

void log(const std::string& text)
{
    wl::Log::line("wickerlane-introduction: " + text);
}

std::int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A signalling frame as JSON: an object with a string `kind`; null for binary, non-JSON or
// kind-less frames.
nlohmann::json signalFrame(std::string_view data, bool binary)
{
    if (binary)
        return nullptr;
    auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!json.is_object())
        return nullptr;
    auto kind = json.find("kind");
    if (kind == json.end() || !kind->is_string())
        return nullptr;
    return json;
}

// The `kind` of a signalling frame; empty for binary, non-JSON or kind-less frames.
std::string signalKind(std::string_view data, bool binary)
{
    auto json = signalFrame(data, binary);
    return json.is_null() ? std::string() : json["kind"].get<std::string>();
}

bool droppedOnConnectPath(const std::string& kind)
{
    return kind == "iceServers" || kind == "pairRequest" || kind == "pairInfo";
}

std::shared_ptr<const std::string> shared(std::string_view data)
{
    return std::make_shared<const std::string>(data);
}

// A frame for the host, tagged with the channel of the connector it concerns (a tag the
// connector may have put there itself is overwritten).
std::string tagged(nlohmann::json frame, std::uint64_t channel)
{
    frame["channel"] = channel;
    return frame.dump();
}

std::shared_ptr<const std::string> helperLeft(std::uint64_t channel)
{
    return shared(tagged({{"kind", "bye"}, {"reason", "helperLeft"}}, channel));
}

// A frame on its way to a host for one of its connectors: its bytes count as waiting for
// that connector until the host's link has written or dropped it.
class CountedFrame {
public:
    CountedFrame(std::string text, std::shared_ptr<Hub::Waiting> waiting)
        : text(std::move(text)), waiting_(std::move(waiting))
    {
        waiting_->bytes += this->text.size();
    }
    ~CountedFrame() { waiting_->bytes -= text.size(); }
    CountedFrame(const CountedFrame&) = delete;
    CountedFrame& operator=(const CountedFrame&) = delete;

    const std::string text;

private:
    std::shared_ptr<Hub::Waiting> waiting_;
};

std::shared_ptr<const std::string> counted(std::string text, const std::shared_ptr<Hub::Waiting>& waiting)
{
    auto frame = std::make_shared<const CountedFrame>(std::move(text), waiting);
    return std::shared_ptr<const std::string>(frame, &frame->text);
}

const char* standingName(Hub::Standing standing)
{
    switch (standing) {
    case Hub::Standing::bound: return "bound";
    case Hub::Standing::challenged: return "challenged";
    case Hub::Standing::proven: return "proven";
    case Hub::Standing::accepted: return "accepted";
    }
    return "bound";
}

const char* const kBusyFrame = R"({"kind":"declined","reason":"busy"})";
const char* const kCrowdedFrame = R"({"kind":"declined","reason":"crowded"})";

} // namespace

std::string idPrefix(const std::string& id)
{
    return id.substr(0, 8);
}

Hub::Hub(const ServiceConfig& config, MailStore& store, const RelayServers& relays, SendBudget& budget)
    : config_(config), store_(store), relays_(relays), budget_(budget)
{
}

void Hub::attach(const std::shared_ptr<Link>& link)
{
    links_[link.get()] = link;
    switch (link->role()) {
    case Link::Role::host: attachHost(link); break;
    case Link::Role::connector: attachConnector(link); break;
    case Link::Role::pairHost: attachPairHost(link); break;
    case Link::Role::pairJoin: attachPairJoin(link); break;
    case Link::Role::mailbox: attachMailbox(link); break;
    }
}

void Hub::attachHost(const std::shared_ptr<Link>& link)
{
    auto& entry = hosts_[link->key()];
    if (entry.host) {
        log("host " + idPrefix(link->key()) + " replaced by a newer link");
        entry.host->closeNow(CloseCode::replaced);
        closeConnectors(entry, CloseCode::otherSideLeft);
    }
    entry.host = link;
    log("host " + idPrefix(link->key()) + " online");
}

void Hub::attachConnector(const std::shared_ptr<Link>& link)
{
    auto it = hosts_.find(link->key());
    // A host link the service is closing (idle, dead peer) no longer counts.
    if (it == hosts_.end() || !it->second.host || it->second.host->closing()) {
        log("connect to " + idPrefix(link->key()) + ": host not online");
        link->close(CloseCode::nothingToReach);
        return;
    }
    auto& entry = it->second;
    // One list for both sides: the TURN username names the host on both.
    const auto ice = relays_.iceServersFrame(link->key(), unixNow());
    if (!budget_.hasRoom(2 * SendBudget::costOf(ice.size()) + 64)) {
        log("connect to " + idPrefix(link->key()) + " refused: the send budget is spent");
        link->close(CloseCode::rateLimited);
        return;
    }
    if (entry.connectors.size() >= maxConnectorsPerHost) {
        // Room comes from the lowest standing present below proven, the oldest of it first: so
        // links that never say hello with a paired key can't push out a helper who did, and
        // nobody pushes out one who proved who it is. When all have, the newcomer is refused.
        auto room = entry.connectors.end();
        for (auto bound = entry.connectors.begin(); bound != entry.connectors.end(); ++bound) {
            if (bound->second.standing < Standing::proven &&
                (room == entry.connectors.end() || bound->second.standing < room->second.standing))
                room = bound;
        }
        if (room == entry.connectors.end()) {
            log("connect to " + idPrefix(link->key()) + ": busy");
            link->send(shared(kBusyFrame));
            link->close(CloseCode::busy);
            return;
        }
        log("connect to " + idPrefix(link->key()) + ": too many connectors, sent away the oldest " +
            standingName(room->second.standing) + " one");
        sendAway(entry, room, kCrowdedFrame, CloseCode::busy);
    }
    const auto channel = nextChannel_++;
    auto& connector = entry.connectors[channel];
    connector.link = link;
    connector.frames = static_cast<double>(config_.connectorBurstFrames);
    connector.refilled = Clock::now();
    channels_[link.get()] = channel;
    entry.host->begin(channel, counted(tagged(nlohmann::json::parse(ice), channel), connector.waiting));
    link->send(shared(ice));
    log("helper bound to host " + idPrefix(link->key()) + " on channel " + std::to_string(channel));
}

Hub::Unbound Hub::unbind(HostEntry& entry, std::map<std::uint64_t, Connector>::iterator bound)
{
    const auto channel = bound->first;
    auto link = std::move(bound->second.link);
    entry.connectors.erase(bound);
    channels_.erase(link.get());
    const bool told = entry.host->withdraw(channel);
    return {std::move(link), told};
}

void Hub::left(HostEntry& entry, std::uint64_t channel, const Unbound& unbound)
{
    if (unbound.told)
        entry.host->tell(helperLeft(channel));
}

void Hub::sendAway(HostEntry& entry, std::map<std::uint64_t, Connector>::iterator bound, const char* text,
                   std::uint16_t code)
{
    const auto channel = bound->first;
    const auto unbound = unbind(entry, bound);
    left(entry, channel, unbound);
    const auto& link = unbound.link;
    if (text)
        link->send(shared(text));
    link->close(code);
}

bool Hub::takeFrame(Connector& connector, Clock::time_point now) const
{
    const auto elapsed = std::chrono::duration<double>(now - connector.refilled).count();
    connector.frames = std::min(static_cast<double>(config_.connectorBurstFrames),
                                connector.frames + elapsed * static_cast<double>(config_.connectorFramesPerSecond));
    connector.refilled = now;
    if (connector.frames < 1)
        return false;
    connector.frames -= 1;
    return true;
}

void Hub::closeConnectors(HostEntry& entry, std::uint16_t code)
{
    for (auto& [channel, connector] : entry.connectors) {
        channels_.erase(connector.link.get());
        connector.link->close(code);
    }
    entry.connectors.clear();
}

void Hub::attachPairHost(const std::shared_ptr<Link>& link)
{
    const auto& code = link->key();
    if (usedCodes_.count(code)) {
        log("pairing host refused: code already used");
        link->close(CloseCode::nothingToReach);
        return;
    }
    auto it = pairings_.find(code);
    if (it != pairings_.end()) {
        log("pairing host refused: another host waits with that code");
        link->close(CloseCode::busy);
        return;
    }
    pairings_[code] = Pairing{link, nullptr, Clock::now() + config_.pairingExpiry};
    log("pairing host waiting");
}

void Hub::attachPairJoin(const std::shared_ptr<Link>& link)
{
    auto it = pairings_.find(link->key());
    if (it == pairings_.end() || it->second.joiner || it->second.host->closing()) {
        log("pairing join refused: no host waits with that code");
        link->close(CloseCode::nothingToReach);
        return;
    }
    it->second.joiner = link;
    usedCodes_[link->key()] = Clock::now();
    log("pairing joined");
}

void Hub::attachMailbox(const std::shared_ptr<Link>& link)
{
    auto& mailbox = mailboxes_[link->key()];
    if (mailbox.link) {
        // What the older link still had queued goes at once: it is sent again on this one.
        log("mailbox " + idPrefix(link->key()) + " replaced by a newer link");
        mailbox.link->closeNow(CloseCode::replaced);
    }
    mailbox = Mailbox{link, 0, false};
    log("mailbox " + idPrefix(link->key()) + " open, " + std::to_string(store_.mailboxCount(link->key())) + " waiting");
    pump(mailbox);
}

// Sends stored mail after the cursor while the link's queue is under the window and the
// send budget has room for mail; drained() and sweep() go on from there.
void Hub::pump(Mailbox& mailbox)
{
    const auto& link = mailbox.link;
    const auto notBefore = unixNow() - config_.mailMaxAge.count();
    while (!mailbox.caughtUp && !link->closing()) {
        if (link->queuedBytes() >= mailWindowBytes ||
            !budget_.hasRoom(std::min(config_.maxMailBodyBytes, mailWindowBytes), SendBudget::mailShare))
            return;
        auto page = store_.pending(link->key(), mailbox.cursor, notBefore, mailPageCount);
        for (auto& envelope : page) {
            if (link->queuedBytes() >= mailWindowBytes || !budget_.hasRoom(envelope.body.size(), SendBudget::mailShare))
                return;
            mailbox.cursor = envelope.seq;
            link->send(std::make_shared<const std::string>(std::move(envelope.body)));
            if (link->closing())
                return;
        }
        if (page.size() < mailPageCount)
            mailbox.caughtUp = true;
    }
}

void Hub::drained(const std::shared_ptr<Link>& link)
{
    if (link->role() != Link::Role::mailbox)
        return;
    auto it = mailboxes_.find(link->key());
    if (it != mailboxes_.end() && it->second.link == link)
        pump(it->second);
}

void Hub::frame(const std::shared_ptr<Link>& link, std::string_view data, bool binary)
{
    if (link->closing())
        return;
    switch (link->role()) {
    case Link::Role::host: hostFrame(link, data, binary); return;
    case Link::Role::connector: connectorFrame(link, data, binary); return;
    case Link::Role::pairHost:
    case Link::Role::pairJoin: {
        auto it = pairings_.find(link->key());
        if (it == pairings_.end())
            return;
        auto& pairing = it->second;
        bool fromHost = link->role() == Link::Role::pairHost;
        if ((fromHost ? pairing.host : pairing.joiner) != link)
            return;
        auto& other = fromHost ? pairing.joiner : pairing.host;
        if (!other || signalKind(data, binary).empty())
            return;
        other->send(shared(data));
        return;
    }
    case Link::Role::mailbox: mailboxFrame(link, data); return;
    }
}

// A host frame goes to the connector its `channel` names, without the tag; frames without a
// channel of a bound connector are dropped. The host's word on how far a connector got is
// noted on the way (`proven` is for the service alone).
void Hub::hostFrame(const std::shared_ptr<Link>& link, std::string_view data, bool binary)
{
    auto it = hosts_.find(link->key());
    if (it == hosts_.end() || it->second.host != link)
        return;
    auto frame = signalFrame(data, binary);
    if (frame.is_null())
        return;
    const auto kind = frame["kind"].get<std::string>();
    auto tag = frame.find("channel");
    if (droppedOnConnectPath(kind) || tag == frame.end() || !tag->is_number_unsigned())
        return;
    auto& connectors = it->second.connectors;
    auto bound = connectors.find(tag->get<std::uint64_t>());
    if (bound == connectors.end())
        return;
    auto& standing = bound->second.standing;
    if (kind == "proven") {
        standing = std::max(standing, Standing::proven);
        return;
    }
    if (kind == "challenge")
        standing = std::max(standing, Standing::challenged);
    if (kind == "accepted")
        standing = Standing::accepted;
    frame.erase(tag);
    auto connector = bound->second.link;
    connector->send(shared(frame.dump()));
    if (kind == "declined" || kind == "bye") {
        unbind(it->second, bound);
        connector->close(CloseCode::normal);
        log("host " + idPrefix(link->key()) + " ended a binding (" + kind + ")");
    }
}

// A connector's frame goes to its host tagged with its channel, within the connector's
// budgets: frames at once and a second, bytes waiting unwritten on the host's link. A
// connector past them is closed (4429); the host's link never pays for it.
void Hub::connectorFrame(const std::shared_ptr<Link>& link, std::string_view data, bool binary)
{
    auto channel = channels_.find(link.get());
    auto it = hosts_.find(link->key());
    if (channel == channels_.end() || it == hosts_.end())
        return;
    auto& entry = it->second;
    auto bound = entry.connectors.find(channel->second);
    if (bound == entry.connectors.end())
        return;
    const auto overBudget = [&](const char* what) {
        log("helper on channel " + std::to_string(bound->first) + " of host " + idPrefix(link->key()) +
            " closed: " + what);
        sendAway(entry, bound, nullptr, CloseCode::rateLimited);
    };
    if (!takeFrame(bound->second, Clock::now())) {
        overBudget("over its frame rate");
        return;
    }
    auto frame = signalFrame(data, binary);
    if (frame.is_null() || droppedOnConnectPath(frame["kind"].get<std::string>()))
        return;
    auto text = tagged(std::move(frame), bound->first);
    // The tag must not push a frame over what the host's link takes.
    if (text.size() > config_.maxFrameBytes)
        return;
    if (bound->second.waiting->bytes + text.size() > config_.connectorQueueBytes) {
        overBudget("over its share of the host's link");
        return;
    }
    if (!budget_.hasRoom(SendBudget::costOf(text.size()))) {
        overBudget("the send budget is spent");
        return;
    }
    entry.host->sendFor(bound->first, counted(std::move(text), bound->second.waiting));
}

void Hub::mailboxFrame(const std::shared_ptr<Link>& link, std::string_view data)
{
    auto it = mailboxes_.find(link->key());
    if (it == mailboxes_.end() || it->second.link != link)
        return;
    auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!json.is_object())
        return;
    auto ack = json.find("ack");
    if (ack == json.end() || !ack->is_string())
        return;
    store_.remove(link->key(), ack->get<std::string>());
}

void Hub::detach(const std::shared_ptr<Link>& link)
{
    if (!links_.erase(link.get()))
        return;
    const auto& key = link->key();
    switch (link->role()) {
    case Link::Role::host: {
        auto it = hosts_.find(key);
        if (it == hosts_.end() || it->second.host != link)
            return;
        closeConnectors(it->second, CloseCode::otherSideLeft);
        hosts_.erase(it);
        log("host " + idPrefix(key) + " offline");
        return;
    }
    case Link::Role::connector: {
        auto channel = channels_.find(link.get());
        if (channel == channels_.end())
            return;
        const auto number = channel->second;
        auto it = hosts_.find(key);
        if (it == hosts_.end() || !it->second.connectors.count(number)) {
            channels_.erase(channel);
            return;
        }
        left(it->second, number, unbind(it->second, it->second.connectors.find(number)));
        log("helper left host " + idPrefix(key) + " (channel " + std::to_string(number) + ")");
        return;
    }
    case Link::Role::pairHost:
    case Link::Role::pairJoin: {
        auto it = pairings_.find(key);
        if (it == pairings_.end())
            return;
        bool fromHost = link->role() == Link::Role::pairHost;
        if ((fromHost ? it->second.host : it->second.joiner) != link)
            return;
        auto other = fromHost ? it->second.joiner : it->second.host;
        pairings_.erase(it);
        if (other)
            other->close(CloseCode::otherSideLeft);
        log(fromHost ? "pairing host left" : "pairing joiner left");
        return;
    }
    case Link::Role::mailbox: {
        auto it = mailboxes_.find(key);
        if (it != mailboxes_.end() && it->second.link == link) {
            mailboxes_.erase(it);
            log("mailbox " + idPrefix(key) + " closed");
        }
        return;
    }
    }
}

bool Hub::isOnline(const std::string& hostId) const
{
    auto it = hosts_.find(hostId);
    return it != hosts_.end() && it->second.host != nullptr && !it->second.host->closing();
}

void Hub::mailArrived(const std::string& recipient)
{
    auto it = mailboxes_.find(recipient);
    if (it == mailboxes_.end())
        return;
    it->second.caughtUp = false;
    pump(it->second);
}

void Hub::dropExpiredMail()
{
    int dropped = store_.dropOlderThan(unixNow() - config_.mailMaxAge.count());
    if (dropped > 0)
        log("dropped " + std::to_string(dropped) + " envelope(s) older than the mail age limit");
}

void Hub::sweep(Clock::time_point now)
{
    std::size_t idle = 0;
    std::vector<std::shared_ptr<Link>> stuck;
    const auto closeLimit = std::min(config_.closeTimeout, config_.requestTimeout);
    for (auto& [raw, link] : links_) {
        if (link->closing()) {
            if (now - link->closingSince() > closeLimit)
                stuck.push_back(link);
        } else if (now - link->lastActivity() > config_.idleTimeout) {
            link->close(CloseCode::idle);
            ++idle;
        }
    }
    for (auto& link : stuck)
        link->abort();
    if (idle)
        log("closed " + std::to_string(idle) + " idle link(s)");
    for (auto it = pairings_.begin(); it != pairings_.end();) {
        if (!it->second.joiner && it->second.expiresAt <= now) {
            it->second.host->close(CloseCode::idle);
            usedCodes_[it->first] = now;
            it = pairings_.erase(it);
            log("pairing code expired");
        } else {
            ++it;
        }
    }
    for (auto& [key, mailbox] : mailboxes_) {
        if (!mailbox.caughtUp)
            pump(mailbox);
    }
    std::erase_if(usedCodes_, [&](const auto& entry) {
        return now - entry.second > std::max<Clock::duration>(config_.pairingExpiry, std::chrono::hours(1));
    });
}

} // namespace wl::service
