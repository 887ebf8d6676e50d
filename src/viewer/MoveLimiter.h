#pragma once
// Pointer and mouse-move events at most once per interval: a move that comes too soon
// waits for its turn, replaced by any later one, so the last position always goes out;
// any other event first sends a move still waiting, so the order holds. Main thread.

#include "platform/OneShotTimer.h"
#include "protocol/SessionEvent.h"

#include <functional>
#include <memory>
#include <optional>

namespace wl {

class MoveLimiter {
public:
    // clock: seconds; timers: the wait for a move's turn (required).
    MoveLimiter(double interval, std::function<double()> clock, TimerFactory timers,
                std::function<void(const SessionEvent&)> send);

    void send(const SessionEvent& event);
    // Drops a waiting move.
    void clear();
    bool hasWaitingMove() const { return waiting_.has_value(); }

    static bool isMove(const SessionEvent& event);

private:
    void sendWaiting();

    double interval_;
    std::function<double()> clock_;
    TimerFactory timers_;
    std::function<void(const SessionEvent&)> send_;
    double lastMove_ = -1e18;
    std::optional<SessionEvent> waiting_;
    std::unique_ptr<OneShotTimer> timer_;
};

} // namespace wl
