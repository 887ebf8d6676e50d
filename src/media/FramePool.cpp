#include "media/FramePool.h"

#include <api/video/i420_buffer.h>
#include <common_video/include/video_frame_buffer_pool.h>

namespace wl {

FramePool::FramePool(std::size_t buffers) : pool_(std::make_unique<webrtc::VideoFrameBufferPool>(false, buffers)) { }

FramePool::~FramePool() = default;

rtc::scoped_refptr<webrtc::I420Buffer> FramePool::i420(int width, int height)
{
    {
        // WebRTC's pool reuses a buffer once its own reference is the last one; it drops
        // the others when the size changes and hands out null when all are held.
        std::lock_guard guard(lock_);
        if (auto buffer = pool_->CreateI420Buffer(width, height))
            return buffer;
    }
    return webrtc::I420Buffer::Create(width, height);
}

} // namespace wl
