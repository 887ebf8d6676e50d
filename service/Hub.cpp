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
std::shared_ptr<const std::string> forHost(nlohmann::json frame, std::uint64_t channel)
{
    frame["channel"] = channel;
    return std::make_shared<const std::string>(frame.dump());
}

std::shared_ptr<const std::string> helperLeft(std::uint64_t channel)
{
    return forHost({{"kind", "bye"}, {"reason", "helperLeft"}}, channel);
}

const char* const kBusyFrame = R"({"kind":"declined","reason":"busy"})";

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
    if (entry.connectors.size() >= maxConnectorsPerHost) {
        // Make room by the oldest connector the host has not let in; when it let them all in
        // (it never does: it serves one helper at a time), the newcomer is the one refused.
        auto oldest = std::find_if(entry.connectors.begin(), entry.connectors.end(),
                                   [](const auto& bound) { return !bound.second.accepted; });
        if (oldest == entry.connectors.end()) {
            log("connect to " + idPrefix(link->key()) + ": busy");
            link->send(shared(kBusyFrame));
            link->close(CloseCode::busy);
            return;
        }
        auto [channel, dropped] = *oldest;
        entry.connectors.erase(oldest);
        channels_.erase(dropped.link.get());
        dropped.link->send(shared(kBusyFrame));
        dropped.link->close(CloseCode::busy);
        entry.host->send(helperLeft(channel));
        log("connect to " + idPrefix(link->key()) + ": too many connectors, dropped the oldest");
    }
    const auto channel = nextChannel_++;
    entry.connectors[channel] = Connector{link, false};
    channels_[link.get()] = channel;
    // One list for both sides: the TURN username names the host on both.
    const auto ice = relays_.iceServersFrame(link->key(), unixNow());
    entry.host->send(forHost(nlohmann::json::parse(ice), channel));
    link->send(shared(ice));
    log("helper bound to host " + idPrefix(link->key()) + " on channel " + std::to_string(channel));
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
// channel of a bound connector are dropped.
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
    frame.erase(tag);
    auto connector = bound->second.link;
    connector->send(shared(frame.dump()));
    if (kind == "accepted")
        bound->second.accepted = true;
    if (kind == "declined" || kind == "bye") {
        channels_.erase(connector.get());
        connectors.erase(bound);
        connector->close(CloseCode::normal);
        log("host " + idPrefix(link->key()) + " ended a binding (" + kind + ")");
    }
}

void Hub::connectorFrame(const std::shared_ptr<Link>& link, std::string_view data, bool binary)
{
    auto channel = channels_.find(link.get());
    auto it = hosts_.find(link->key());
    if (channel == channels_.end() || it == hosts_.end())
        return;
    auto frame = signalFrame(data, binary);
    if (frame.is_null() || droppedOnConnectPath(frame["kind"].get<std::string>()))
        return;
    auto tagged = forHost(std::move(frame), channel->second);
    // The tag must not push a frame over what the host's link takes.
    if (tagged->size() > config_.maxFrameBytes)
        return;
    it->second.host->send(tagged);
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
        channels_.erase(channel);
        auto it = hosts_.find(key);
        if (it == hosts_.end())
            return;
        it->second.connectors.erase(number);
        it->second.host->send(helperLeft(number));
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
