// The screen capturer on the private Xvfb (X11ScreenSource), with a sink on its video source.
#include "LoopbackPeers.h"
#include "XScreen.h"

#include "media/VideoFeedback.h"
#include "media/ScreenCapturer.h"
#include "platform/CaptureExclusion.h"
#include "platform/Log.h"
#include "platform/linux/X11ScreenSource.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;
using wl::test::FrameSink;
using wl::test::XScreen;

void startAndWait(wl::ScreenCapturer& capturer, uint32_t display, bool tenBit)
{
    std::promise<void> started;
    capturer.start(display, tenBit, [&] { started.set_value(); });
    ASSERT_EQ(started.get_future().wait_for(5s), std::future_status::ready);
}

long long captured(wl::ScreenCapturer& capturer)
{
    return capturer.counts().framesCaptured;
}

// Mean luma over a rectangle of an I420 frame.
double meanLuma(const webrtc::VideoFrame& frame, int x, int y, int w, int h)
{
    auto i420 = frame.video_frame_buffer()->ToI420();
    double total = 0;
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col)
            total += i420->DataY()[row * i420->StrideY() + col];
    return total / (w * h);
}

int maxLuma(const webrtc::VideoFrame& frame, int x, int y, int w, int h)
{
    auto i420 = frame.video_frame_buffer()->ToI420();
    int best = 0;
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col)
            best = std::max<int>(best, i420->DataY()[row * i420->StrideY() + col]);
    return best;
}

class ScreenCapturerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(screen.ok()) << "needs the test Xvfb (scripts/with-test-env)";
        source = wl::ScreenVideoSource::create();
        asSource()->AddOrUpdateSink(&sink, rtc::VideoSinkWants());
        capturer = std::make_unique<wl::ScreenCapturer>(source, std::make_unique<wl::X11ScreenSource>(), exclusion,
                                                        framePool, feedback);
    }
    void TearDown() override
    {
        capturer.reset();
        if (source)
            asSource()->RemoveSink(&sink);
    }

    rtc::VideoSourceInterface<webrtc::VideoFrame>* asSource() { return source.get(); }

    XScreen screen;
    rtc::scoped_refptr<wl::ScreenVideoSource> source;
    std::shared_ptr<wl::FramePool> framePool = std::make_shared<wl::FramePool>();
    FrameSink sink;
    std::shared_ptr<wl::VideoFeedback> feedback = std::make_shared<wl::VideoFeedback>();
    std::shared_ptr<wl::CaptureExclusion> exclusion = std::make_shared<wl::CaptureExclusion>();
    std::unique_ptr<wl::ScreenCapturer> capturer;
};

TEST_F(ScreenCapturerTest, StartsOnTheFirstDisplayAndCountsFrames)
{
    EXPECT_FALSE(capturer->captureSize());
    EXPECT_FALSE(capturer->stream());
    EXPECT_FALSE(capturer->tenBitRefused());
    wl::CapturedLog log;
    startAndWait(*capturer, 0xdead, false); // no such display: the first one
    ASSERT_TRUE(capturer->stream());
    ASSERT_TRUE(capturer->captureSize());
    EXPECT_EQ(capturer->captureSize()->width, screen.width());
    EXPECT_EQ(capturer->captureSize()->height, screen.height());
    ASSERT_TRUE(sink.waitFor([](const webrtc::VideoFrame&) { return true; }, 5s));
    auto frame = sink.last();
    EXPECT_EQ(frame->width(), screen.width());
    EXPECT_FALSE(log.contains("10-bit"));
    EXPECT_TRUE(log.contains("Wickerlane: display 57005 not found; sharing display "));

    auto stream = capturer->takeStream();
    EXPECT_FALSE(capturer->stream());
    std::promise<void> stopped;
    capturer->stop(stream, [&] { stopped.set_value(); });
    stopped.get_future().wait();
    long long after = captured(*capturer);
    EXPECT_GT(after, 0);
    std::promise<void> later;
    capturer->sync([&] { later.set_value(); });
    later.get_future().wait();
    std::this_thread::sleep_for(100ms); // three frame intervals: none may come
    EXPECT_EQ(captured(*capturer), after);
    capturer->stop(nullptr); // nothing to stop: nothing happens
}

