// Presence through the host's relay link, and the connect path's binding and forwarding.

#include "BindAndLeave.h"
#include "RawSocket.h"
#include "ServiceTestKit.h"

#include "identity/Base64.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <deque>
#include <iostream>
#include <set>
#include <thread>

namespace wl::test {
namespace {

// coturn's use-auth-secret: base64(HMAC-SHA1(secret, username)).
std::string coturnCredential(const std::string& secret, const std::string& username)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(username.data()), username.size(), digest, &length);
    return base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
}

class PresenceConnect : public ServiceTest {
protected:
    void SetUp() override { startService(); }

    // Host link open and waiting; returns false on failure.
    bool openHost(WsTestClient& client, const TestDevice& device) { return client.open(port(), device.hostTarget()); }
    // Binds a connector to host and swallows the iceServers frames on both sides; returns
    // the connector's channel through *channel.
    void bind(WsTestClient& host, WsTestClient& connector, const TestDevice& device, std::uint64_t* channel = nullptr)
    {
        ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
        auto ice = host.receive();
        ASSERT_EQ(kindOf(ice), "iceServers");
        ASSERT_NE(channelOf(ice), 0u);
        if (channel)
            *channel = channelOf(ice);
        ASSERT_EQ(kindOf(connector.receive()), "iceServers");
    }
};

TEST_F(PresenceConnect, PresenceFollowsTheRelayLink)
{
    TestDevice device;
    EXPECT_FALSE(online(device.id));
    WsTestClient first;
    ASSERT_TRUE(openHost(first, device));
    EXPECT_TRUE(waitOnline(device.id, true));

    // A newer link replaces the older one (4000) and keeps the host online.
    WsTestClient second;
    ASSERT_TRUE(openHost(second, device));
    EXPECT_EQ(first.waitClosed(), 4000);
    EXPECT_TRUE(online(device.id));
    EXPECT_FALSE(second.isClosed());

    second.close();
    EXPECT_TRUE(waitOnline(device.id, false));

    // A link that vanishes without a close handshake takes presence with it too.
    WsTestClient third;
    ASSERT_TRUE(openHost(third, device));
    EXPECT_TRUE(waitOnline(device.id, true));
    third.drop();
    EXPECT_TRUE(waitOnline(device.id, false));
}

TEST_F(PresenceConnect, SignedQueryFailuresAre401)
{
    TestDevice device, other;
    int status = 0;
    WsTestClient good;
    EXPECT_TRUE(good.open(port(), device.hostTarget(), &status));
    EXPECT_EQ(status, 101);
    good.close();

    auto refused = [&](const std::string& target) {
        WsTestClient client;
        int code = 0;
        bool opened = client.open(port(), target, &code);
        return !opened && code == 401;
    };
    // Another device's key for this id: the id is not the key's fingerprint.
    EXPECT_TRUE(refused("/v1/host/" + device.id + other.query(kPurposeHost)));
    // Stale and future time stamps.
    EXPECT_TRUE(refused("/v1/host/" + device.id + device.query(kPurposeHost, unixNow() - 301)));
    EXPECT_TRUE(refused("/v1/host/" + device.id + device.query(kPurposeHost, unixNow() + 400)));
    // A signature for another purpose does not hold.
    EXPECT_TRUE(refused("/v1/host/" + device.id + device.query(kPurposeMailbox)));
    // A tampered signature.
    auto items = signedQueryItems(kPurposeHost, device.key, unixNow());
    std::string badSig = "?pub=" + percentEncode(items[0].second) + "&ts=" + items[1].second +
        "&sig=" + percentEncode(other.key.sign("wickerlane-host|" + device.id + "|" + items[1].second));
    EXPECT_TRUE(refused("/v1/host/" + device.id + badSig));
    // Missing and repeated items; '+' is not a space.
    EXPECT_TRUE(refused("/v1/host/" + device.id));
    EXPECT_TRUE(refused("/v1/host/" + device.id + device.query(kPurposeHost) + "&ts=" + items[1].second));
    std::string plusQuery = "?pub=" + items[0].second + "&ts=" + items[1].second + "&sig=" + items[2].second;
    bool hasPlus = plusQuery.find('+') != std::string::npos;
    if (hasPlus) {
        // Unencoded base64 with '+' works because '+' is kept as it is.
        WsTestClient client;
        EXPECT_TRUE(client.open(port(), "/v1/host/" + device.id + plusQuery));
    }
    // The mailbox link checks its own purpose.
    EXPECT_TRUE(refused("/v1/mail/" + device.id + device.query(kPurposeHost)));
    EXPECT_FALSE(online(device.id));
}

TEST_F(PresenceConnect, ConnectWithoutHostClosesAtOnce)
{
    TestDevice device;
    WsTestClient connector;
    ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
    EXPECT_EQ(connector.waitClosed(), 4404);
    EXPECT_FALSE(connector.receive(std::chrono::milliseconds(0)).has_value());
}

