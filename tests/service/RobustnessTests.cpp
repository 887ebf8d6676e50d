// Bad input, limits and time-outs: the service keeps answering the next good client.

#include "RawSocket.h"
#include "ServiceTestKit.h"

#include <filesystem>
#include <random>

namespace wl::test {
namespace {

using Robustness = ServiceTest;

TEST_F(Robustness, HttpRoutingAnswers)
{
    startService();
    const std::string id(64, 'a');
    EXPECT_EQ(http("GET", "/nothing"), 404);
    EXPECT_EQ(http("GET", "/v1/status"), 404);
    EXPECT_EQ(http("GET", "/v1/status/" + id + "/more"), 404);
    EXPECT_EQ(http("GET", "/v2/status/" + id), 404);
    EXPECT_EQ(http("GET", "/v1/status/" + std::string(64, 'A')), 400);
    EXPECT_EQ(http("GET", "/v1/status/" + id.substr(1)), 400);
    EXPECT_EQ(http("GET", "/v1/keys/xyz"), 400);
    EXPECT_EQ(http("POST", "/v1/status/" + id, "{}"), 405);
    EXPECT_EQ(http("DELETE", "/v1/keys/" + id), 405);
    EXPECT_EQ(http("PUT", "/v1/mail/" + id, "{}"), 405);
    EXPECT_EQ(http("POST", "/v1/host/" + id, "{}"), 405);
    for (const std::string& path : {"/v1/host/" + id, "/v1/connect/" + id, "/v1/mail/" + id,
                                    std::string("/v1/pair/host/ABCDEFGH"), std::string("/v1/pair/join/ABCDEFGH")})
        EXPECT_EQ(http("GET", path), 426) << path;
    std::string body;
    EXPECT_EQ(http("GET", "/v1/status/" + id, {}, &body), 200);
    EXPECT_EQ(nlohmann::json::parse(body), nlohmann::json({{"online", false}}));
    // A WebSocket to an unknown path is refused before the upgrade.
    WsTestClient client;
    int status = 0;
    EXPECT_FALSE(client.open(port(), "/v1/elsewhere/" + id, &status));
    EXPECT_EQ(status, 404);
}

TEST_F(Robustness, FramesOverTheLimitClose1009)
{
    startService();
    TestDevice device;
    WsTestClient host, connector;
    std::uint64_t channel = 0;
    ASSERT_NO_FATAL_FAILURE(bind(device, host, connector, &channel));
    // A frame that fits the limit with the channel's tag passes through; one that the tag
    // would push over it is dropped.
    const std::string tag = ",\"channel\":" + std::to_string(channel);
    std::string fits = "{\"kind\":\"offer\",\"sdp\":\"" + std::string(65536 - 25 - tag.size(), 'x') + "\"}";
    connector.send(fits);
    auto passed = host.receive();
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->size(), 65536u);
    EXPECT_EQ(untagged(passed), frameJson(fits));
    std::string atLimit = "{\"kind\":\"offer\",\"sdp\":\"" + std::string(65536 - 25, 'x') + "\"}";
    ASSERT_EQ(atLimit.size(), 65536u);
    connector.send(atLimit);
    EXPECT_TRUE(host.quietFor(std::chrono::milliseconds(50)));
    connector.send(atLimit + " ");
    EXPECT_EQ(connector.waitClosed(), 1009);
    EXPECT_EQ(kindOf(host.receive()), "bye");
    expectServiceWorks();
}

TEST_F(Robustness, ThousandRandomFramesAndMalformedJson)
{
    // More frames at once than a helper's link may send by default.
    startService({"--connector-burst", "2000"});
    TestDevice device;
    WsTestClient host, connector;
    std::uint64_t channel = 0;
    ASSERT_NO_FATAL_FAILURE(bind(device, host, connector, &channel));

    std::mt19937 random(20240607);
    const std::vector<std::string> pieces = {"{",    "}",         "[",      "]",          "\"kind\"",    ":",
                                             ",",    "\"offer\"", "null",   "1e999",      "\"\\u0000\"", "\\",
                                             "true", " ",         "\u00e9", "{\"kind\":", "\"ack\""};
    int forwardedCandidates = 0;
    for (int i = 0; i < 1000; ++i) {
        std::string frame;
        if (i % 3 == 0) {
            // Random bytes: sent as binary (text frames must be UTF-8, below).
            std::uniform_int_distribution<int> length(0, 300), byte(0, 255);
            int n = length(random);
            for (int j = 0; j < n; ++j)
                frame.push_back(static_cast<char>(byte(random)));
        } else {
            std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), count(1, 30);
            for (std::size_t j = count(random); j > 0; --j)
                frame += pieces[pick(random)];
        }
        auto* sender = i % 2 ? &host : &connector;
        if (i % 5 == 0 || i % 3 == 0)
            sender->sendBinary(frame);
        else if (i % 7 == 0) {
            // Kind-valued frames are real signalling and go through.
            sender->send(onChannel(signal("candidate", "\"n\":" + std::to_string(i)), sender == &host ? channel : 0));
            if (sender == &connector)
                ++forwardedCandidates;
        } else
            sender->send(frame);
        ASSERT_FALSE(sender->isClosed()) << "frame " << i;
    }
    // Only the candidates came through, in order.
    host.send(onChannel(signal("answer"), channel));
    for (int i = 0; i < forwardedCandidates; ++i)
        ASSERT_EQ(kindOf(host.receive()), "candidate") << i;
    EXPECT_EQ(kindOf(connector.receive()), "candidate");
    // A text frame that is not UTF-8 ends that link (1007), and only that one.
    connector.send("{\"kind\":\"offer\",\"sdp\":\"\xff\xfe\"}");
    EXPECT_EQ(connector.waitClosed(), 1007);
    EXPECT_EQ(kindOf(host.receive()), "bye");
    EXPECT_FALSE(host.isClosed());
    expectServiceWorks();
}

