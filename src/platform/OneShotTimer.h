#pragma once
// One-shot timers that code with a delay takes from a factory, so tests can fire
// them by hand instead of waiting. Start-up installs the Qt timers (QTimer on the
// calling thread) as the process-wide factory; tests use ManualTimers (tests/support)
// where they fire timers themselves.

#include <chrono>
#include <functional>
#include <memory>

namespace wl {

class OneShotTimer {
public:
    // Destroying a timer cancels it (also from inside its own callback).
    virtual ~OneShotTimer() = default;
    virtual void cancel() = 0;
    virtual bool isActive() const = 0;
};

// Starts a timer that calls fire once after delay, unless cancelled first.
using TimerFactory =
    std::function<std::unique_ptr<OneShotTimer>(std::chrono::milliseconds delay, std::function<void()> fire)>;

// Timers that never fire (the first one started says so in the log): the stand-in
// until real ones are handed in.
TimerFactory dormantTimers();

// The process-wide factory. Until start-up installs one, timers never fire (and the
// first one says so in the log). Thread-safe.
TimerFactory standardTimers();
void setStandardTimers(TimerFactory timers);
// The given factory, or the process-wide one when it is empty.
TimerFactory timersOr(TimerFactory timers);

} // namespace wl
