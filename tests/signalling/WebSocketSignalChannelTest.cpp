#include "signalling/WebSocketSignalChannel.h"

#include "LocalWebSocketServer.h"
#include "ManualTimers.h"
#include "WaitUntil.h"
#include "platform/Log.h"
#include "platform/Required.h"
#include "platform/linux/QtTimers.h"

#include <QWebSocket>

#include <gtest/gtest.h>

#include <thread>

using namespace wl;
using wl::test::LocalWebSocketServer;
using wl::test::waitUntil;

namespace {

SignalMessage bye(const std::string& reason)
{
    auto message = SignalMessage::make(SignalMessage::Kind::bye);
    message.reason = reason;
    return message;
}

struct Recorder {
    int opens = 0;
    int closes = 0;
    std::vector<SignalMessage> messages;

    void attach(WebSocketSignalChannel& channel)
    {
        channel.onOpen = [this] { ++opens; };
        channel.onClose = [this] { ++closes; };
        channel.onMessage = [this](const SignalMessage& m) { messages.push_back(m); };
    }
};

QUrl urlOf(const LocalWebSocketServer& server, const QString& path = QStringLiteral("v1/connect/abc"))
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/%2").arg(server.port()).arg(path));
}

} // namespace

TEST(WebSocketSignalChannel, MessagesSentBeforeOpenGoOutInOrderOnOpen)
{
    LocalWebSocketServer server;
    ASSERT_TRUE(server.listening());
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);

    channel->send(bye("first"));
    channel->open();
    channel->send(bye("second"));
    ASSERT_TRUE(waitUntil([&] { return server.count() == 1 && server.last().received.size() == 2; }));
    EXPECT_EQ(recorder.opens, 1);
    EXPECT_EQ(SignalMessage::decode(server.last().received[0]), bye("first"));
    EXPECT_EQ(SignalMessage::decode(server.last().received[1]), bye("second"));
    EXPECT_EQ(server.last().requestUrl.path(), "/v1/connect/abc");

    // Both directions once open.
    channel->send(bye("third"));
    server.last().socket->sendTextMessage(QString::fromStdString(bye("fromServer").encode()));
    ASSERT_TRUE(waitUntil([&] { return recorder.messages.size() == 1 && server.last().received.size() == 3; }));
    EXPECT_EQ(recorder.messages[0], bye("fromServer"));
    EXPECT_TRUE(channel->isOpen());
    EXPECT_EQ(recorder.closes, 0);
}

TEST(WebSocketSignalChannel, CloseActsOnceWithNormalClosure)
{
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));

    channel->close();
    channel->close();
    EXPECT_EQ(recorder.closes, 1);
    EXPECT_TRUE(channel->isClosed());
    ASSERT_TRUE(waitUntil([&] { return server.last().closed; }));
    EXPECT_EQ(server.last().closeCode, QWebSocketProtocol::CloseCodeNormal);

    // Nothing goes out or comes in after close, and it never reconnects.
    channel->send(bye("late"));
    channel->open();
    // A fresh channel opened after them: once it is open, a connection or a message the
    // closed one had started would be at the server too.
    Recorder laterRecorder;
    auto later = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    laterRecorder.attach(*later);
    later->open();
    ASSERT_TRUE(waitUntil([&] { return laterRecorder.opens == 1 && server.count() >= 2; }));
    ASSERT_TRUE(wl::test::waitForNextTurn());
    EXPECT_EQ(server.count(), 2u) << "the closed one did not connect again";
    EXPECT_TRUE(server.peer(0).received.empty());
    EXPECT_EQ(recorder.closes, 1);
    later->close();
}

TEST(WebSocketSignalChannel, RemoteCloseEndsInOneClose)
{
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));
    server.last().socket->close(QWebSocketProtocol::CloseCode(4410));
    ASSERT_TRUE(waitUntil([&] { return recorder.closes == 1; }));
    channel->close();
    ASSERT_TRUE(wl::test::waitForNextTurn()) << "what the closing queued has run";
    EXPECT_EQ(recorder.closes, 1);
    EXPECT_EQ(server.count(), 1u);
}

TEST(WebSocketSignalChannel, RefusedConnectionEndsInCloseAndDropsQueuedMessages)
{
    wl::test::RefusingLoopbackPort refusing;
    auto channel = WebSocketSignalChannel::make(
        QUrl(QStringLiteral("ws://127.0.0.1:%1/v1/connect/x").arg(refusing.port())), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->send(bye("never"));
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.closes == 1; }));
    EXPECT_EQ(recorder.opens, 0);
    ASSERT_TRUE(wl::test::waitForNextTurn()) << "what the refusal queued has run";
    EXPECT_EQ(recorder.closes, 1);
}

