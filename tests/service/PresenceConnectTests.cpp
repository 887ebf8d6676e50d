// Presence through the host's relay link, and the connect path's binding and forwarding.

#include "ServiceTestKit.h"

#include "identity/Base64.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <set>

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
// a channel of its own, and only past the limit does the oldest the host did not let in go.
TEST_F(PresenceConnect, ConnectorsBindSideBySideAndTheOldestUnacceptedMakesRoom)
{
    TestDevice device;
    WsTestClient host;
    ASSERT_TRUE(openHost(host, device));
    std::vector<std::unique_ptr<WsTestClient>> connectors;
    std::vector<std::uint64_t> channels;
    for (std::size_t i = 0; i < 32; ++i) {
        connectors.push_back(std::make_unique<WsTestClient>());
        channels.push_back(0);
        ASSERT_NO_FATAL_FAILURE(bind(host, *connectors.back(), device, &channels.back()));
    }
    std::set<std::uint64_t> distinct(channels.begin(), channels.end());
    EXPECT_EQ(distinct.size(), channels.size());

    // Each one's frames reach the host under its channel, and only it hears the answers.
    connectors[5]->send(signal("hello", "\"name\":\"five\""));
    auto hello = host.receive();
    EXPECT_EQ(channelOf(hello), channels[5]);
    host.send(onChannel(signal("accepted"), channels[0]));
    EXPECT_EQ(connectors[0]->receive(), signal("accepted"));
    EXPECT_TRUE(connectors[1]->quietFor(std::chrono::milliseconds(50)));

    // The 33rd: the oldest one the host has not accepted (the second) is sent away busy,
    // and the host hears that it left.
    WsTestClient newcomer;
    ASSERT_TRUE(newcomer.open(port(), "/v1/connect/" + device.id));
    EXPECT_EQ(frameJson(connectors[1]->receive().value_or("{}")),
              nlohmann::json({{"kind", "declined"}, {"reason", "busy"}}));
    EXPECT_EQ(connectors[1]->waitClosed(), 4409);
    auto left = host.receive();
    EXPECT_EQ(untagged(left), nlohmann::json({{"kind", "bye"}, {"reason", "helperLeft"}}));
    EXPECT_EQ(channelOf(left), channels[1]);
    auto ice = host.receive();
    EXPECT_EQ(kindOf(ice), "iceServers");
    EXPECT_EQ(kindOf(newcomer.receive()), "iceServers");
    newcomer.send(signal("hello"));
    EXPECT_EQ(channelOf(host.receive()), channelOf(ice));

    // The accepted one is untouched.
    connectors[0]->send(signal("offer"));
    auto offer = host.receive();
    EXPECT_EQ(untagged(offer), frameJson(signal("offer")));
    EXPECT_EQ(channelOf(offer), channels[0]);
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