TEST_F(PresenceConnect, BindingSendsIceServersFirstAndForwardsOnTheConnectorsChannel)
{
    TestDevice device;
    WsTestClient host, connector;
    ASSERT_TRUE(openHost(host, device));
    // Host frames with nobody bound are dropped.
    host.send(onChannel(signal("offer", "\"sdp\":\"too early\""), 1));

    ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
    // The connector's first frame goes out right away; the host must see iceServers before it.
    // A channel the connector names itself is overwritten with its own.
    connector.send(R"({ "kind" : "hello",  "name":"Ann", "extra": [1,2,3], "channel": 999 })");
    auto hostFirst = host.receive();
    EXPECT_EQ(kindOf(hostFirst), "iceServers");
    const auto channel = channelOf(hostFirst);
    ASSERT_NE(channel, 0u);
    auto hello = host.receive();
    EXPECT_EQ(channelOf(hello), channel);
    EXPECT_EQ(untagged(hello), frameJson(R"({"kind":"hello","name":"Ann","extra":[1,2,3]})"));

    // Host frames need the channel: untagged or another channel's are dropped, the tag is
    // taken off on the way.
    host.send(signal("challenge", "\"nonce\":\"untagged\""));
    host.send(onChannel(signal("challenge", "\"nonce\":\"elsewhere\""), channel + 1));
    host.send(onChannel(signal("challenge", "\"nonce\":\"abc\""), channel));
    auto connectorFirst = connector.receive();
    EXPECT_EQ(kindOf(connectorFirst), "iceServers");
    EXPECT_EQ(frameJson(*connectorFirst), untagged(hostFirst)); // same servers and credentials on both sides
    EXPECT_EQ(connector.receive(), signal("challenge", "\"nonce\":\"abc\""));

    auto ice = nlohmann::json::parse(*hostFirst);
    ASSERT_TRUE(ice.contains("iceServers"));
    EXPECT_TRUE(ice["iceServers"].is_array());
    EXPECT_TRUE(ice["iceServers"].empty()); // nothing configured

    // iceServers, pairRequest, pairInfo, binary, non-JSON and kind-less frames are dropped both ways.
    for (auto* sender : {&connector, &host}) {
        auto tag = [&](const std::string& frame) { return sender == &host ? onChannel(frame, channel) : frame; };
        sender->send(tag(signal("iceServers", "\"iceServers\":[{\"urls\":[\"turn:evil.example\"]}]")));
        sender->send(tag(signal("pairRequest")));
        sender->send(tag(signal("pairInfo")));
        sender->sendBinary(tag("{\"kind\":\"offer\"}"));
        sender->send("not json");
        sender->send(tag("{\"sdp\":\"no kind\"}"));
        sender->send("[1,2]");
        sender->send(tag(signal("candidate", "\"sdpMid\":\"0\"")));
    }
    EXPECT_EQ(untagged(host.receive()), frameJson(signal("candidate", "\"sdpMid\":\"0\"")));
    EXPECT_EQ(connector.receive(), signal("candidate", "\"sdpMid\":\"0\""));
    EXPECT_TRUE(host.quietFor(std::chrono::milliseconds(50)));
    EXPECT_TRUE(connector.quietFor(std::chrono::milliseconds(0)));
}

