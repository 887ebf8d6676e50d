#pragma once
// The host's standing signalling link: a WebSocket to v1/host/<this device's id>
// with the signed query items of purpose "wickerlane-host". While active it connects
// again after each close, waiting retryDelay seconds (1, doubling up to 30). The delay
// goes back to 1 only once a link has stayed open for 10 seconds, so a service that
// accepts and then closes at once cannot make it reconnect every second; after a close
// for too many connections (4429) or for being replaced by another link of this Mac
// (4000) it waits the longest. stop() ends it for good. Main thread only.

#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace wl {

class DeviceIdentity;

class RelayLink final : public QObject {
    Q_OBJECT
public:
    static constexpr double kFirstRetryDelay = 1;
    static constexpr double kMaxRetryDelay = 30;
    static constexpr std::chrono::milliseconds kStableAfter{10000};
    static constexpr int kReplacedCloseCode = 4000;
    static constexpr int kRateLimitedCloseCode = 4429;

    // identity: the device the link signs in as; timers: the back-off and stability
    // timers (required); info: where the service's address comes from.
    RelayLink(std::shared_ptr<DeviceIdentity> identity, TimerFactory timers, std::shared_ptr<const InfoDictionary> info,
              QObject* parent = nullptr);
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
    void channelOpened();
    void channelClosed(WebSocketSignalChannel* which);
    void scheduleRetry();

    std::shared_ptr<DeviceIdentity> identity_;
    TimerFactory timers_;
    std::shared_ptr<const InfoDictionary> info_;
    std::unique_ptr<OneShotTimer> retry_;
    std::unique_ptr<OneShotTimer> stable_;
};

} // namespace wl
