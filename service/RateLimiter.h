#pragma once
// Per-key rate limits as token buckets: a key may spend `limit` events at once, and gets
// them back continuously at `limit` per `window`. Memory stays one small entry per key,
// whatever the limit.

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace wl::service {

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    RateLimiter(std::size_t limit, std::chrono::milliseconds window);

    // Takes one event for key; false when the key is over its limit (nothing taken).
    bool allow(const std::string& key, Clock::time_point now = Clock::now());
    // Forgets keys whose bucket has refilled (keeps memory bounded).
    void prune(Clock::time_point now = Clock::now());
    std::size_t trackedKeys() const { return buckets_.size(); }

private:
    struct Bucket {
        double tokens;
        Clock::time_point updated;
    };
    double refill(Bucket& bucket, Clock::time_point now) const;

    double limit_;
    double perMillisecond_;
    std::unordered_map<std::string, Bucket> buckets_;
};

} // namespace wl::service