// Connectors that never prove who they are must not keep an honest helper away: each binds on
// a channel of its own, and only past the limit does one go, the oldest of the lowest standing
// below proven (bound, then challenged); a helper the host says has proven who it is, or let
// in, never goes.
TEST_F(PresenceConnect, RoomIsMadeFromTheLowestStandingAndNeverFromAProvenHelper)
{
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(openHost(host, device));
    std::vector<std::unique_ptr<WsTestClient>> connectors;
    std::vector<std::uint64_t> channels;
    auto tell = [&](const std::string& kind, std::size_t i) { host.send(onChannel(signal(kind), channels[i])); };
    // Sent away to make room: "crowded", 4409, and the host hears that it left.
    auto expectSentAway = [&](std::size_t i) {
        EXPECT_EQ(frameJson(connectors[i]->receive().value_or("{}")),
                  nlohmann::json({{"kind", "declined"}, {"reason", "crowded"}}))
            << i;
        EXPECT_EQ(connectors[i]->waitClosed(), 4409) << i;
        auto left = host.receive();
        EXPECT_EQ(untagged(left), nlohmann::json({{"kind", "bye"}, {"reason", "helperLeft"}})) << i;
        EXPECT_EQ(channelOf(left), channels[i]) << i;
    };
    // Binds one more, which first sends away the one given.
    auto newcomer = [&](std::optional<std::size_t> makesRoom = std::nullopt) {
        connectors.push_back(std::make_unique<WsTestClient>());
        channels.push_back(0);
        ASSERT_TRUE(connectors.back()->open(port(), "/v1/connect/" + device.id));
        if (makesRoom)
            expectSentAway(*makesRoom);
        auto ice = host.receive();
        ASSERT_EQ(kindOf(ice), "iceServers");
        channels.back() = channelOf(ice);
        ASSERT_EQ(kindOf(connectors.back()->receive()), "iceServers");
    };
    for (std::size_t i = 0; i < 32; ++i)
        ASSERT_NO_FATAL_FAILURE(newcomer());
    std::set<std::uint64_t> distinct(channels.begin(), channels.end());
    EXPECT_EQ(distinct.size(), channels.size());

    // Each one's frames reach the host under its channel, and only it hears the answers.
    connectors[5]->send(signal("hello", "\"name\":\"five\""));
    EXPECT_EQ(channelOf(host.receive()), channels[5]);
    tell("accepted", 0);
    EXPECT_EQ(connectors[0]->receive(), signal("accepted"));
    // `proven` is the service's alone: the helper hears nothing of it.
    tell("proven", 1);
    tell("challenge", 2);
    tell("challenge", 3);
    EXPECT_EQ(connectors[2]->receive(), signal("challenge"));
    EXPECT_EQ(connectors[3]->receive(), signal("challenge"));
    EXPECT_TRUE(connectors[1]->quietFor(std::chrono::milliseconds(50)));

    // The 33rd sends away the oldest connector still only bound (the fifth), not the
    // challenged ones before it.
    ASSERT_NO_FATAL_FAILURE(newcomer(4));
    connectors[32]->send(signal("hello"));
    EXPECT_EQ(channelOf(host.receive()), channels[32]);

    // With everyone challenged, the oldest challenged one goes; then a newcomer that is only
    // bound goes before any challenged one, however new it is.
    for (std::size_t i = 5; i <= 32; ++i)
        tell("challenge", i);
    for (std::size_t i = 5; i <= 32; ++i)
        EXPECT_EQ(connectors[i]->receive(), signal("challenge")) << i;
    ASSERT_NO_FATAL_FAILURE(newcomer(2)); // the 34th
    ASSERT_NO_FATAL_FAILURE(newcomer(33)); // the 35th

    // Once all are proven or let in, nobody is sent away: the newcomer is refused "busy".
    for (std::size_t i : {std::size_t(3), std::size_t(34)})
        tell("proven", i);
    for (std::size_t i = 5; i <= 32; ++i)
        tell("proven", i);
    tell("candidate", 34); // past the host's word on all of them
    EXPECT_EQ(connectors[34]->receive(), signal("candidate"));
    WsTestClient refused;
    ASSERT_TRUE(refused.open(port(), "/v1/connect/" + device.id));
    EXPECT_EQ(frameJson(refused.receive().value_or("{}")), nlohmann::json({{"kind", "declined"}, {"reason", "busy"}}));
    EXPECT_EQ(refused.waitClosed(), 4409);
    EXPECT_TRUE(host.quietFor(std::chrono::milliseconds(50)));
    // The proven and accepted ones are all still there and heard.
    for (std::size_t i : {std::size_t(0), std::size_t(1), std::size_t(3), std::size_t(5), std::size_t(34)}) {
        EXPECT_FALSE(connectors[i]->isClosed()) << i;
        connectors[i]->send(signal("offer"));
        auto offer = host.receive();
        EXPECT_EQ(untagged(offer), frameJson(signal("offer"))) << i;
        EXPECT_EQ(channelOf(offer), channels[i]) << i;
    }
    tell("accepted", 1);
    EXPECT_EQ(connectors[1]->receive(), signal("accepted"));
}

