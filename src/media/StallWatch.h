#pragma once
// Tells the helper when the picture has stalled while media still arrives, so that it
// asks the host for a key frame: frames stuck for at least half a second while bytes
// keep coming, and at most one request every 1.5 seconds.
#include <optional>

namespace wl {

struct StallWatch {
    long long framesDecoded = 0;
    long long mediaBytesAtLastFrame = 0;
    std::optional<double> stuckSince;
    double lastRequest = 0;

    // now: seconds on any steady clock; mediaBytes: bytes received so far; frames:
    // frames decoded so far. True when a key frame should be requested now.
    bool shouldRequestKeyFrame(double now, long long mediaBytes, long long frames);

    static constexpr double stuckFor = 0.5;
    static constexpr double requestInterval = 1.5;
};

} // namespace wl
