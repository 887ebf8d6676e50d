#pragma once
// The testbed's timers: Qt timers on a clock that a test can move forward. advance()
// makes every timer due within that time fire at once (in order, on the next turns of the
// event loop) and brings the others nearer by as much, so a test can let minutes pass on
// the program's clock without waiting for them.
#include "platform/OneShotTimer.h"

#include <chrono>
#include <memory>
#include <set>

namespace wl::test {

class WarpTimers {
public:
    WarpTimers();
    TimerFactory factory();
    void advance(std::chrono::milliseconds by);

    struct Entry;
    struct State {
        std::chrono::milliseconds offset{0};
        std::set<Entry*> live;
        std::chrono::steady_clock::time_point now() const { return std::chrono::steady_clock::now() + offset; }
    };

private:
    std::shared_ptr<State> state_;
};

} // namespace wl::test
