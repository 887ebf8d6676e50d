// The audio devices' timing rules in simulated time: where played and heard sound goes on
// the speaker's timeline.

#include "media/SpeakerTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace wl {
namespace {

constexpr int64_t kMinute = 60'000'000;

TEST(AudioTiming, TimelineKeepsInStepWithADriftingCardThroughNoisyTimings)
{
    // An hour of 10 ms frames from a card whose clock runs 200 ppm fast or slow, told by
    // timings with 2 ms of noise: after the first minutes the frames stay within 2 ms of
    // where the card plays them, and never jump.
    for (const double ppm : {200.0, -200.0}) {
        SCOPED_TRACE(ppm);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, 2000);
        SpeakerTimeline timeline;
        const int64_t origin = 3'600'000'000;
        double worst = 0;
        for (int64_t frame = 0; frame < 360'000; ++frame) {
            const double played = static_cast<double>(origin) + static_cast<double>(frame) * 10'000 * (1 + ppm * 1e-6);
            const SpeakerTime time{static_cast<int64_t>(std::llround(played + noise(random))), frame > 0};
            const int64_t at = timeline.place(time);
            if (frame >= 3 * kMinute / 10'000)
                worst = std::max(worst, std::abs(static_cast<double>(at) - played * 48'000 / 1'000'000) / 48);
        }
        EXPECT_EQ(timeline.anchors(), 1) << "placed by the timings alone after the first frame";
        EXPECT_LE(worst, 2.0) << "ms from where the card plays it";
    }
}

} // namespace
} // namespace wl
