#include "RateLimiter.h"

#include <algorithm>

namespace wl::service {

RateLimiter::RateLimiter(std::size_t limit, std::chrono::milliseconds window)
    : limit_(static_cast<double>(limit)),
      perMillisecond_(static_cast<double>(limit) / static_cast<double>(std::max<std::int64_t>(1, window.count())))
{
}

double RateLimiter::refill(Bucket& bucket, Clock::time_point now) const
{
    auto elapsed = std::chrono::duration<double, std::milli>(now - bucket.updated).count();
    if (elapsed > 0) {
        bucket.tokens = std::min(limit_, bucket.tokens + elapsed * perMillisecond_);
        bucket.updated = now;
    }
    return bucket.tokens;
}

bool RateLimiter::allow(const std::string& key, Clock::time_point now)
{
    auto [it, inserted] = buckets_.try_emplace(key, Bucket{limit_, now});
    if (refill(it->second, now) < 1.0)
        return false;
    it->second.tokens -= 1.0;
    return true;
}

void RateLimiter::prune(Clock::time_point now)
{
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        if (refill(it->second, now) >= limit_)
            it = buckets_.erase(it);
        else
            ++it;
    }
}

} // namespace wl::service
