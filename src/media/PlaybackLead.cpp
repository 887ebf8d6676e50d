#include "media/PlaybackLead.h"

#include <algorithm>

namespace wl {

void PlaybackLead::started(int64_t nowUs)
{
    startedUs_ = nowUs;
    calmSinceUs_ = nowUs;
}

bool PlaybackLead::ranDry(int64_t nowUs)
{
    calmSinceUs_ = nowUs;
    if (nowUs - startedUs_ < kStartingUs || ms_ >= kMaxMs)
        return false;
    ms_ = std::min(ms_ + kStepMs, kMaxMs);
    return true;
}

bool PlaybackLead::played(int64_t nowUs)
{
    if (ms_ <= baseMs_ || nowUs - calmSinceUs_ < kCalmUs)
        return false;
    ms_ = std::max(ms_ - kStepMs, baseMs_);
    calmSinceUs_ = nowUs;
    return true;
}

} // namespace wl
