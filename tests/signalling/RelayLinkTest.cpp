#include "signalling/RelayLink.h"
#include "signalling/RelaySessionTransport.h"

#include "LocalWebSocketServer.h"
#include "ManualTimers.h"
#include "WaitUntil.h"
#include "identity/DeviceIdentity.h"
#include "identity/SignedQuery.h"
#include "platform/InfoDictionary.h"
#include "platform/KeyStore.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

#include <ctime>

using namespace wl;
using namespace std::chrono_literals;
using wl::test::LocalWebSocketServer;
using wl::test::ManualTimers;
using wl::test::waitUntil;

namespace {

std::shared_ptr<const InfoDictionary> useIntroductionService(const QString& baseURL)
{
    return std::make_shared<MapInfoDictionary>(
        std::map<std::string, std::string>{{"WLIntroductionURL", baseURL.toStdString()}});
}

QString introductionAt(quint16 port)
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

struct StatusRecorder {
    std::vector<bool> changes;
    std::vector<SignalMessage> messages;
    void attach(RelayLink& link)
    {
        link.onStatusChange = [this](bool online) { changes.push_back(online); };
        link.onMessage = [this](const SignalMessage& m) { messages.push_back(m); };
    }
};

class RelayLinkTest : public ::testing::Test {
protected:
    std::shared_ptr<DeviceIdentity> identity = std::make_shared<DeviceIdentity>(std::make_shared<MemoryKeyStore>());
};

} // namespace

TEST_F(RelayLinkTest, SignsInAsThisMacAndPassesMessagesBothWays)
{
    LocalWebSocketServer server;
    auto info = useIntroductionService(server.baseURL());
    ManualTimers timers;
    RelayLink link(identity, timers.factory(), info);
    StatusRecorder recorder;
    recorder.attach(link);

    link.connect();
    EXPECT_TRUE(link.active);
    ASSERT_TRUE(waitUntil([&] { return recorder.changes == std::vector<bool>{true}; }));
    ASSERT_EQ(server.count(), 1u);

    std::string id = identity->deviceId();
    ASSERT_FALSE(id.empty());
    const QUrl& url = server.last().requestUrl;
    EXPECT_EQ(url.path().toStdString(), "/v1/host/" + id);
    QUrlQuery query(url);
    auto item = [&](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded).toStdString(); };
    EXPECT_TRUE(checkSignedQuery(kPurposeHost, id, item("pub"), item("ts"), item("sig"),
                                 static_cast<std::int64_t>(std::time(nullptr))));

    // The service names the helper's channel; the session's answers go back on it.
    server.last().socket->sendTextMessage(QStringLiteral("{\"kind\":\"hello\",\"name\":\"Ada\",\"channel\":7}"));
    ASSERT_TRUE(waitUntil([&] { return recorder.messages.size() == 1; }));
    EXPECT_EQ(recorder.messages[0].name, "Ada");
    EXPECT_EQ(recorder.messages[0].channel, 7u);

    RelaySessionTransport transport(&link, recorder.messages[0].channel);
    auto declined = SignalMessage::make(SignalMessage::Kind::declined);
    declined.reason = "busy";
    transport.send(declined);
    transport.close(); // does nothing: the link stays
    ASSERT_TRUE(waitUntil([&] { return server.last().received.size() == 1; }));
    declined.channel = 7;
    EXPECT_EQ(SignalMessage::decode(server.last().received[0]), declined);
    EXPECT_TRUE(link.isConnected());
    // No retry waits; only the channel's ping and the check that the link stays open.
    EXPECT_EQ(timers.activeCount(), 2u);
    EXPECT_EQ(timers.delays(), (std::vector<std::chrono::milliseconds>{WebSocketSignalChannel::kPingInterval, 10s}));
}

TEST_F(RelayLinkTest, BacksOffFromOneSecondDoublingToThirtyAndResetsOnlyAfterStayingOpen)
{
    wl::test::RefusingLoopbackPort refusing;
    const quint16 port = refusing.port();
    auto info = useIntroductionService(introductionAt(port));
    ManualTimers timers;
    RelayLink link(identity, timers.factory(), info);
    StatusRecorder recorder;
    recorder.attach(link);
    EXPECT_EQ(link.retryDelay, 1.0);

    link.connect();
    const std::vector<std::chrono::milliseconds> expected = {1s, 2s, 4s, 8s, 16s, 30s, 30s};
    for (std::size_t attempt = 0; attempt < expected.size(); ++attempt) {
        ASSERT_TRUE(waitUntil([&] { return timers.activeCount() == 1; })) << "attempt " << attempt;
        EXPECT_EQ(link.channel, nullptr);
        EXPECT_EQ(timers.delays().back(), expected[attempt]);
        if (attempt + 1 < expected.size()) {
            ASSERT_TRUE(timers.fireNext());
        }
    }
    EXPECT_EQ(recorder.changes, std::vector<bool>(expected.size(), false));
    EXPECT_EQ(link.retryDelay, 30.0);

    // The service comes up and accepts, but drops the link at once: that was no
    // success, so the next try still waits the longest.
    refusing.release();
    LocalWebSocketServer server(port);
    ASSERT_TRUE(server.listening());
    ASSERT_TRUE(timers.fireNext());
    ASSERT_TRUE(waitUntil([&] { return !recorder.changes.empty() && recorder.changes.back(); }));
    EXPECT_EQ(link.retryDelay, 30.0);
    server.last().socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    ASSERT_TRUE(waitUntil([&] { return !recorder.changes.back() && timers.delays().back() == 30s; }));

    // A link that stays open ten seconds resets the delay: the next loss waits one second.
    ASSERT_TRUE(timers.fireNext());
    ASSERT_TRUE(waitUntil([&] { return server.count() == 2 && link.isConnected(); }));
    EXPECT_EQ(timers.delays().back(), 10s);
    ASSERT_TRUE(timers.fireNext(10s));
    EXPECT_EQ(link.retryDelay, 1.0);
    server.last().socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    ASSERT_TRUE(waitUntil([&] { return timers.activeCount() == 1 && !link.channel; }));
    EXPECT_FALSE(recorder.changes.back());
    EXPECT_EQ(timers.delays().back(), 1s);
    ASSERT_TRUE(timers.fireNext());
    ASSERT_TRUE(waitUntil([&] { return server.count() == 3 && link.isConnected(); }));
}

