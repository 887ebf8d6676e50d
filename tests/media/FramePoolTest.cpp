// The capture's frame pool: a released buffer comes back, a buffer beyond the bound is
// not kept, and a new size drops the buffers of the old one.
#include "media/FramePool.h"

#include <api/video/i420_buffer.h>

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

using Buffer = rtc::scoped_refptr<webrtc::I420Buffer>;

// Lets go of the buffer and tells whether someone else (the pool) still holds it.
bool stillHeldAfterRelease(Buffer& buffer)
{
    return buffer.release()->Release() == rtc::RefCountReleaseStatus::kOtherRefsRemained;
}

TEST(FramePool, ReusesReleasedBuffersWithinItsBoundAndDropsThemWhenTheSizeChanges)
{
    constexpr std::size_t kBound = 3;
    wl::FramePool pool(kBound);

    // WebRTC holds more frames than the pool keeps: every one gets a buffer of its own.
    std::vector<Buffer> held;
    std::set<const uint8_t*> memory;
    for (std::size_t i = 0; i < kBound + 2; ++i) {
        held.push_back(pool.i420(1920, 1080));
        ASSERT_TRUE(held.back());
        EXPECT_EQ(held.back()->width(), 1920);
        EXPECT_EQ(held.back()->height(), 1080);
        memory.insert(held.back()->DataY());
    }
    EXPECT_EQ(memory.size(), kBound + 2);
    std::set<const uint8_t*> kept;
    for (std::size_t i = 0; i < held.size(); ++i) {
        const uint8_t* data = held[i]->DataY();
        if (stillHeldAfterRelease(held[i]))
            kept.insert(data);
    }
    EXPECT_EQ(kept.size(), kBound) << "the pool keeps its bound and no more";

    // Released, they are handed out again: the same memory.
    held.clear();
    std::set<const uint8_t*> again;
    for (std::size_t i = 0; i < kBound; ++i) {
        held.push_back(pool.i420(1920, 1080));
        again.insert(held.back()->DataY());
    }
    EXPECT_EQ(again, kept);

    // Another size: buffers of that size, and the old ones are no longer kept (the one
    // still held is freed when let go).
    Buffer smaller = pool.i420(1280, 720);
    ASSERT_TRUE(smaller);
    EXPECT_EQ(smaller->width(), 1280);
    EXPECT_EQ(smaller->height(), 720);
    EXPECT_EQ(smaller->StrideY(), 1280);
    EXPECT_FALSE(stillHeldAfterRelease(held.front()));
    const uint8_t* data = smaller->DataY();
    EXPECT_TRUE(stillHeldAfterRelease(smaller));
    EXPECT_EQ(pool.i420(1280, 720)->DataY(), data);
}

} // namespace
