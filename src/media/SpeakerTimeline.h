#pragma once
// Where a stream's 10 ms frames go on the speaker's timeline (48 kHz samples of the steady
// clock): one after another, as the speaker plays them or the monitor hears them; where
// the stream's timing puts them after it broke off, or when it is anchored again.
//
// The server's timings wander by several milliseconds, more on a busy machine, and a sound
// card's clock runs off the steady clock by up to a few hundred parts per million: the
// frames keep their places through the wandering, and follow the drift a sample at a time,
// at the rate it is measured at.
//
// Two streams of one card (what a sink plays and what its monitor hears) run on one clock:
// the timeline of the later one follows the steps of the earlier one, at the same places,
// rather than measuring the drift itself. Measured apart, the two would step at different
// moments and by different amounts, each step moving the one against the other by a sample.

#include "media/PulseStream.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace wl {

class SpeakerTimeline {
public:
    static constexpr int kRate = 48000;
    static constexpr int64_t kFrames = 480;
    // A frame whose timing is further than this from where the frames run (a break the
    // stream did not tell of) is placed where its timing puts it.
    static constexpr int64_t kGap = 30 * kRate / 1000;

    // A frame's first sample. With a leader, a timeline of the same card's sound placed
    // ahead of this one, the frames take the leader's steps where it has placed sound.
    int64_t place(SpeakerTime time, const SpeakerTimeline* leader = nullptr);
    // The next frame goes where its timing puts it.
    void anchorAgain() { started_ = false; }

    bool started() const { return started_; }
    int64_t end() const { return end_; } // after the last frame placed
    int anchors() const { return anchors_; } // how often frames went where their timing put them

private:
    // What the steps taken after `from` up to `to` add up to, or nothing when this timeline
    // did not place the sound there.
    std::optional<int64_t> stepsAfter(int64_t from, int64_t to) const;

    int64_t end_ = 0;
    bool started_ = false;
    int anchors_ = 0;
    double distance_ = 0; // from the places to the timings, smoothed, in samples
    double drift_ = 0; // samples a frame the places follow the timings by
    double slew_ = 0; // what the places still have to follow, in samples
    double corrected_ = 0; // moved towards the timings beyond the drift in this window
    int following_ = 0; // frames placed since the last anchoring
    std::optional<double> windowStart_; // the distance when the window began
    // The steps of the last second: where the frames ran to before each, and by how much.
    std::deque<std::pair<int64_t, int64_t>> steps_;
    int64_t anchoredAt_ = 0; // where the frames last went by their timing
    int64_t ledThrough_ = 0; // up to where a leader's steps were looked at
};

} // namespace wl