TEST_F(ScreenCapturerTest, TenBitWishIsRefusedOnX11AndFallsBackToEightBits)
{
    wl::CapturedLog log;
    startAndWait(*capturer, 0, true);
    EXPECT_TRUE(capturer->tenBit.load());
    EXPECT_TRUE(capturer->tenBitRefused());
    EXPECT_TRUE(log.contains("Wickerlane: 10-bit capture refused, using 8-bit: "));
    EXPECT_FALSE(log.contains("screen capture failed"));
    ASSERT_TRUE(capturer->stream()) << "capture runs in 8 bits";
    ASSERT_TRUE(capturer->configuration());
    EXPECT_EQ(capturer->configuration()->pixelFormat, wl::ScreenCapturer::PixelFormat::yuv420Full);
    auto frame = sink.waitFor([](const webrtc::VideoFrame&) { return true; }, 5s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->video_frame_buffer()->type(), webrtc::VideoFrameBuffer::Type::kI420);
    // Once refused, applying the format again stays quiet.
    capturer->applyPixelFormat();
    EXPECT_FALSE(log.contains("staying 8-bit"));
}

TEST_F(ScreenCapturerTest, TenBitWishRaisedLaterIsRefusedWhileRunning)
{
    wl::CapturedLog log;
    startAndWait(*capturer, 0, false);
    EXPECT_FALSE(capturer->tenBitRefused());
    capturer->tenBit = true;
    capturer->applyPixelFormat();
    EXPECT_TRUE(log.contains("Wickerlane: 10-bit capture refused, staying 8-bit: "));
    EXPECT_TRUE(capturer->tenBitRefused());
    EXPECT_EQ(capturer->configuration()->pixelFormat, wl::ScreenCapturer::PixelFormat::yuv420Full);
    ASSERT_TRUE(capturer->stream());
}

TEST_F(ScreenCapturerTest, ApplyPixelFormatWithoutStreamDoesNothing)
{
    wl::CapturedLog log;
    capturer->tenBit = true;
    capturer->applyPixelFormat();
    EXPECT_FALSE(capturer->tenBitRefused());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ScreenCapturerTest, ExcludedWindowIsBlackInTheSentFrame)
{
    screen.fill(0, 0, screen.width(), screen.height(), {255, 255, 255});
    auto window = screen.showWindow(200, 100, 300, 200, {250, 250, 250});
    startAndWait(*capturer, 0, false);
    auto visible = sink.waitFor([](const webrtc::VideoFrame& f) { return meanLuma(f, 210, 110, 280, 180) > 230; }, 5s);
    ASSERT_TRUE(visible) << "the window shows while it is not registered";

    exclusion->add(window);
    auto black = sink.waitFor([](const webrtc::VideoFrame& f) { return meanLuma(f, 200, 100, 300, 200) < 2; }, 5s);
    exclusion->remove(window);
    ASSERT_TRUE(black) << "registered window blacked out";
    EXPECT_GT(meanLuma(*black, 520, 100, 100, 200), 230) << "the rest of the screen is untouched";
    EXPECT_GT(meanLuma(*black, 200, 320, 300, 50), 230);

    auto back = sink.waitFor([](const webrtc::VideoFrame& f) { return meanLuma(f, 210, 110, 280, 180) > 230; }, 5s);
    EXPECT_TRUE(back) << "unregistered: visible again";
    // A registered window that no longer exists does not disturb capture.
    exclusion->add(window);
    screen.destroyWindow(window);
    long long before = sink.count();
    EXPECT_TRUE(sink.waitFor([&](const webrtc::VideoFrame&) { return sink.count() > before + 2; }, 5s));
    exclusion->remove(window);
}

TEST_F(ScreenCapturerTest, MaxWidthScalesTheCapture)
{
    wl::MediaSettings settings;
    settings.maxWidth = 960;
    capturer = std::make_unique<wl::ScreenCapturer>(source, std::make_unique<wl::X11ScreenSource>(), exclusion,
                                                    framePool, feedback, settings);
    startAndWait(*capturer, 0, false);
    ASSERT_TRUE(capturer->captureSize());
    EXPECT_EQ(capturer->captureSize()->width, 960);
    EXPECT_EQ(capturer->captureSize()->height, 960 * screen.height() / screen.width());
    auto frame = sink.waitFor([](const webrtc::VideoFrame&) { return true; }, 5s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width(), 960);
}