TEST(WebSocketSignalChannel, FrameOver65536BytesIsRefused)
{
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));

    // Exactly at the limit is fine.
    auto atLimit = bye("");
    std::string base = atLimit.encode();
    atLimit.reason = std::string(65536 - base.size(), 'x');
    ASSERT_EQ(atLimit.encode().size(), 65536u);
    server.last().socket->sendTextMessage(QString::fromStdString(atLimit.encode()));
    ASSERT_TRUE(waitUntil([&] { return recorder.messages.size() == 1; }));

    auto tooLarge = bye(std::string(70000, 'y'));
    server.last().socket->sendTextMessage(QString::fromStdString(tooLarge.encode()));
    ASSERT_TRUE(waitUntil([&] { return recorder.closes == 1; }));
    EXPECT_EQ(recorder.messages.size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return server.last().closed; }));
    EXPECT_EQ(server.last().closeCode, QWebSocketProtocol::CloseCodeTooMuchData);
}

TEST(WebSocketSignalChannel, OversizedOutgoingAndUnreadableIncomingMessagesAreDropped)
{
    CapturedLog log;
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));

    channel->send(bye(std::string(70000, 'z')));
    channel->send(bye("small"));
    server.last().socket->sendTextMessage(QStringLiteral("not json"));
    server.last().socket->sendTextMessage(QStringLiteral("{\"kind\":\"nonsense\"}"));
    server.last().socket->sendBinaryMessage(QByteArray("\x01\x02", 2));
    server.last().socket->sendTextMessage(QString::fromStdString(bye("after").encode()));
    ASSERT_TRUE(waitUntil([&] { return server.last().received.size() == 1 && recorder.messages.size() == 1; }));
    EXPECT_EQ(SignalMessage::decode(server.last().received[0]), bye("small"));
    EXPECT_EQ(recorder.messages[0], bye("after"));
    EXPECT_EQ(recorder.closes, 0);
    EXPECT_TRUE(log.contains("over the limit"));
}

TEST(WebSocketSignalChannel, DroppingTheLastReferenceInsideOnCloseIsSafe)
{
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    std::weak_ptr<WebSocketSignalChannel> weak = channel;
    int closes = 0;
    channel->onClose = [&] {
        ++closes;
        channel.reset();
    };
    channel->onOpen = [&] { server.last().socket->close(); };
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return closes == 1; }));
    EXPECT_TRUE(weak.expired());
    ASSERT_TRUE(wl::test::waitForNextTurn()) << "what the closing queued has run";
    EXPECT_EQ(closes, 1);
}

TEST(WebSocketSignalChannel, SendAndCloseFromAnotherThreadHopToTheOwner)
{
    LocalWebSocketServer server;
    auto channel = WebSocketSignalChannel::make(urlOf(server), qtTimerFactory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i)
            channel->send(bye(std::to_string(i)));
        channel->close();
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return recorder.closes == 1 && server.last().closed; }));
    ASSERT_EQ(server.last().received.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(SignalMessage::decode(server.last().received[i]), bye(std::to_string(i)));
}

// The ping keeps an idle link from being dropped by the service. It waits on the timers
// the channel is handed (a channel made without them is a wiring mistake): each one
// fired goes out on the wire, the other side's pong comes back, and the next is armed;
// closing stops them.
TEST(WebSocketSignalChannel, PingsOnTheTimersItIsHandedUntilItCloses)
{
    {
        CapturedLog log;
        EXPECT_THROW(WebSocketSignalChannel::make(QUrl(QStringLiteral("ws://127.0.0.1:9/")), {}), WiringMistake);
        EXPECT_TRUE(log.contains("Wickerlane: WebSocketSignalChannel was made without timers"));
    }
    LocalWebSocketServer server;
    wl::test::ManualTimers timers;
    auto channel = WebSocketSignalChannel::make(urlOf(server), timers.factory());
    Recorder recorder;
    recorder.attach(*channel);
    channel->open();
    ASSERT_TRUE(waitUntil([&] { return recorder.opens == 1; }));
    auto* socket = channel->findChild<QWebSocket*>();
    ASSERT_NE(socket, nullptr);
    int pongs = 0;
    QObject::connect(socket, &QWebSocket::pong, socket, [&] { ++pongs; });
    for (int ping = 1; ping <= 2; ++ping) {
        ASSERT_EQ(timers.activeCount(WebSocketSignalChannel::kPingInterval), 1u) << ping;
        ASSERT_TRUE(timers.fireNext(WebSocketSignalChannel::kPingInterval));
        ASSERT_TRUE(waitUntil([&] { return pongs == ping; })) << ping;
    }
    channel->close();
    EXPECT_EQ(timers.activeCount(), 0u);
}
