#pragma once
// How much sound a playback keeps ahead of the speaker. A playback that runs dry (its thread
// ran late on a busy machine) breaks the voice and moves its echo: each time, it keeps more
// ahead, up to a limit. After minutes without a break it keeps less again, step by step down
// to where it began: a machine that was busy once does not delay the voice for good. A
// stream that runs dry just as it starts tells nothing of the machine.
//
// Times are microseconds of the steady clock. Not thread-safe: the playback's thread alone.

#include <cstdint>

namespace wl {

class PlaybackLead {
public:
    static constexpr int kStepMs = 20;
    static constexpr int kMaxMs = 200;
    static constexpr int64_t kCalmUs = 120'000'000; // two minutes without a break
    static constexpr int64_t kStartingUs = 1'000'000; // a stream's first second

    explicit PlaybackLead(int baseMs) : baseMs_(baseMs), ms_(baseMs) { }

    int ms() const { return ms_; }
    // A stream starts playing.
    void started(int64_t nowUs);
    // The playback ran dry; true when it keeps more ahead now.
    bool ranDry(int64_t nowUs);
    // A frame followed the last one; true when it keeps less ahead now.
    bool played(int64_t nowUs);

private:
    int baseMs_;
    int ms_;
    int64_t startedUs_ = 0;
    int64_t calmSinceUs_ = 0;
};

} // namespace wl
