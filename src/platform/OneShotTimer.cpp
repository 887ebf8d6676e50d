#include "platform/OneShotTimer.h"

#include "platform/Log.h"

#include <atomic>

namespace wl {

namespace {

// Stands in where no real timers were handed in: it never fires.
class DormantTimer final : public OneShotTimer {
public:
    void cancel() override { }
    bool isActive() const override { return false; }
};

std::unique_ptr<OneShotTimer> dormantTimer(std::chrono::milliseconds, std::function<void()>)
{
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        Log::line("Wickerlane: a timer was started where no timers were handed in; it will not fire");
    return std::make_unique<DormantTimer>();
}

} // namespace

TimerFactory dormantTimers()
{
    return dormantTimer;
}

TimerFactory timersOr(TimerFactory timers)
{
    return timers ? std::move(timers) : dormantTimers();
}

} // namespace wl
