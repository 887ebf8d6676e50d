#include "media/KeyFrameRequest.h"

namespace wl {

std::mutex& keyFrameRequestLock()
{
    static std::mutex lock;
    return lock;
}

bool& keyFrameRequested()
{
    static bool flag = false;
    return flag;
}

void requestKeyFrame()
{
    std::lock_guard guard(keyFrameRequestLock());
    keyFrameRequested() = true;
}

bool takeKeyFrameRequest()
{
    std::lock_guard guard(keyFrameRequestLock());
    bool wanted = keyFrameRequested();
    keyFrameRequested() = false;
    return wanted;
}

} // namespace wl