// What a connector sends toward its host is budgeted per connector: frames at once (and a
// second), bytes waiting unwritten on the host's link. A connector past either is closed
// (4429) and the host hears it left; the host's link stays, however many connectors push at a
// host that is not reading.
TEST_F(PresenceConnect, AConnectorPastItsBudgetIsClosedAndTheHostStaysOnline)
{
    TestDevice device;
    WsTestClient host;
    // A small receive window: while the test does not poll it, the host does not read.
    ASSERT_TRUE(host.open(port(), device.hostTarget(), nullptr, {.receiveBuffer = 4096}));
    const auto byeOn = [](std::uint64_t channel) {
        return onChannel(signal("bye", "\"reason\":\"helperLeft\""), channel);
    };

    // 200 frames at once: the first 64 (and what the rate gave back meanwhile) go through.
    std::uint64_t chattyChannel = 0;
    {
        WsTestClient chatty;
        ASSERT_NO_FATAL_FAILURE(bind(host, chatty, device, &chattyChannel));
        for (int i = 0; i < 200 && !chatty.isClosed(); ++i)
            chatty.send(signal("candidate", "\"n\":" + std::to_string(i)));
        EXPECT_EQ(chatty.waitClosed(), 4429);
        int candidates = 0;
        auto frame = host.receive();
        for (; kindOf(frame) == "candidate"; frame = host.receive())
            EXPECT_EQ(untagged(frame)["n"], candidates++);
        EXPECT_EQ(frameJson(frame.value_or("")), frameJson(byeOn(chattyChannel)));
        EXPECT_GE(candidates, 64);
        EXPECT_LT(candidates, 80);
    }

    // One connector's 3 MB burst at the host, which does not read meanwhile; then 32 more
    // from 32 addresses, 600 KB each.
    const std::string filler = signal("candidate", "\"pad\":\"" + std::string(60000, 'x') + "\"");
    std::vector<std::unique_ptr<WsTestClient>> pushers;
    for (int i = 0; i < 33; ++i) {
        const std::string source = "127.0.1." + std::to_string(i + 1);
        pushers.push_back(std::make_unique<WsTestClient>());
        auto& pusher = *pushers.back();
        ASSERT_TRUE(pusher.open(port(), "/v1/connect/" + device.id, nullptr, {.source = source.c_str()}));
        ASSERT_EQ(kindOf(pusher.receive()), "iceServers");
        for (int frame = 0; frame < (i == 0 ? 50 : 10) && !pusher.isClosed(); ++frame)
            pusher.send(filler);
        // The host's link would have passed its limit long before.
        if (i == 0) {
            EXPECT_EQ(pusher.waitClosed(), 4429);
        }
    }
    EXPECT_TRUE(online(device.id));

    // The host reads again: its link stood throughout, and it hears of every one it was told
    // of leave, and of no other (what one had still waiting, its `iceServers` too, never
    // reaches it).
    std::set<std::uint64_t> told = {chattyChannel}, left;
    for (auto frame = host.receive(); frame; frame = host.receive(std::chrono::milliseconds(500))) {
        if (kindOf(frame) == "iceServers")
            told.insert(channelOf(frame));
        if (kindOf(frame) == "bye") {
            EXPECT_TRUE(told.count(channelOf(frame))) << "bye on a channel the host was never told of";
            left.insert(channelOf(frame));
        }
    }
    told.erase(chattyChannel);
    EXPECT_FALSE(host.isClosed());
    // Every pusher was closed over its budget, or was told of and never left: one whose
    // frames the host read as they came stays. (The last ones may reach the service only
    // after the host reads again.) Their closes come by now, or soon.
    auto closedOverBudget = [&] {
        std::size_t count = 0;
        for (auto& pusher : pushers)
            count += pusher->waitClosed(std::chrono::milliseconds(10)) == 4429;
        return count;
    };
    const std::size_t staying = told.size() - left.size();
    ASSERT_LE(staying, pushers.size());
    std::size_t closed = closedOverBudget();
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         closed < pushers.size() - staying && std::chrono::steady_clock::now() < deadline;)
        closed = closedOverBudget();
    EXPECT_EQ(closed, pushers.size() - staying);
    EXPECT_GT(closed, 1u);
    EXPECT_GE(left.size(), 1u);
    EXPECT_EQ(service->log().find("host link from"), std::string::npos) << "the host's link was dropped";
    // And a helper is served as before.
    WsTestClient helper;
    std::uint64_t channel = 0;
    ASSERT_NO_FATAL_FAILURE(bind(host, helper, device, &channel));
    helper.send(signal("hello"));
    EXPECT_EQ(host.receive(), onChannel(signal("hello"), channel));
    host.send(onChannel(signal("challenge"), channel));
    EXPECT_EQ(helper.receive(), signal("challenge"));
}

TEST_F(PresenceConnect, ConnectorLeavingSendsHelperLeftOnItsChannel)
{
    TestDevice device;
    WsTestClient host, connector, other;
    ASSERT_TRUE(openHost(host, device));
    std::uint64_t channel = 0, otherChannel = 0;
    bind(host, connector, device, &channel);
    bind(host, other, device, &otherChannel);
    connector.close();
    auto bye = host.receive();
    EXPECT_EQ(untagged(bye), nlohmann::json({{"kind", "bye"}, {"reason", "helperLeft"}}));
    EXPECT_EQ(channelOf(bye), channel);

    // Also after one that vanished without a close; the other binding stays.
    other.drop();
    bye = host.receive();
    EXPECT_EQ(kindOf(bye), "bye");
    EXPECT_EQ(channelOf(bye), otherChannel);
    WsTestClient third;
    bind(host, third, device);
}

