#pragma once
// A bounded ring of 16-bit samples between two audio threads, under its own small lock.
// A full ring drops its oldest samples; reading more than it holds pads with silence.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace wl {

class SampleRing {
public:
    explicit SampleRing(std::size_t capacity);

    void push(const int16_t* samples, std::size_t count);
    // Copies count samples out; returns how many were real (the rest is silence).
    std::size_t pop(int16_t* samples, std::size_t count);
    std::size_t size() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<int16_t> buffer_;
    std::size_t head_ = 0; // next to read
    std::size_t size_ = 0;
};

// Two rings that two sound cards fill, emptied together 10 ms of each at a time. The cards'
// clocks differ a little (a few hundred parts per million at most): the one that runs faster
// would gather a backlog until its ring's cap, then lose 10 ms at once. Instead what stands in
// a ring for a second on end beyond a little goes, a single frame at a time.
class RingBalance {
public:
    enum class Trim { none, first, second };
    void reset();
    // The backlogs in frames after a pair was taken out: which ring gives up one frame.
    Trim after(std::size_t first, std::size_t second);

private:
    int pairs_ = 0; // taken out since the reset
    std::array<std::size_t, 2> least_{SIZE_MAX, SIZE_MAX}; // the backlogs at the least in this second
    std::array<std::size_t, 2> standing_{0, 0}; // and in the last, less what went since
};

} // namespace wl
