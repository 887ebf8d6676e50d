#include "ManualTimers.h"

namespace wl::test {

namespace {
template <typename Entry>
class ManualTimer final : public OneShotTimer {
public:
    explicit ManualTimer(std::weak_ptr<Entry> entry) : entry_(std::move(entry)) { }
    ~ManualTimer() override { cancel(); }
    void cancel() override
    {
        if (auto entry = entry_.lock())
            entry->active = false;
    }
    bool isActive() const override
    {
        auto entry = entry_.lock();
        return entry && entry->active;
    }

private:
    std::weak_ptr<Entry> entry_;
};
} // namespace

ManualTimers::ManualTimers() : state_(std::make_shared<State>()) { }

TimerFactory ManualTimers::factory()
{
    std::weak_ptr<State> weak = state_;
    return [weak](std::chrono::milliseconds delay, std::function<void()> fire) -> std::unique_ptr<OneShotTimer> {
        auto entry = std::make_shared<Entry>(Entry{delay, std::move(fire), true});
        if (auto state = weak.lock())
            state->entries.push_back(entry);
        return std::make_unique<ManualTimer<Entry>>(entry);
    };
}

std::vector<std::chrono::milliseconds> ManualTimers::delays() const
{
    std::vector<std::chrono::milliseconds> result;
    for (const auto& entry : state_->entries)
        result.push_back(entry->delay);
    return result;
}

std::size_t ManualTimers::activeCount() const
{
    std::size_t count = 0;
    for (const auto& entry : state_->entries)
        if (entry->active)
            ++count;
    return count;
}

std::size_t ManualTimers::activeCount(std::chrono::milliseconds delay) const
{
    std::size_t count = 0;
    for (const auto& entry : state_->entries)
        if (entry->active && entry->delay == delay)
            ++count;
    return count;
}

bool ManualTimers::fireNext(std::chrono::milliseconds delay)
{
    // Copied: firing may start new timers.
    auto entries = state_->entries;
    for (const auto& entry : entries) {
        if (!entry->active || entry->delay != delay)
            continue;
        entry->active = false;
        auto fire = entry->fire;
        if (fire)
            fire();
        return true;
    }
    return false;
}

bool ManualTimers::fireNext()
{
    auto entries = state_->entries;
    for (const auto& entry : entries) {
        if (!entry->active)
            continue;
        entry->active = false;
        auto keepEntry = entry;
        auto fire = entry->fire;
        if (fire)
            fire();
        return true;
    }
    return false;
}

} // namespace wl::test