TEST_F(RelayLinkTest, TooManyLinksOrReplacedByAnotherLinkWaitsTheLongest)
{
    LocalWebSocketServer server;
    auto info = useIntroductionService(server.baseURL());
    ManualTimers timers;
    RelayLink link(identity, timers.factory(), info);
    StatusRecorder recorder;
    recorder.attach(link);
    link.connect();

    for (int code : {4429, 4000}) {
        ASSERT_TRUE(waitUntil([&] { return link.isConnected(); })) << code;
        // Even a link that had proved itself waits the longest after these.
        ASSERT_TRUE(timers.fireNext(10s));
        EXPECT_EQ(link.retryDelay, 1.0);
        server.last().socket->close(static_cast<QWebSocketProtocol::CloseCode>(code));
        ASSERT_TRUE(waitUntil([&] { return !link.channel && timers.activeCount() == 1; })) << code;
        EXPECT_EQ(timers.delays().back(), 30s) << code;
        ASSERT_TRUE(timers.fireNext());
    }
    ASSERT_TRUE(waitUntil([&] { return link.isConnected() && server.count() == 3; }));
}

TEST_F(RelayLinkTest, StopEndsReconnection)
{
    wl::test::RefusingLoopbackPort refusing;
    auto info = useIntroductionService(introductionAt(refusing.port()));
    ManualTimers timers;
    RelayLink link(identity, timers.factory(), info);
    StatusRecorder recorder;
    recorder.attach(link);
    link.connect();
    ASSERT_TRUE(waitUntil([&] { return timers.activeCount() == 1; }));

    link.stop();
    EXPECT_FALSE(link.active);
    EXPECT_EQ(timers.activeCount(), 0u);
    EXPECT_FALSE(timers.fireNext());
    EXPECT_EQ(recorder.changes, (std::vector<bool>{false, false}));
    ASSERT_TRUE(wl::test::waitForNextTurn()) << "what the stop queued has run";
    EXPECT_EQ(timers.delays().size(), 1u);
}

TEST_F(RelayLinkTest, StopWhileConnectedClosesQuietlyAndDoesNotRetry)
{
    LocalWebSocketServer server;
    auto info = useIntroductionService(server.baseURL());
    ManualTimers timers;
    RelayLink link(identity, timers.factory(), info);
    StatusRecorder recorder;
    recorder.attach(link);
    link.connect();
    ASSERT_TRUE(waitUntil([&] { return link.isConnected(); }));

    link.stop();
    EXPECT_EQ(link.channel, nullptr);
    EXPECT_EQ(recorder.changes, (std::vector<bool>{true, false}));
    ASSERT_TRUE(waitUntil([&] { return server.last().closed; }));
    EXPECT_EQ(server.last().closeCode, QWebSocketProtocol::CloseCodeNormal);
    ASSERT_TRUE(wl::test::waitForNextTurn()) << "what the closing queued has run";
    // Only the channel's ping and the stay-open check, both cancelled.
    EXPECT_EQ(timers.delays(), (std::vector<std::chrono::milliseconds>{WebSocketSignalChannel::kPingInterval, 10s}));
    EXPECT_EQ(timers.activeCount(), 0u);
    EXPECT_EQ(recorder.changes.size(), 2u);
    EXPECT_EQ(server.count(), 1u);
}

TEST_F(RelayLinkTest, SessionTransportOutlivingItsLinkDoesNothing)
{
    LocalWebSocketServer server;
    auto info = useIntroductionService(server.baseURL());
    ManualTimers timers;
    auto link = std::make_unique<RelayLink>(identity, timers.factory(), info);
    RelaySessionTransport transport(link.get(), std::nullopt);
    transport.send(SignalMessage::make(SignalMessage::Kind::bye)); // no channel yet: nothing
    link->connect();
    ASSERT_TRUE(waitUntil([&] { return link->isConnected(); }));
    link.reset();
    transport.send(SignalMessage::make(SignalMessage::Kind::bye));
    ASSERT_TRUE(waitUntil([&] { return server.last().closed; }));
    EXPECT_TRUE(server.last().received.empty());
}
