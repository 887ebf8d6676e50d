#pragma once
// The process-wide key-frame request: the host controller sets the flag under
// keyFrameRequestLock(); our encoders read and clear it before their next frame and
// make that frame a key frame.
#include <mutex>

namespace wl {

std::mutex& keyFrameRequestLock();
// The flag itself; touch it only while holding keyFrameRequestLock().
bool& keyFrameRequested();

// Convenience: set the flag under the lock.
void requestKeyFrame();
// Reads and clears the flag under the lock.
bool takeKeyFrameRequest();

} // namespace wl
