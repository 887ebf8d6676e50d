#pragma once
// A bounded ring of 16-bit samples between two audio threads, under its own small lock.
// A full ring drops its oldest samples; reading more than it holds pads with silence.

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

} // namespace wl
