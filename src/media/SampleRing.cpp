#include "media/SampleRing.h"

#include <algorithm>
#include <cstdint>

namespace {
// What is left in a ring at the least over a second of pairs taken out stands there for
// good: of a burst, or of one sound's card running faster. One frame of it is left out with
// each pair while more than 2 ms stand.
constexpr int kWindowPairs = 100;
constexpr std::size_t kTolerance = 96;
} // namespace

namespace wl {

SampleRing::SampleRing(std::size_t capacity) : buffer_(std::max<std::size_t>(capacity, 1)) { }

void SampleRing::push(const int16_t* samples, std::size_t count)
{
    std::lock_guard lock(mutex_);
    const std::size_t capacity = buffer_.size();
    if (count >= capacity) {
        samples += count - capacity;
        count = capacity;
    }
    const std::size_t overflow = size_ + count > capacity ? size_ + count - capacity : 0;
    head_ = (head_ + overflow) % capacity;
    size_ -= overflow;
    std::size_t tail = (head_ + size_) % capacity;
    for (std::size_t i = 0; i < count; ++i) {
        buffer_[tail] = samples[i];
        tail = tail + 1 == capacity ? 0 : tail + 1;
    }
    size_ += count;
}

std::size_t SampleRing::pop(int16_t* samples, std::size_t count)
{
    std::lock_guard lock(mutex_);
    const std::size_t real = std::min(count, size_);
    for (std::size_t i = 0; i < real; ++i) {
        samples[i] = buffer_[head_];
        head_ = head_ + 1 == buffer_.size() ? 0 : head_ + 1;
    }
    size_ -= real;
    std::fill(samples + real, samples + count, int16_t{0});
    return real;
}

std::size_t SampleRing::size() const
{
    std::lock_guard lock(mutex_);
    return size_;
}

void SampleRing::clear()
{
    std::lock_guard lock(mutex_);
    head_ = 0;
    size_ = 0;
}

void RingBalance::reset()
{
    pairs_ = 0;
    least_ = {SIZE_MAX, SIZE_MAX};
    standing_ = {0, 0};
}

RingBalance::Trim RingBalance::after(std::size_t first, std::size_t second)
{
    least_ = {std::min(least_[0], first), std::min(least_[1], second)};
    if (++pairs_ % kWindowPairs == 0) {
        standing_ = least_;
        least_ = {SIZE_MAX, SIZE_MAX};
    }
    if (standing_[0] > kTolerance && first > 0) {
        --standing_[0];
        return Trim::first;
    }
    if (standing_[1] > kTolerance && second > 0) {
        --standing_[1];
        return Trim::second;
    }
    return Trim::none;
}

} // namespace wl
