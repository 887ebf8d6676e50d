#pragma once
// The host's standing signalling link: a WebSocket to v1/host/<this device's id>
// with the signed query items of purpose "wickerlane-host". While active it connects
// again after each close, waiting retryDelay seconds (1, doubling up to 30; back to
// 1 once a link opens). stop() ends it for good. Main thread only.

#include "platform/OneShotTimer.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QObject>

#include <functional>
#include <memory>

namespace wl {

class RelayLink final : public QObject {
    Q_OBJECT
public:
    static constexpr double kFirstRetryDelay = 1;
    static constexpr double kMaxRetryDelay = 30;

    // timers: the back-off timer factory (Qt timers when empty).
    explicit RelayLink(TimerFactory timers = {}, QObject* parent = nullptr);
    ~RelayLink() override;

    std::function<void(const SignalMessage&)> onMessage;
    std::function<void(bool)> onStatusChange;
    std::shared_ptr<WebSocketSignalChannel> channel; // null while disconnected
    bool active = false;
    double retryDelay = kFirstRetryDelay; // seconds

    // Makes the link active and opens a channel (does nothing while one exists).
    void connect();
    // Inactive; the channel is closed without reporting back, then onStatusChange(false).
    void stop();

    bool isConnected() const { return channel && channel->isOpen(); }
    bool retryPending() const { return retry_ && retry_->isActive(); }

private:
    void channelClosed(WebSocketSignalChannel* which);
    void scheduleRetry();

    TimerFactory timers_;
    std::unique_ptr<OneShotTimer> retry_;
};

} // namespace wl
