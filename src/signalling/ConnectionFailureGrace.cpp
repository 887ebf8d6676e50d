#include "signalling/ConnectionFailureGrace.h"

#include "platform/MainThread.h"

namespace wl {

ConnectionFailureGrace::ConnectionFailureGrace(TimerFactory timers)
    : timers_(requiredTimers(std::move(timers), "ConnectionFailureGrace"))
{
}

void ConnectionFailureGrace::update(webrtc::PeerConnectionInterface::IceConnectionState state)
{
    assertMainThread("ConnectionFailureGrace::update");
    if (state == webrtc::PeerConnectionInterface::kIceConnectionFailed) {
        if (timer)
            return;
        // The timer lives in this object; the callback runs only while it does.
        timer = timers_(kGrace, [this] {
            auto fired = std::move(timer);
            timer.reset();
            if (auto handler = giveUp)
                handler();
        });
        return;
    }
    if (timer) {
        timer->cancel();
        timer.reset();
    }
}

} // namespace wl
