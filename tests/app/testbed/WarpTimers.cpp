#include "WarpTimers.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace wl::test {

struct WarpTimers::Entry {
    std::chrono::steady_clock::time_point due;
    QPointer<QTimer> timer;
};

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds until(Clock::time_point due, Clock::time_point now)
{
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(due - now));
}

class WarpTimer final : public OneShotTimer {
public:
    WarpTimer(std::shared_ptr<WarpTimers::State> state, std::chrono::milliseconds delay, std::function<void()> fire)
        : state_(std::move(state))
    {
        entry_.due = state_->now() + delay;
        entry_.timer = new QTimer;
        entry_.timer->setSingleShot(true);
        entry_.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(entry_.timer, &QTimer::timeout, entry_.timer, [fire = std::move(fire)] {
            // The callback may destroy this timer object; keep the function alive.
            auto keep = fire;
            if (keep)
                keep();
        });
        entry_.timer->start(delay);
        state_->live.insert(&entry_);
    }

    ~WarpTimer() override
    {
        state_->live.erase(&entry_);
        if (entry_.timer) {
            entry_.timer->stop();
            entry_.timer->deleteLater();
        }
    }

    void cancel() override
    {
        if (entry_.timer)
            entry_.timer->stop();
    }

    bool isActive() const override { return entry_.timer && entry_.timer->isActive(); }

private:
    std::shared_ptr<WarpTimers::State> state_;
    WarpTimers::Entry entry_;
};

} // namespace

WarpTimers::WarpTimers() : state_(std::make_shared<State>()) { }

TimerFactory WarpTimers::factory()
{
    auto state = state_;
    return [state](std::chrono::milliseconds delay, std::function<void()> fire) -> std::unique_ptr<OneShotTimer> {
        return std::make_unique<WarpTimer>(state, delay, std::move(fire));
    };
}

void WarpTimers::advance(std::chrono::milliseconds by)
{
    state_->offset += by;
    // Earliest first, so that timers due within the jump fire in their order.
    std::vector<Entry*> entries(state_->live.begin(), state_->live.end());
    std::sort(entries.begin(), entries.end(), [](Entry* a, Entry* b) { return a->due < b->due; });
    const auto now = state_->now();
    for (Entry* entry : entries)
        if (entry->timer && entry->timer->isActive())
            entry->timer->start(until(entry->due, now));
}

} // namespace wl::test
