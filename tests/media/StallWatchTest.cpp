#include "media/StallWatch.h"

#include <gtest/gtest.h>

namespace {

struct Reading {
    double now;
    long long bytes;
    long long frames;
    bool expected;
    const char* why;
};

void play(const std::vector<Reading>& readings)
{
    wl::StallWatch watch;
    for (const auto& r : readings)
        EXPECT_EQ(watch.shouldRequestKeyFrame(r.now, r.bytes, r.frames), r.expected) << r.why << " at " << r.now;
}

TEST(StallWatch, HalfSecondStuckWithBytesArrivingAsksOnce)
{
    play({
        {10.0, 1000, 5, false, "new frame count"},
        {10.1, 1500, 5, false, "first stuck reading starts the clock"},
        {10.599, 2000, 5, false, "just under 0.5 s stuck"},
        {10.6, 2500, 5, true, "0.5 s stuck and no request for 1.5 s"},
        {10.7, 3000, 5, false, "asked 0.1 s ago"},
        {12.099, 3500, 5, false, "just under 1.5 s since the request"},
        {12.1, 4000, 5, true, "1.5 s since the last request"},
    });
}

TEST(StallWatch, NoRequestWithoutNewBytesOrWhileFramesMove)
{
    play({
        {1.0, 100, 1, false, "first frame"},
        {2.0, 100, 1, false, "no bytes since the last frame: the sender is quiet, not stuck"},
        {3.0, 90, 1, false, "fewer bytes (counter reset) is not progress"},
        {3.1, 200, 2, false, "frames move again"},
        {3.2, 300, 2, false, "stuck clock starts"},
        {3.6, 400, 3, false, "a new frame clears the stuck clock"},
        {3.7, 500, 3, false, "stuck clock restarts"},
        {4.1, 600, 3, false, "only 0.4 s stuck"},
        {4.2, 700, 3, true, "0.5 s stuck"},
    });
}

TEST(StallWatch, LastRequestStartsAtZero)
{
    // lastRequest starts at 0: early in a session (now < 1.5) no request can be made.
    play({
        {0.1, 10, 0, false, "unchanged count, bytes grew: clock starts"},
        {1.0, 20, 0, false, "0.9 s stuck but only 1.0 s since time zero"},
        {1.5, 30, 0, true, "1.4 s stuck, 1.5 s since zero"},
    });
}

TEST(StallWatch, NewFrameStoresCountAndBytes)
{
    wl::StallWatch watch;
    watch.shouldRequestKeyFrame(5, 1234, 7);
    EXPECT_EQ(watch.framesDecoded, 7);
    EXPECT_EQ(watch.mediaBytesAtLastFrame, 1234);
    EXPECT_FALSE(watch.stuckSince.has_value());
    watch.shouldRequestKeyFrame(5.2, 2000, 7);
    ASSERT_TRUE(watch.stuckSince.has_value());
    EXPECT_DOUBLE_EQ(*watch.stuckSince, 5.2);
}

} // namespace
