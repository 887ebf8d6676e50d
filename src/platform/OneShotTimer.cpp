#include "platform/OneShotTimer.h"

#include "platform/Log.h"

#include <atomic>
#include <mutex>

namespace wl {

namespace {

// Stands in until start-up installs real timers: it never fires.
class DormantTimer final : public OneShotTimer {
public:
    void cancel() override { }
    bool isActive() const override { return false; }
};

std::unique_ptr<OneShotTimer> dormantTimer(std::chrono::milliseconds, std::function<void()>)
{
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        Log::line("Wickerlane: a timer was started before any timers were installed; it will not fire");
    return std::make_unique<DormantTimer>();
}

std::mutex standardLock;
TimerFactory& standardSlot()
{
    static TimerFactory slot;
    return slot;
}

} // namespace

TimerFactory dormantTimers()
{
    return dormantTimer;
}

TimerFactory standardTimers()
{
    std::lock_guard guard(standardLock);
    if (standardSlot())
        return standardSlot();
    return dormantTimer;
}

void setStandardTimers(TimerFactory timers)
{
    std::lock_guard guard(standardLock);
    standardSlot() = std::move(timers);
}

TimerFactory timersOr(TimerFactory timers)
{
    return timers ? std::move(timers) : standardTimers();
}

} // namespace wl