TEST_F(ScreenCapturerTest, CursorIsCompositedOnlyWhenShown)
{
    // A flat black screen; Xvfb's root cursor is the white-outlined "X".
    screen.fill(0, 0, screen.width(), screen.height(), {0, 0, 0});
    auto window = screen.showWindow(0, 0, 1, 1, {0, 0, 0});
    screen.destroyWindow(window);
    std::system("xdotool mousemove 400 300 >/dev/null 2>&1");
    startAndWait(*capturer, 0, false);
    auto plain = sink.waitFor([](const webrtc::VideoFrame&) { return true; }, 5s);
    ASSERT_TRUE(plain);
    EXPECT_LT(maxLuma(*plain, 370, 270, 60, 60), 3) << "no cursor unless asked";

    capturer->showsCursor = true;
    std::promise<void> applied;
    capturer->applyCursor([&] { applied.set_value(); });
    applied.get_future().wait();
    EXPECT_TRUE(capturer->configuration()->showsCursor);
    auto withCursor = sink.waitFor([](const webrtc::VideoFrame& f) { return maxLuma(f, 370, 270, 60, 60) > 128; }, 5s);
    EXPECT_TRUE(withCursor) << "cursor drawn at the pointer";
}

// A screen that doesn't change is sent on only while the encoder sharpens it; then
// only now and then until it changes, a key frame is asked for, or a refresh.
TEST_F(ScreenCapturerTest, AStillScreenSlowsDownAfterSharpeningAndAnyChangeResumesIt)
{
    screen.fill(0, 0, screen.width(), screen.height(), {40, 40, 40});
    screen.sync();
    capturer->sharpenFor = 300ms;
    capturer->sharpenFrames = 3;
    startAndWait(*capturer, 0, false);
    const auto quiet = [&] {
        // Frames stop, and grabs of the unchanged screen are counted instead.
        long long last = -1;
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(100ms);
            long long now = captured(*capturer);
            if (now == last)
                return true;
            last = now;
        }
        return false;
    };
    const auto resumes = [&] {
        long long before = captured(*capturer);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (captured(*capturer) < before + 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        return captured(*capturer) >= before + 3;
    };
    ASSERT_TRUE(sink.waitFor([](const webrtc::VideoFrame&) { return true; }, 5s));
    // Nothing has encoded it yet (no connection): it keeps going.
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(resumes()) << "sent on until an encoder has worked on it";
    // Encoded, but still coarse: it keeps going until the encoder has sharpened it.
    for (int i = 0; i < 3; ++i)
        feedback->countEncodedFrame(40);
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(resumes()) << "a coarse picture is sent on";
    feedback->countEncodedFrame(wl::ScreenCapturer::kSharpQp);
    ASSERT_TRUE(quiet()) << "a still screen stops being sent";
    const long long atRest = captured(*capturer);
    std::this_thread::sleep_for(3200ms);
    const long long resent = captured(*capturer) - atRest;
    EXPECT_GE(resent, 5) << "a still picture goes out about every 400 ms";
    EXPECT_LE(resent, 11) << "a still picture goes out about every 400 ms";
    capturer->sharpenFrames = 0;
    const long long skipped = capturer->counts().framesUnchanged;
    EXPECT_GT(skipped, 0);

    screen.fill(100, 100, 50, 50, {250, 250, 250});
    screen.sync();
    EXPECT_TRUE(resumes()) << "a change goes out at once";
    auto changed = sink.waitFor([](const webrtc::VideoFrame& f) { return meanLuma(f, 110, 110, 30, 30) > 200; }, 2s);
    EXPECT_TRUE(changed);
    ASSERT_TRUE(quiet());

    feedback->requestKeyFrame(); // the viewer asked for a full picture
    EXPECT_TRUE(resumes()) << "a key frame needs a frame to be made on";
    feedback->takeKeyFrameRequest(); // as the encoder does
    ASSERT_TRUE(quiet());

    capturer->refresh();
    EXPECT_TRUE(resumes());
}

} // namespace
