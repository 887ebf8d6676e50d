// The audio devices' timing rules in simulated time: where played and heard sound goes on
// the speaker's timeline, the rings between two sound cards, the playback's lead and which
// microphone sound is sent.

#include "media/PlaybackLead.h"
#include "media/SampleRing.h"
#include "media/SpeakerTimeline.h"
#include "media/StaleSound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace wl {
namespace {

constexpr int64_t kMinute = 60'000'000;

TEST(AudioTiming, TimelineKeepsInStepWithADriftingCardThroughNoisyTimings)
{
    // An hour of 10 ms frames from a card whose clock runs 200 ppm fast or slow, told by
    // timings with 2 ms of noise: after the first minutes the frames stay within 2 ms of
    // where the card plays them, and never jump. What its monitor hears, told by timings
    // with noise of their own and placed 50 ms later, follows the played frames' steps: the
    // two stay the same number of samples apart, as the echo does.
    for (const double ppm : {200.0, -200.0}) {
        SCOPED_TRACE(ppm);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, 2000);
        SpeakerTimeline timeline;
        SpeakerTimeline heard;
        const int64_t origin = 3'600'000'000;
        constexpr int64_t kFrames = 360'000;
        constexpr int64_t kHeardLater = 5;
        std::vector<int64_t> placed(kFrames);
        const auto playedUs = [&](int64_t frame) {
            return static_cast<double>(origin) + static_cast<double>(frame) * 10'000 * (1 + ppm * 1e-6);
        };
        double worst = 0;
        std::optional<int64_t> apart;
        int64_t worstApart = 0;
        for (int64_t frame = 0; frame < kFrames + kHeardLater; ++frame) {
            if (frame < kFrames) {
                const double played = playedUs(frame);
                const SpeakerTime time{static_cast<int64_t>(std::llround(played + noise(random))), frame > 0};
                placed[frame] = timeline.place(time);
                if (frame >= 3 * kMinute / 10'000)
                    worst = std::max(worst,
                                     std::abs(static_cast<double>(placed[frame]) - played * 48'000 / 1'000'000) / 48);
            }
            if (const int64_t h = frame - kHeardLater; h >= 0) {
                const SpeakerTime time{static_cast<int64_t>(std::llround(playedUs(h) + noise(random))), h > 0};
                const int64_t distance = heard.place(time, &timeline) - placed[h];
                if (!apart)
                    apart = distance;
                worstApart = std::max(worstApart, std::abs(distance - *apart));
            }
        }
        EXPECT_EQ(timeline.anchors(), 1) << "placed by the timings alone after the first frame";
        EXPECT_LE(worst, 2.0) << "ms from where the card plays it";
        EXPECT_EQ(heard.anchors(), 1);
        EXPECT_LE(worstApart, 4) << "samples the heard frames moved against the played ones";
    }
}

TEST(AudioTiming, RingsOfTwoCardsThatDriftApartKeepTheirBacklog)
{
    // Thirty minutes of a microphone 200 ppm fast or slow against the system sound, whose
    // monitor delivers three frames at a time; both go on together as soon as both are there
    // (as the host's mix takes them). Neither ring reaches its cap (which would lose 10 ms at
    // once), and the backlog stays near where it began.
    constexpr std::size_t kFrames = 480;
    constexpr std::size_t kMicrophoneCap = 12 * kFrames, kSystemCap = 15 * kFrames;
    for (const double ppm : {200.0, -200.0}) {
        SCOPED_TRACE(ppm);
        SampleRing microphone(kMicrophoneCap + kFrames), system(2 * (kSystemCap + kFrames));
        RingBalance balance;
        const std::vector<int16_t> frame(2 * kFrames, 1);
        std::vector<int16_t> out(2 * kFrames);
        const double microphonePeriod = 10'000 / (1 + ppm * 1e-6);
        double nextMicrophone = 0, nextSystem = 0;
        std::size_t mostBehind = 0, atCap = 0, trimmed = 0;
        while (nextMicrophone < 30 * kMinute) {
            if (nextMicrophone < nextSystem) {
                microphone.push(frame.data(), kFrames);
                nextMicrophone += microphonePeriod;
            } else {
                for (int burst = 0; burst < 3; ++burst)
                    system.push(frame.data(), 2 * kFrames);
                nextSystem += 30'000;
            }
            atCap += microphone.size() > kMicrophoneCap || system.size() > 2 * kSystemCap;
            while (microphone.size() >= kFrames && system.size() >= 2 * kFrames) {
                microphone.pop(out.data(), kFrames);
                system.pop(out.data(), 2 * kFrames);
                switch (balance.after(microphone.size(), system.size() / 2)) {
                case RingBalance::Trim::first: trimmed += microphone.pop(out.data(), 1); break;
                case RingBalance::Trim::second: trimmed += system.pop(out.data(), 2) / 2; break;
                case RingBalance::Trim::none: break;
                }
            }
            if (nextMicrophone > kMinute)
                mostBehind = std::max({mostBehind, microphone.size(), system.size() / 2});
        }
        EXPECT_EQ(atCap, 0u) << "a ring reached its cap";
        EXPECT_LE(mostBehind, 5 * kFrames) << "frames waiting at most";
        const double drifted = 30 * 60 * 48'000 * std::abs(ppm) * 1e-6;
        EXPECT_NEAR(static_cast<double>(trimmed), drifted, 5 * kFrames)
            << "single frames left out, as many as the clocks drifted apart less what waits";
    }
}

TEST(AudioTiming, PlaybackLeadAndStaleMicrophoneSound)
{
    // The playback keeps more ahead each time it runs dry (not as a stream starts), and less
    // again after two minutes without a break, down to where it began.
    PlaybackLead lead(40);
    lead.started(0);
    EXPECT_FALSE(lead.ranDry(200'000)) << "running dry as it starts";
    EXPECT_TRUE(lead.ranDry(5'000'000));
    EXPECT_TRUE(lead.ranDry(6'000'000));
    EXPECT_EQ(lead.ms(), 80);
    for (int64_t now = 6'000'000; now < 127'000'000; now += 10'000)
        lead.played(now);
    EXPECT_EQ(lead.ms(), 60) << "after two minutes";
    lead.ranDry(128'000'000);
    EXPECT_EQ(lead.ms(), 80);
    for (int i = 0; i < 11; ++i)
        lead.ranDry(260'000'000 + i);
    EXPECT_EQ(lead.ms(), 200) << "at most";
    lead.started(300'000'000); // the engine restarted: what was learnt holds
    int64_t now = 300'000'000;
    while (lead.ms() > 40 && now < 300'000'000 + 30 * kMinute)
        lead.played(now += 10'000);
    EXPECT_EQ(lead.ms(), 40);
    EXPECT_NEAR(static_cast<double>(now - 300'000'000) / kMinute, 16.0, 0.1) << "minutes back down";
    EXPECT_FALSE(lead.played(now + 3 * kMinute)) << "not below where it began";

    // Microphone sound recorded more than 200 ms ago is left out, until 300 frames in a
    // row were: then it is sent as it comes.
    StaleSound stale;
    int64_t clock = 1'000'000'000;
    // A frame recorded `ago` before the next 10 ms tick: whether it is sent.
    const auto recorded = [&](int64_t ago) {
        clock += 10'000;
        return stale.keep(clock - ago, clock);
    };
    EXPECT_TRUE(recorded(190'000));
    EXPECT_TRUE(stale.keep(std::nullopt, clock)) << "no timing told yet";
    for (int i = 0; i < 299; ++i)
        EXPECT_FALSE(recorded(250'000));
    EXPECT_TRUE(recorded(20'000)) << "fresh sound again";
    int leftOut = 0;
    for (int i = 0; i < 400; ++i)
        leftOut += !recorded(2'000'000);
    EXPECT_EQ(leftOut, 300);
    EXPECT_TRUE(recorded(2'000'000)) << "a source late by nature";
}

} // namespace
} // namespace wl