TEST_F(PresenceConnect, HostClosingOrReplacedClosesTheConnector)
{
    TestDevice device;
    {
        WsTestClient host, connector, second;
        ASSERT_TRUE(openHost(host, device));
        bind(host, connector, device);
        bind(host, second, device);
        host.close();
        EXPECT_EQ(connector.waitClosed(), 4410);
        EXPECT_EQ(second.waitClosed(), 4410);
    }
    {
        WsTestClient host, connector, newer;
        ASSERT_TRUE(openHost(host, device));
        bind(host, connector, device);
        ASSERT_TRUE(openHost(newer, device));
        EXPECT_EQ(host.waitClosed(), 4000);
        EXPECT_EQ(connector.waitClosed(), 4410);
        // The newer host link is free for a helper.
        WsTestClient again;
        bind(newer, again, device);
    }
}

TEST_F(PresenceConnect, HostDeclineOrByeEndsTheBinding)
{
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(openHost(host, device));
    for (const char* kind : {"declined", "bye"}) {
        WsTestClient connector;
        std::uint64_t channel = 0;
        bind(host, connector, device, &channel);
        auto frame = signal(kind, "\"reason\":\"stopped\"");
        host.send(onChannel(frame, channel));
        EXPECT_EQ(frameJson(connector.receive().value_or("{}")), frameJson(frame));
        EXPECT_EQ(connector.waitClosed(), 1000);
        // The host does not hear helperLeft for a helper it sent away.
        EXPECT_TRUE(host.quietFor(std::chrono::milliseconds(50)));
    }
}

// What a host's link carries for connectors that are gone, and for one connector ahead of
// another. Each test starts a service of its own with the flags it needs.
using HostLink = ServiceTest;

// A large signalling frame, tagged just under the largest frame the service takes.
std::string largeFrame(const std::string& kind)
{
    return signal(kind, "\"pad\":\"" + std::string(60000, 'x') + "\"");
}

// Fills the socket of a host link that does not read: a helper sends to it until it is closed
// (4429) for its share of the host's link, which counts only what the socket did not take.
// What that host is sent from then on stays queued. The service needs a --connector-burst
// the filler can't reach.
void fillHostSocket(std::uint16_t port, const TestDevice& host)
{
    WsTestClient filler;
    ASSERT_TRUE(filler.open(port, "/v1/connect/" + host.id));
    ASSERT_EQ(kindOf(filler.receive()), "iceServers");
    const auto frame = largeFrame("filler");
    for (int i = 0; i < 1000 && !filler.isClosed(); ++i) {
        filler.send(frame);
        filler.poll();
    }
    ASSERT_EQ(filler.waitClosed(), 4429);
}

