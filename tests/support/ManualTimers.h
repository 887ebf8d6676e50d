#pragma once
// One-shot timers that fire only when the test says so. factory() hands out timers
// that record their delay; fireNext() fires the oldest one still active.
#include "platform/OneShotTimer.h"

#include <chrono>
#include <memory>
#include <vector>

namespace wl::test {

class ManualTimers {
public:
    ManualTimers();
    TimerFactory factory();

    // Delays of every timer started so far, in order.
    std::vector<std::chrono::milliseconds> delays() const;
    // Timers started and neither fired nor cancelled.
    std::size_t activeCount() const;
    // Fires the oldest active timer; false when none is active.
    bool fireNext();
    // Fires the oldest active timer started with this delay; false when there is none.
    bool fireNext(std::chrono::milliseconds delay);
    // Timers with this delay started and neither fired nor cancelled.
    std::size_t activeCount(std::chrono::milliseconds delay) const;

private:
    struct Entry {
        std::chrono::milliseconds delay;
        std::function<void()> fire;
        bool active = true;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> entries;
    };
    std::shared_ptr<State> state_;
};

} // namespace wl::test
