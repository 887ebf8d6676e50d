#include "viewer/MoveLimiter.h"

#include <algorithm>
#include <cmath>

namespace wl {

MoveLimiter::MoveLimiter(double interval, std::function<double()> clock, TimerFactory timers,
                         std::function<void(const SessionEvent&)> send)
    : interval_(interval), clock_(std::move(clock)), timers_(requiredTimers(std::move(timers), "MoveLimiter")),
      send_(std::move(send))
{
}

bool MoveLimiter::isMove(const SessionEvent& event)
{
    return event.kind == SessionEvent::Kind::pointer || event.kind == SessionEvent::Kind::mouseMove;
}

void MoveLimiter::clear()
{
    waiting_.reset();
    timer_.reset();
}

void MoveLimiter::sendWaiting()
{
    timer_.reset();
    if (!waiting_)
        return;
    const SessionEvent move = std::move(*waiting_);
    waiting_.reset();
    lastMove_ = clock_();
    send_(move);
}

void MoveLimiter::send(const SessionEvent& event)
{
    if (!isMove(event)) {
        // Everything else keeps its order after the moves before it.
        sendWaiting();
        send_(event);
        return;
    }
    const double now = clock_();
    const double wait = interval_ - (now - lastMove_);
    if (wait <= 0) {
        clear();
        lastMove_ = now;
        send_(event);
        return;
    }
    // The latest position goes once the interval is up.
    waiting_ = event;
    if (!timer_) {
        const auto delay = std::chrono::milliseconds(std::max<long long>(1, std::llround(std::ceil(wait * 1000))));
        timer_ = timers_(delay, [this] { sendWaiting(); });
    }
}

} // namespace wl