// When the send budget for all links runs out (here other hosts' links that never read hold
// it), the connector whose frame finds no room is closed (4429), never its host: what the
// service itself tells a reading host (`iceServers`, that a helper left) gets through however
// little is left, as its helpers are closed for the budget, sent away and close.
TEST_F(HostLink, ASpentSendBudgetClosesTheConnectorNotTheHost)
{
    startService({"--send-budget", "1048576", "--connector-burst", "1000"});
    // Another host that never reads, its socket full: frames its helpers send stay queued and
    // spend the budget byte by byte.
    TestDevice other;
    RawSocket otherHost(port(), RawSocket::Options{4096});
    ASSERT_TRUE(otherHost.upgrade(other.hostTarget()));
    ASSERT_NO_FATAL_FAILURE(fillHostSocket(port(), other));
    std::vector<std::unique_ptr<WsTestClient>> spenders;
    for (int i = 0; i < 12; ++i) {
        spenders.push_back(std::make_unique<WsTestClient>());
        ASSERT_TRUE(spenders.back()->open(port(), "/v1/connect/" + other.id));
        ASSERT_EQ(kindOf(spenders.back()->receive()), "iceServers");
    }

    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(host.open(port(), device.hostTarget()));
    std::deque<std::pair<std::unique_ptr<WsTestClient>, std::uint64_t>> helpers; // oldest first
    const auto bindHelper = [&] {
        auto helper = std::make_unique<WsTestClient>();
        ASSERT_TRUE(helper->open(port(), "/v1/connect/" + device.id));
        const auto ice = host.receive();
        ASSERT_EQ(kindOf(ice), "iceServers");
        ASSERT_EQ(kindOf(helper->receive()), "iceServers");
        helpers.emplace_back(std::move(helper), channelOf(ice));
    };
    for (int i = 0; i < 32; ++i)
        ASSERT_NO_FATAL_FAILURE(bindHelper());
    const auto expectLeft = [&](const std::optional<std::string>& frame, std::uint64_t channel) {
        EXPECT_EQ(untagged(frame), nlohmann::json({{"kind", "bye"}, {"reason", "helperLeft"}}));
        EXPECT_EQ(channelOf(frame), channel);
    };

    // Whether `size` bytes (tagged) are left: the oldest helper sends that much; the host gets it,
    // or the helper is closed (4429) and the host hears it left.
    const auto left = [&](std::size_t size) {
        auto& [helper, channel] = helpers.front();
        const auto base = onChannel(signal("probe", "\"pad\":\"\""), channel).size();
        helper->send(signal("probe", "\"pad\":\"" + std::string(size - base, 'p') + "\""));
        auto heard = host.receive();
        if (kindOf(heard) == "probe" || !heard)
            return heard.has_value();
        expectLeft(heard, channel);
        EXPECT_EQ(helper->waitClosed(), 4429);
        helpers.pop_front();
        return false;
    };
    // Queues at most `size` bytes (tagged) for good on the other host's link.
    std::size_t spender = 0, queued = 0;
    const auto spend = [&](std::size_t size) {
        if (queued + size > 120000) {
            ++spender;
            queued = 0;
        }
        ASSERT_LT(spender, spenders.size());
        auto& client = *spenders[spender];
        client.send(size < 40 ? signal("f") : signal("f", "\"p\":\"" + std::string(size - 33, 'f') + "\""));
        ASSERT_TRUE(client.roundTrip());
        queued += size;
    };
    // Spends the budget until less than `size` is left, `step` bytes at a time.
    const auto spendUntilBelow = [&](std::size_t size, std::size_t step) {
        for (int i = 0; i < 40 && left(size); ++i)
            ASSERT_NO_FATAL_FAILURE(spend(step));
        ASSERT_FALSE(host.isClosed()) << "the host's link was dropped with less than " << size << " bytes left";
    };
    // A frame costs the budget its text and some 110 bytes besides: each step below takes
    // less than its limit, so that the last one leaves 770 to 910 bytes.
    ASSERT_NO_FATAL_FAILURE(spendUntilBelow(60000, 30000));
    ASSERT_NO_FATAL_FAILURE(spendUntilBelow(6000, 3000));
    ASSERT_NO_FATAL_FAILURE(spendUntilBelow(1500, 300));
    ASSERT_NO_FATAL_FAILURE(spendUntilBelow(800, 20));

    // Enough for what a newcomer past 32 costs, who sends the oldest helper away.
    while (helpers.size() < 32)
        ASSERT_NO_FATAL_FAILURE(bindHelper());
    auto& [sentAway, sentAwayChannel] = helpers.front();
    WsTestClient newcomer;
    ASSERT_TRUE(newcomer.open(port(), "/v1/connect/" + device.id));
    EXPECT_EQ(frameJson(sentAway->receive().value_or("{}")),
              nlohmann::json({{"kind", "declined"}, {"reason", "crowded"}}));
    EXPECT_EQ(sentAway->waitClosed(), 4409);
    ASSERT_EQ(kindOf(newcomer.receive()), "iceServers");
    std::set<std::string> heard; // the two concern different helpers: in either order
    for (int i = 0; i < 2; ++i) {
        const auto frame = host.receive();
        heard.insert(kindOf(frame) + (channelOf(frame) == sentAwayChannel ? " of the one sent away" : ""));
    }
    EXPECT_EQ(heard, (std::set<std::string>{"bye of the one sent away", "iceServers"}));
    helpers.pop_front();

    // Less than the host's `bye` is left: its helpers go all the same, the host hears of each.
    ASSERT_NO_FATAL_FAILURE(spendUntilBelow(40, 26));
    for (int i = 0; i < 2; ++i) {
        helpers.front().first->close();
        expectLeft(host.receive(), helpers.front().second);
        helpers.pop_front();
    }
    WsTestClient late;
    ASSERT_TRUE(late.open(port(), "/v1/connect/" + device.id));
    EXPECT_EQ(late.waitClosed(), 4429) << "the budget was not spent";
    EXPECT_FALSE(host.isClosed());
    EXPECT_TRUE(online(device.id));
    EXPECT_EQ(service->log().find("host link from"), std::string::npos) << "the host's link was dropped";
}

// A connector the host declines takes back what it left unwritten on the host's link, as one
// that closes or is sent away does: a host that does not keep up stays online however many
// strangers it declines, each after two large frames.
TEST_F(HostLink, DeclinedStrangersTakeTheirFramesWithThem)
{
    startService({"--connector-burst", "1000"});
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(host.open(port(), device.hostTarget(), nullptr, {.receiveBuffer = 4096}));
    ASSERT_NO_FATAL_FAILURE(fillHostSocket(port(), device));
    // The host reads nothing more: it takes each stranger's channel from the service's log, as
    // its `iceServers` waits behind what the socket holds.
    const auto latestChannel = [&] {
        const auto log = service->log();
        const auto at = log.find(" on channel ", log.rfind("helper bound to host "));
        return at == std::string::npos ? std::uint64_t(0) : std::stoull(log.substr(at + 12));
    };
    const auto frame = largeFrame("candidate");
    for (int i = 0; i < 120; ++i) {
        WsTestClient stranger;
        ASSERT_TRUE(stranger.open(port(), "/v1/connect/" + device.id)) << i;
        ASSERT_EQ(kindOf(stranger.receive()), "iceServers") << i;
        stranger.send(frame);
        stranger.send(frame);
        ASSERT_TRUE(stranger.roundTrip()) << i; // both wait on the host's link
        host.send(onChannel(signal("declined", "\"reason\":\"busy\""), latestChannel()));
        EXPECT_EQ(kindOf(stranger.receive()), "declined") << i;
        EXPECT_EQ(stranger.waitClosed(), 1000) << i;
    }
    EXPECT_TRUE(online(device.id));
    EXPECT_EQ(service->log().find("host link from"), std::string::npos) << "the host's link was dropped";
}

