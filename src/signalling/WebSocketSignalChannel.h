#pragma once
// A signalling path over one WebSocket: JSON text frames of at most 65536 bytes,
// a ping every 25 seconds. Messages sent before the socket opens wait and go out when
// it opens. close() acts once: it stops the ping, closes with 1000 and calls onClose.
// A close by the other side, a transport error or an oversized frame end in close()
// too. It never reconnects. Lives on the thread that made it (the main thread);
// send() and close() from another thread hop there.
//
// Usage: auto channel = WebSocketSignalChannel::make(url, timers); set the handlers; open().

#include "platform/OneShotTimer.h"
#include "signalling/SignalTransport.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QWebSocket;

namespace wl {

class WebSocketSignalChannel final : public QObject,
                                     public SignalTransport,
                                     public std::enable_shared_from_this<WebSocketSignalChannel> {
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessageBytes = 65536;
    static constexpr std::chrono::milliseconds kPingInterval{25000};

    // Owned by shared pointers. When the last reference goes, the socket closes (1000)
    // without calling any handler, and the object is deleted later on its own thread,
    // so dropping the last reference inside a handler is safe. The ping waits on timers
    // (required).
    static std::shared_ptr<WebSocketSignalChannel> make(const QUrl& url, TimerFactory timers);

    ~WebSocketSignalChannel() override;

    std::function<void()> onOpen;

    const QUrl& url() const { return url_; }
    // Starts connecting. Once only; after close() it does nothing.
    void open();
    void send(const SignalMessage& message) override;
    void close() override;

    bool isOpen() const { return opened_ && !closed_; }
    bool isClosed() const { return closed_; }
    // The close code the other side gave when it closed the link; 0 when it did not
    // (this side closed it, or the connection failed).
    int closeCode() const override { return closeCode_; }

private:
    WebSocketSignalChannel(const QUrl& url, TimerFactory timers);

    void shutDownQuietly();
    void handleConnected();
    void handleText(const QString& text);
    void handleBinary(const QByteArray& bytes);
    void sendText(const std::string& text);
    void armPing();

    QUrl url_;
    QWebSocket* socket_ = nullptr;
    TimerFactory timers_;
    std::unique_ptr<OneShotTimer> ping_;
    std::vector<std::string> pending_;
    bool started_ = false;
    bool opened_ = false;
    bool closed_ = false;
    int closeCode_ = 0;
};

} // namespace wl
