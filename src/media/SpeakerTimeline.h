#pragma once
// Where a stream's 10 ms frames go on the speaker's timeline (48 kHz samples of the steady
// clock): one after another, as the speaker plays them or the monitor hears them; where
// the stream's timing puts them after it broke off, or when it is anchored again.
//
// The server's timings wander by several milliseconds, more on a busy machine, and a sound
// card's clock runs off the steady clock by up to a few hundred parts per million: the
// frames keep their places through the wandering, and follow the drift a sample at a time,
// at the rate it is measured at.

#include "media/PulseStream.h"

#include <cstdint>
#include <optional>

namespace wl {

class SpeakerTimeline {
public:
    static constexpr int kRate = 48000;
    static constexpr int64_t kFrames = 480;
    // A frame whose timing is further than this from where the frames run (a break the
    // stream did not tell of) is placed where its timing puts it.
    static constexpr int64_t kGap = 30 * kRate / 1000;

    // A frame's first sample.
    int64_t place(SpeakerTime time);
    // The next frame goes where its timing puts it.
    void anchorAgain() { started_ = false; }

    bool started() const { return started_; }
    int64_t end() const { return end_; } // after the last frame placed
    int anchors() const { return anchors_; } // how often frames went where their timing put them

private:
    int64_t end_ = 0;
    bool started_ = false;
    int anchors_ = 0;
    double distance_ = 0; // from the places to the timings, smoothed, in samples
    double drift_ = 0; // samples a frame the places follow the timings by
    double slew_ = 0; // what the places still have to follow, in samples
    double corrected_ = 0; // moved towards the timings beyond the drift in this window
    int following_ = 0; // frames placed since the last anchoring
    std::optional<double> windowStart_; // the distance when the window began
};

} // namespace wl