// The host's link writes its connectors' frames in turn, one each: an honest helper's frame
// waits behind at most one frame of a stranger that queued 2 MB ahead of it.
TEST_F(HostLink, AnHonestHelpersFramePassesAStrangersBurst)
{
    // Room for 2 MB of one connector on the host's link.
    startService({"--connector-queue", "2621440", "--connector-burst", "1000"});
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(host.open(port(), device.hostTarget(), nullptr, {.receiveBuffer = 4096}));
    ASSERT_NO_FATAL_FAILURE(fillHostSocket(port(), device));
    WsTestClient stranger, helper;
    ASSERT_TRUE(stranger.open(port(), "/v1/connect/" + device.id));
    ASSERT_EQ(kindOf(stranger.receive()), "iceServers");
    ASSERT_TRUE(helper.open(port(), "/v1/connect/" + device.id));
    ASSERT_EQ(kindOf(helper.receive()), "iceServers");
    const auto burst = largeFrame("candidate");
    for (int i = 0; i < 34; ++i)
        stranger.send(burst);
    ASSERT_TRUE(stranger.roundTrip()); // all of it waits on the host's link
    helper.send(signal("hello"));

    // The host reads again: what its socket held, then the queued frames.
    int strangersBefore = 0;
    auto frame = host.receive();
    for (; frame && kindOf(frame) != "hello"; frame = host.receive())
        strangersBefore += kindOf(frame) == "candidate";
    ASSERT_EQ(kindOf(frame), "hello");
    EXPECT_LE(strangersBefore, 2);
}

// Strangers that bind and leave by the ten thousand while the host does not read leave
// nothing on its link: the host hears that a channel ended only when it heard that it began
// (a stranger whose `iceServers` never left the queue takes both with it), and then hears of
// every one. Its link holds a lane for each bound connector and one for the service's own
// frames, so an honest helper's frame queued after all of them waits behind what the two
// sockets hold and at most one frame of each other lane.
TEST_F(HostLink, DepartedStrangersLeaveNoLaneBehind)
{
    startService({"--idle-timeout", "600"});
    TestDevice device;
    WsTestClient host, helper;
    ASSERT_TRUE(host.open(port(), device.hostTarget(), nullptr, {.receiveBuffer = 4096}));
    ASSERT_TRUE(helper.open(port(), "/v1/connect/" + device.id));
    ASSERT_EQ(kindOf(helper.receive()), "iceServers");
    const auto channel = channelOf(host.receive());
    host.send(onChannel(signal("proven"), channel)); // never sent away to make room
    ASSERT_TRUE(host.roundTrip());

    // The host reads nothing meanwhile.
    constexpr std::size_t departures = 80000;
    BindAndLeave strangers(port(), "/v1/connect/" + device.id, {.sources = BindAndLeave::loopbackSources(8)});
    const auto churn = strangers.run(departures, std::chrono::minutes(10));
    std::cout << "strangers: " << churn.bound << " bound and left in " << churn.seconds << " s ("
              << churn.boundPerSecond() << " a second)\n";
    ASSERT_EQ(churn.bound, departures);
    helper.send(signal("offer"));
    ASSERT_TRUE(helper.roundTrip());

    // The host reads again.
    std::set<std::uint64_t> told, left;
    std::size_t bytesBeforeOffer = 0;
    bool offer = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    for (auto frame = host.receive(); frame && std::chrono::steady_clock::now() < deadline;
         frame = host.receive(std::chrono::seconds(2))) {
        const auto kind = kindOf(frame);
        offer = offer || kind == "offer";
        if (!offer)
            bytesBeforeOffer += frame->size();
        if (kind == "iceServers")
            told.insert(channelOf(frame));
        if (kind == "bye") {
            const auto [at, first] = left.insert(channelOf(frame));
            if (!told.count(*at) || !first)
                ADD_FAILURE() << "bye on channel " << *at << (first ? ", never told of" : " again");
            if (HasFailure())
                break;
        }
    }
    std::cout << "the host was told of " << told.size() << " strangers, heard " << left.size() << " leave, and read "
              << bytesBeforeOffer << " bytes before the helper's offer\n";
    EXPECT_TRUE(offer);
    // The service's socket holds at most 512 KiB, the host's 8 KiB.
    EXPECT_LT(bytesBeforeOffer, 600u * 1024) << "the helper's frame waited behind " << left.size() << " byes";
    EXPECT_EQ(left, told);
    EXPECT_FALSE(host.isClosed());
    EXPECT_EQ(service->log().find("host link from"), std::string::npos) << "the host's link was dropped";
}

