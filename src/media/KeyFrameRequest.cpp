#include "media/KeyFrameRequest.h"

#include <atomic>

namespace wl {

namespace {

std::atomic<bool>& flag()
{
    static std::atomic<bool> requested{false};
    return requested;
}

} // namespace

void requestKeyFrame()
{
    flag().store(true);
}

bool keyFrameRequestPending()
{
    return flag().load();
}

bool takeKeyFrameRequest()
{
    return flag().exchange(false);
}

} // namespace wl
