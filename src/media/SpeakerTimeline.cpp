#include "media/SpeakerTimeline.h"

#include <algorithm>
#include <cmath>

namespace wl {

namespace {
// The distance between the timings and the places is smoothed over some 2.5 s: the
// server's timings wander by a few milliseconds, and the places do not follow that (the
// canceller would have to find the echo again each time).
constexpr double kSmoothing = 256;
// How far the places drift from the timings is measured over windows of 30 s, and the
// places follow at that rate, a sample at a time.
constexpr int kDriftWindow = 3000;
// Beyond this smoothed distance (1.25 ms), the places move towards the timings by a sample
// in 25 frames more.
constexpr double kDeadband = 60;
constexpr double kCorrection = 0.04;
// At most this many samples inserted or left out in one frame.
constexpr int64_t kMaxStep = 4;
} // namespace

int64_t SpeakerTimeline::place(SpeakerTime time)
{
    int64_t at = time.us * kRate / 1'000'000;
    const int64_t off = at - end_;
    if (started_ && time.follows && std::abs(off) <= kGap) {
        at = end_;
        distance_ += (static_cast<double>(off) - distance_) / kSmoothing;
        if (++following_ % kDriftWindow == 0) {
            // What the places did not follow of the drift over the window, the corrections
            // beyond the deadband aside.
            if (windowStart_)
                drift_ += (distance_ - *windowStart_ + corrected_) / kDriftWindow;
            windowStart_ = distance_;
            corrected_ = 0;
        }
        slew_ += drift_;
        if (std::abs(distance_) > kDeadband) {
            const double correction = distance_ > 0 ? kCorrection : -kCorrection;
            slew_ += correction;
            corrected_ += correction;
        }
        const auto step = std::clamp(static_cast<int64_t>(std::lround(slew_)), -kMaxStep, kMaxStep);
        slew_ -= static_cast<double>(step);
        distance_ -= static_cast<double>(step);
        at += step;
    } else {
        // A stream that broke off comes back on the same clock: what was learnt of its drift
        // holds; the distance is measured anew.
        if (!started_)
            drift_ = 0;
        distance_ = 0;
        slew_ = 0;
        corrected_ = 0;
        following_ = 0;
        windowStart_.reset();
        ++anchors_;
    }
    started_ = true;
    end_ = at + kFrames;
    return at;
}

} // namespace wl