// A host that reads 20 KB/s stays online through three minutes of strangers binding and
// leaving a thousand times a second, from 250 addresses within the default per-address limits;
// then an honest helper gets in.
TEST_F(HostLink, ASlowHostStaysOnlineThroughChurn)
{
    startService({"--connection-rate", "60", "--request-rate", "1200", "--connections-per-address", "256"});
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(host.open(port(), device.hostTarget(), nullptr, {.receiveBuffer = 4096}));
    BindAndLeave strangers(port(), "/v1/connect/" + device.id,
                           {.sources = BindAndLeave::loopbackSources(250), .underWay = 64, .perSecond = 1000});
    BindAndLeave::Result churn;
    std::atomic<bool> churning = true;
    std::thread churner([&] {
        churn = strangers.run(SIZE_MAX, std::chrono::minutes(3));
        churning = false;
    });
    const auto start = std::chrono::steady_clock::now();
    auto pinged = start;
    double read = 0;
    std::set<std::uint64_t> told;
    std::size_t neverTold = 0;
    while (churning && !host.isClosed()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - pinged > std::chrono::seconds(10)) { // not idle
            host.ping();
            pinged = now;
        }
        if (read > 20000 * std::chrono::duration<double>(now - start).count()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (auto frame = host.receive(std::chrono::milliseconds(100))) {
            read += static_cast<double>(frame->size());
            if (kindOf(frame) == "iceServers")
                told.insert(channelOf(frame));
            else if (kindOf(frame) == "bye" && !told.erase(channelOf(frame)))
                ++neverTold;
        }
    }
    const auto heard = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    churner.join();
    std::cout << "strangers: " << churn.bound << " bound and left in " << churn.seconds << " s ("
              << churn.boundPerSecond() << " a second), " << churn.refused << " refused; the host read " << read / 1000
              << " KB\n";
    RecordProperty("boundPerSecond", static_cast<int>(churn.boundPerSecond()));
    EXPECT_GT(churn.bound, 10000u);
    EXPECT_EQ(neverTold, 0u) << "byes on channels the host was never told of";
    ASSERT_FALSE(host.isClosed()) << "the host's link closed after " << heard << " s";
    EXPECT_EQ(service->log().find("host link from"), std::string::npos) << "the host's link was dropped";
    EXPECT_TRUE(online(device.id));

    // An honest helper gets in, as the host reads on.
    WsTestClient helper;
    ASSERT_TRUE(helper.open(port(), "/v1/connect/" + device.id, nullptr, {.source = "127.0.0.1"}));
    ASSERT_EQ(kindOf(helper.receive()), "iceServers");
    helper.send(signal("hello"));
    std::uint64_t channel = 0;
    while (!channel) {
        const auto frame = host.receive(std::chrono::seconds(30));
        if (!frame)
            break;
        if (kindOf(frame) == "hello")
            channel = channelOf(frame);
    }
    ASSERT_NE(channel, 0u) << "the helper's hello never reached the host";
    host.send(onChannel(signal("challenge"), channel));
    EXPECT_EQ(helper.receive(), signal("challenge"));
}

TEST(PresenceConnectRelays, IceServersCarryTimeLimitedTurnCredentials)
{
    TestDevice device;
    ServiceProcess service({"--stun", "stun:127.0.0.1:3478", "--turn", "turn:127.0.0.1:3478?transport=udp",
                            "--turn-secret", "family-secret"});
    ASSERT_TRUE(service.start()) << service.log();
    WsTestClient host, connector;
    ASSERT_TRUE(host.open(service.port(), device.hostTarget()));
    ASSERT_TRUE(connector.open(service.port(), "/v1/connect/" + device.id));
    auto frame = untagged(host.receive());
    EXPECT_EQ(frame, nlohmann::json::parse(connector.receive().value_or("{}")));
    ASSERT_EQ(frame["iceServers"].size(), 2u);
    EXPECT_EQ(frame["iceServers"][0], nlohmann::json({{"urls", {"stun:127.0.0.1:3478"}}}));
    auto turn = frame["iceServers"][1];
    EXPECT_EQ(turn["urls"], nlohmann::json({"turn:127.0.0.1:3478?transport=udp"}));
    std::string username = turn["username"];
    auto colon = username.find(':');
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(username.substr(colon + 1), device.id);
    auto expiry = std::stoll(username.substr(0, colon));
    EXPECT_NEAR(static_cast<double>(expiry), static_cast<double>(unixNow() + 86400), 10.0);
    EXPECT_EQ(turn["credential"], coturnCredential("family-secret", username));
}

} // namespace
} // namespace wl::test
