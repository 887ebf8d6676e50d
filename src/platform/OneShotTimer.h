#pragma once
// One-shot timers that code with a delay takes from a factory, so tests can fire
// them by hand instead of waiting. The desktop factory (platform/linux/QtTimers.h)
// uses QTimer on the calling thread; tests use ManualTimers (tests/support).

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

} // namespace wl
