#pragma once
// Frame buffers for the screen capture, used again once WebRTC lets go of them. A 1080p
// I420 buffer is larger than the allocator's mmap threshold (see DesktopStartup), so a
// fresh one per frame is a fresh mapping, faulted in page by page and unmapped again when
// the frame is released; the pool keeps a handful of them instead.
//
// Bounded: it keeps at most `buffers` buffers of the size last asked for. When WebRTC
// holds all of them, the next buffer is one of its own, freed when released. Asking for
// another size drops the kept buffers (those still held are freed when WebRTC lets go).
//
// One pool outlives the sessions (the media engine keeps it); every member may be
// called from any thread.

#include <api/scoped_refptr.h>

#include <cstddef>
#include <memory>
#include <mutex>

namespace webrtc {
class I420Buffer;
class VideoFrameBufferPool;
} // namespace webrtc

namespace wl {

class FramePool {
public:
    static constexpr std::size_t kBuffers = 4;

    explicit FramePool(std::size_t buffers = kBuffers);
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // A buffer of that size, its pixels undefined; never null.
    rtc::scoped_refptr<webrtc::I420Buffer> i420(int width, int height);

private:
    std::mutex lock_;
    std::unique_ptr<webrtc::VideoFrameBufferPool> pool_; // under lock_
};

} // namespace wl
