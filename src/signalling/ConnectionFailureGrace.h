#pragma once
// Confirms a lost connection only after a grace: when the ICE connection state turns
// failed, a 10-second one-shot timer starts; its firing clears the timer and calls
// giveUp. Any other state cancels it. Main thread only.

#include "platform/OneShotTimer.h"

#include <api/peer_connection_interface.h>

#include <chrono>
#include <functional>
#include <memory>

namespace wl {

class ConnectionFailureGrace {
public:
    static constexpr std::chrono::milliseconds kGrace{10000};

    // timers: the grace (required).
    explicit ConnectionFailureGrace(TimerFactory timers);
    ConnectionFailureGrace(const ConnectionFailureGrace&) = delete;
    ConnectionFailureGrace& operator=(const ConnectionFailureGrace&) = delete;

    std::unique_ptr<OneShotTimer> timer;
    std::function<void()> giveUp;

    void update(webrtc::PeerConnectionInterface::IceConnectionState state);

private:
    TimerFactory timers_;
};

} // namespace wl
