#pragma once
// One-shot timers that code with a delay takes from a factory it is handed, so tests
// can fire them by hand instead of waiting. Start-up puts the Qt timers (QTimer on the
// calling thread) into the platform record; tests use ManualTimers (tests/support)
// where they fire timers themselves, or the Qt timers.

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

// The given factory; an empty one is a wiring mistake (see Required.h) of who.
TimerFactory requiredTimers(TimerFactory timers, const char* who);

} // namespace wl
