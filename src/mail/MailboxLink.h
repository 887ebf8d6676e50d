#pragma once
// The standing WebSocket to this Mac's mailbox on the introduction service
// (v1/mail/<id> with signed query items). The service sends every waiting envelope as a
// text frame, oldest first, then new ones as they arrive; the messenger acknowledges
// each after handling it. The link reconnects with back-off (1 s doubling to 30 s) and
// pings every 25 s so the service does not drop it as idle.

#include <QObject>
#include <QUrl>
#include <QWebSocket>

#include "platform/OneShotTimer.h"
#include "signalling/RelayLink.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class MailboxLink final : public QObject {
    Q_OBJECT
public:
    // makeURL gives a freshly signed URL for each connection attempt; nullopt when it
    // cannot (keys unreadable), and the link tries again later. The reconnection and the
    // ping wait on timers (required).
    MailboxLink(std::function<std::optional<QUrl>()> makeURL, TimerFactory timers, QObject* parent = nullptr);
    ~MailboxLink() override;

    void start();
    void stop();
    bool isOpen() const { return open_; }

    // Sends {"ack": id}. Ignored while the link is down: the service sends the envelope
    // again on the next connection.
    void acknowledge(const std::string& envelopeId);

    // Each text frame as it arrived.
    std::function<void(const std::string& frame)> onEnvelope;
    // After every successful (re)connection.
    std::function<void()> onOpen;

    // Back-off limits; tests shorten them.
    void setBackoff(int initialMs, int maximumMs);
    int currentDelayMs() const { return delayMs_; }

private:
    void connectNow();
    void scheduleReconnect();
    void dropSocket();
    void armPing();

    std::function<std::optional<QUrl>()> makeURL_;
    TimerFactory timers_;
    std::unique_ptr<QWebSocket> socket_;
    std::unique_ptr<OneShotTimer> reconnect_;
    std::unique_ptr<OneShotTimer> ping_;
    bool running_ = false;
    bool open_ = false;
    // The relay link's back-off: 1 s doubling to 30 s.
    int initialMs_ = static_cast<int>(RelayLink::kFirstRetryDelay * 1000);
    int maximumMs_ = static_cast<int>(RelayLink::kMaxRetryDelay * 1000);
    int delayMs_ = initialMs_;
};

} // namespace wl
