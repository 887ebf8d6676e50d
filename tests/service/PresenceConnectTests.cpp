// Presence through the host's relay link, and the connect path's binding and forwarding.

#include "ServiceTestKit.h"

#include "identity/Base64.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

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
    // Binds a connector to host and swallows the iceServers frames on both sides.
    void bind(WsTestClient& host, WsTestClient& connector, const TestDevice& device)
    {
        ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
        ASSERT_EQ(kindOf(host.receive()), "iceServers");
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

TEST_F(PresenceConnect, BindingSendsIceServersFirstAndForwardsVerbatim)
{
    TestDevice device;
    WsTestClient host, connector;
    ASSERT_TRUE(openHost(host, device));
    // Host frames with nobody bound are dropped.
    host.send(signal("offer", "\"sdp\":\"too early\""));

    ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
    // The connector's first frame goes out right away; the host must see iceServers before it.
    const std::string hello = "{ \"kind\" : \"hello\",  \"name\":\"Ann\", \"extra\": [1,2,3] }";
    connector.send(hello);
    auto hostFirst = host.receive();
    EXPECT_EQ(kindOf(hostFirst), "iceServers");
    EXPECT_EQ(host.receive(), hello); // byte for byte

    host.send(signal("challenge", "\"nonce\":\"abc\""));
    auto connectorFirst = connector.receive();
    EXPECT_EQ(kindOf(connectorFirst), "iceServers");
    EXPECT_EQ(connectorFirst, hostFirst); // same servers and credentials on both sides
    EXPECT_EQ(connector.receive(), signal("challenge", "\"nonce\":\"abc\""));

    auto ice = nlohmann::json::parse(*hostFirst);
    ASSERT_TRUE(ice.contains("iceServers"));
    EXPECT_TRUE(ice["iceServers"].is_array());
    EXPECT_TRUE(ice["iceServers"].empty()); // nothing configured

    // iceServers, pairRequest, pairInfo, binary, non-JSON and kind-less frames are dropped both ways.
    for (auto* sender : {&connector, &host}) {
        sender->send(signal("iceServers", "\"iceServers\":[{\"urls\":[\"turn:evil.example\"]}]"));
        sender->send(signal("pairRequest"));
        sender->send(signal("pairInfo"));
        sender->sendBinary("{\"kind\":\"offer\"}");
        sender->send("not json");
        sender->send("{\"sdp\":\"no kind\"}");
        sender->send("[1,2]");
        sender->send(signal("candidate", "\"sdpMid\":\"0\""));
    }
    EXPECT_EQ(host.receive(), signal("candidate", "\"sdpMid\":\"0\""));
    EXPECT_EQ(connector.receive(), signal("candidate", "\"sdpMid\":\"0\""));
    EXPECT_TRUE(host.quietFor(std::chrono::milliseconds(50)));
    EXPECT_TRUE(connector.quietFor(std::chrono::milliseconds(0)));
}

TEST_F(PresenceConnect, SecondConnectorIsDeclinedBusy)
{
    TestDevice device;
    WsTestClient host, first, second;
    ASSERT_TRUE(openHost(host, device));
    bind(host, first, device);

    ASSERT_TRUE(second.open(port(), "/v1/connect/" + device.id));
    auto declined = nlohmann::json::parse(second.receive().value_or("{}"));
    EXPECT_EQ(declined, nlohmann::json({{"kind", "declined"}, {"reason", "busy"}}));
    EXPECT_EQ(second.waitClosed(), 4409);

    // The first binding is untouched and the host heard nothing of the second.
    first.send(signal("offer"));
    EXPECT_EQ(host.receive(), signal("offer"));
    host.send(signal("answer"));
    EXPECT_EQ(first.receive(), signal("answer"));
}

TEST_F(PresenceConnect, ConnectorLeavingSendsHelperLeft)
{
    TestDevice device;
    WsTestClient host, connector;
    ASSERT_TRUE(openHost(host, device));
    bind(host, connector, device);
    connector.close();
    EXPECT_EQ(nlohmann::json::parse(host.receive().value_or("{}")),
              nlohmann::json({{"kind", "bye"}, {"reason", "helperLeft"}}));

    // The binding ended: a new helper binds, also after one that vanished without a close.
    WsTestClient next;
    bind(host, next, device);
    next.drop();
    EXPECT_EQ(kindOf(host.receive()), "bye");
    WsTestClient third;
    bind(host, third, device);
}

TEST_F(PresenceConnect, HostClosingOrReplacedClosesTheConnector)
{
    TestDevice device;
    {
        WsTestClient host, connector;
        ASSERT_TRUE(openHost(host, device));
        bind(host, connector, device);
        host.close();
        EXPECT_EQ(connector.waitClosed(), 4410);
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
        bind(host, connector, device);
        auto frame = signal(kind, "\"reason\":\"stopped\"");
        host.send(frame);
        EXPECT_EQ(connector.receive(), frame);
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
    auto frame = nlohmann::json::parse(host.receive().value_or("{}"));
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