TEST_F(Robustness, HalfOpenConnectionsAreTimedOut)
{
    startService({"--request-timeout", "0.5"});
    // Half-sent requests and silent connections do not hold up anybody else.
    std::vector<std::unique_ptr<RawSocket>> stalled;
    for (int i = 0; i < 20; ++i) {
        stalled.push_back(std::make_unique<RawSocket>(port()));
        ASSERT_TRUE(stalled.back()->connected());
        if (i % 2)
            stalled.back()->write("GET /v1/status/" + std::string(64, '0') + " HTTP/1.1\r\nHost: x\r\n");
    }
    RawSocket partialBody(port());
    partialBody.write("POST /v1/mail/" + std::string(64, '0') +
                      " HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"id\":");
    expectServiceWorks();
    for (auto& socket : stalled)
        EXPECT_TRUE(socket->closedByPeer());
    EXPECT_TRUE(partialBody.closedByPeer());
    // Garbage instead of HTTP gets a 400 and the connection closed.
    RawSocket garbage(port());
    garbage.write("\x16\x03\x01 hello there\r\n\r\n");
    EXPECT_TRUE(garbage.closedByPeer());
    expectServiceWorks();
}

TEST_F(Robustness, APeerThatEndsItsSideWhileAWriteIsPendingIsLetGo)
{
    startService();
    // Only the listening socket once the start-up probe has gone.
    auto onlyListening = [&] {
        for (int i = 0; i < 500; ++i) {
            if (socketCount(service->pid()) <= 1)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    ASSERT_TRUE(onlyListening());
    {
        // A host link that never reads (a tiny receive buffer) and then ends its sending side,
        // while the service still has frames for it on the way. The connector that sent them is
        // closed once its share of the host's link is full.
        TestDevice device;
        RawSocket host(port(), 4096);
        ASSERT_TRUE(host.connected());
        host.write("GET " + device.hostTarget() +
                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        ASSERT_NE(host.readUntil("\r\n\r\n").find(" 101 "), std::string::npos);
        WsTestClient connector;
        ASSERT_TRUE(connector.open(port(), "/v1/connect/" + device.id));
        ASSERT_EQ(kindOf(connector.receive()), "iceServers");
        const std::string filler = signal("filler", "\"pad\":\"" + std::string(60000, 'x') + "\"");
        for (int i = 0; i < 160 && !connector.isClosed(); ++i)
            connector.send(filler);
        EXPECT_EQ(connector.waitClosed(), 4429);
        host.shutdownSend();

        // The service closes the host's socket rather than keep writing to it (from frames it
        // already let go of) for as long as the host does not read.
        EXPECT_TRUE(onlyListening()) << socketCount(service->pid()) << " sockets open";
    }
    expectServiceWorks();
}

TEST_F(Robustness, ExpectContinueGetsAnInterimAnswer)
{
    startService();
    RawSocket socket(port());
    const std::string body = "{\"not\":\"an envelope\"}";
    socket.write("POST /v1/mail/" + std::string(64, '0') +
                 " HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                 "Content-Length: " +
                 std::to_string(body.size()) + "\r\n\r\n");
    EXPECT_NE(socket.readUntil("\r\n\r\n").find("HTTP/1.1 100 Continue"), std::string::npos);
    socket.write(body);
    EXPECT_NE(socket.readUntil("\r\n\r\n").find("HTTP/1.1 400"), std::string::npos);
}

TEST_F(Robustness, IdleLinksAreClosedAndPingsKeepThemOpen)
{
    startService({"--idle-timeout", "0.4"});
    TestDevice quiet, chatty;
    WsTestClient quietHost, chattyHost;
    // The quiet link's idle time starts when the service accepts it: no earlier than this.
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(quietHost.open(port(), quiet.hostTarget()));
    ASSERT_TRUE(chattyHost.open(port(), chatty.hostTarget()));
    while (!quietHost.isClosed() && std::chrono::steady_clock::now() - started < std::chrono::seconds(3)) {
        chattyHost.ping();
        quietHost.quietFor(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(quietHost.waitClosed(std::chrono::milliseconds(0)), 4408);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    EXPECT_FALSE(chattyHost.isClosed());
    EXPECT_TRUE(waitOnline(quiet.id, false));
    EXPECT_TRUE(online(chatty.id));
}

TEST_F(Robustness, AHostClosedForIdlenessIsOfflineAtOnce)
{
    startService({"--idle-timeout", "0.3"});
    // A host whose machine went away: it answers neither frames nor the service's close.
    TestDevice gone;
    RawSocket host(port());
    ASSERT_TRUE(host.connected());
    host.write("GET " + gone.hostTarget() +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_NE(host.readUntil("\r\n\r\n").find(" 101 "), std::string::npos);
    ASSERT_TRUE(online(gone.id));
    // Once the service has sent its close (4408), the link no longer counts.
    const std::string idleClose("\x88\x02\x11\x38", 4);
    ASSERT_NE(host.readUntil(idleClose).find(idleClose), std::string::npos);
    EXPECT_FALSE(online(gone.id));
    WsTestClient helper;
    ASSERT_TRUE(helper.open(port(), "/v1/connect/" + gone.id));
    EXPECT_EQ(helper.waitClosed(), 4404);
}

TEST_F(Robustness, APairingHostClosedForIdlenessTakesNoJoiner)
{
    startService({"--idle-timeout", "0.3"});
    RawSocket host(port());
    ASSERT_TRUE(host.connected());
    host.write("GET /v1/pair/host/ABCD2345 HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
               "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_NE(host.readUntil("\r\n\r\n").find(" 101 "), std::string::npos);
    const std::string idleClose("\x88\x02\x11\x38", 4);
    ASSERT_NE(host.readUntil(idleClose).find(idleClose), std::string::npos);
    WsTestClient joiner;
    ASSERT_TRUE(joiner.open(port(), "/v1/pair/join/ABCD2345"));
    EXPECT_EQ(joiner.waitClosed(), 4404);
}

TEST_F(Robustness, PerAddressRateLimits)
{
    startService({"--connection-rate", "4"});
    // The launcher's readiness probe took one of the four. A connection over the rate is
    // closed at accept, before anything is read or answered.
    const std::string target = "/v1/status/" + std::string(64, '0');
    EXPECT_EQ(http("GET", target), 200);
    EXPECT_EQ(http("GET", target), 200);
    EXPECT_EQ(http("GET", target), 200);
    EXPECT_EQ(http("GET", target), 0);
    TestDevice device;
    WsTestClient client;
    int status = -1;
    EXPECT_FALSE(client.open(port(), device.hostTarget(), &status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(waitForLog("refused 2 connection(s) from 127.0.0.1: over the connection rate limit")) << service->log();
}

TEST_F(Robustness, RequestRateLimit)
{
    startService({"--request-rate", "3"});
    // Three requests a minute: the launcher's probe took one, two more pass.
    const std::string target = "/v1/status/" + std::string(64, '0');
    EXPECT_EQ(http("GET", target), 200);
    EXPECT_EQ(http("GET", target), 200);
    EXPECT_EQ(http("GET", target), 429);
    TestDevice device;
    WsTestClient client;
    ASSERT_TRUE(client.open(port(), device.hostTarget()));
    EXPECT_EQ(client.waitClosed(), 4429);
}

} // namespace
} // namespace wl::test
