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
// A leader's steps are kept this long (samples): far longer than its sound is ahead.
constexpr int64_t kStepMemory = SpeakerTimeline::kRate;
} // namespace

std::optional<int64_t> SpeakerTimeline::stepsAfter(int64_t from, int64_t to) const
{
    if (!started_ || to > end_ || from < anchoredAt_ || from < end_ - kStepMemory)
        return std::nullopt;
    int64_t sum = 0;
    for (const auto& [where, step] : steps_)
        if (where > from && where <= to)
            sum += step;
    return sum;
}

int64_t SpeakerTimeline::place(SpeakerTime time, const SpeakerTimeline* leader)
{
    int64_t at = time.us * kRate / 1'000'000;
    const int64_t off = at - end_;
    if (started_ && time.follows && std::abs(off) <= kGap) {
        at = end_;
        distance_ += (static_cast<double>(off) - distance_) / kSmoothing;
        // Where the leader placed this sound, its steps are this frame's.
        const auto led = leader ? leader->stepsAfter(ledThrough_, end_) : std::nullopt;
        ledThrough_ = end_;
        if (led) {
            distance_ -= static_cast<double>(*led);
            at += *led;
            slew_ = 0;
            corrected_ = 0;
            windowStart_.reset();
            following_ = 0;
            steps_.clear();
            end_ = at + kFrames;
            return at;
        }
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
        if (step != 0)
            steps_.emplace_back(end_, step);
        while (!steps_.empty() && steps_.front().first < end_ - kStepMemory)
            steps_.pop_front();
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
        anchoredAt_ = at;
        ledThrough_ = at;
        // A restarted stream plays over what its predecessor left unplayed.
        while (!steps_.empty() && steps_.back().first >= at)
            steps_.pop_back();
    }
    started_ = true;
    end_ = at + kFrames;
    return at;
}

} // namespace wl
