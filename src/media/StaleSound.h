#pragma once
// Which microphone frames are sent. Sound recorded longer ago than kStaleUs is left out: a
// source hands over what it held when it was switched on at once (a null source up to two
// seconds), and a thread that ran far behind catches up by skipping, not by sending its
// backlog. A source whose own latency is that long (some wireless headsets) would be skipped
// for good: after kMaxStaleFrames left out in a row, its sound is sent as it comes.

#include <cstdint>
#include <optional>

namespace wl {

class StaleSound {
public:
    static constexpr int64_t kStaleUs = 200'000;
    static constexpr int kMaxStaleFrames = 300;

    // Whether the frame recorded at recordedUs (when the stream's timing is known) is sent now.
    bool keep(std::optional<int64_t> recordedUs, int64_t nowUs)
    {
        if (staleInARow_ < 0 || !recordedUs || nowUs - *recordedUs <= kStaleUs) {
            if (staleInARow_ > 0)
                staleInARow_ = 0;
            return true;
        }
        staleInARow_ = staleInARow_ + 1 < kMaxStaleFrames ? staleInARow_ + 1 : -1;
        return false;
    }

private:
    int staleInARow_ = 0; // -1: the source is late by nature, nothing is left out any more
};

} // namespace wl
