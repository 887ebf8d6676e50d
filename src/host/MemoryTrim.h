#pragma once
// Hands the memory malloc keeps free back to the system (malloc_trim) on a thread of its
// own. With a large heap over many arenas one trim takes tens of milliseconds, which the
// main thread, where take-over input, the overlay, the banner and signalling run, cannot
// spare. Requests never pile up: one trim at a time, and the requests made while one is
// waiting or under way are served by a single trim after it. The thread starts with the
// first request and ends with the process: a trim under way then finishes first, and a
// waiting one is dropped.
//
// Callable from any thread.

#include <chrono>
#include <cstdint>

namespace wl {

class MemoryTrim {
public:
    // Asks for a trim soon.
    static void request();

    struct Figures {
        std::uint64_t requests = 0;
        std::uint64_t trims = 0;
        std::chrono::microseconds last{0}, longest{0};
    };
    // What the trims so far took.
    static Figures figures();
};

} // namespace wl
