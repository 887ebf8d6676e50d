#include "media/StallWatch.h"

namespace wl {

bool StallWatch::shouldRequestKeyFrame(double now, long long mediaBytes, long long frames)
{
    if (frames != framesDecoded) {
        framesDecoded = frames;
        mediaBytesAtLastFrame = mediaBytes;
        stuckSince.reset();
        return false;
    }
    if (mediaBytes <= mediaBytesAtLastFrame)
        return false;
    if (!stuckSince) {
        stuckSince = now;
        return false;
    }
    if (now - *stuckSince >= stuckFor && now - lastRequest >= requestInterval) {
        lastRequest = now;
        return true;
    }
    return false;
}

} // namespace wl
