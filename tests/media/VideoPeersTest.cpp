// Two real peer connections in this process on 127.0.0.1: the Xvfb screen is
// captured, encoded by our codecs, sent, decoded and compared with the screen.
#include "LoopbackPeers.h"
#include "XScreen.h"

#include "media/ScreenCapturer.h"
#include "platform/CaptureExclusion.h"
#include "platform/linux/X11ScreenSource.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using wl::test::LoopbackPeers;
using wl::test::XScreen;

class VideoPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(screen.ok()) << "needs the test Xvfb (scripts/with-test-env)";
        source = wl::ScreenVideoSource::create();
        capturer = std::make_unique<wl::ScreenCapturer>(source, std::make_unique<wl::X11ScreenSource>(),
                                                        std::make_shared<wl::CaptureExclusion>(),
                                                        std::make_shared<wl::FramePool>(), feedback);
    }
    void TearDown() override
    {
        peers.reset();
        capturer.reset();
    }

    void startCapture()
    {
        std::promise<void> started;
        capturer->start(0, false, [&] { started.set_value(); });
        ASSERT_EQ(started.get_future().wait_for(5s), std::future_status::ready);
        ASSERT_TRUE(capturer->stream());
    }

    // Waits for a decoded frame that matches the screen within compression tolerance.
    void expectDecodedFrameMatchesScreen()
    {
        auto expected = screen.grab(0, 0, screen.width(), screen.height());
        wl::test::Difference best{255, 1};
        auto frame = peers->sink().waitFor(
            [&](const webrtc::VideoFrame& f) {
                if (f.width() != screen.width() || f.height() != screen.height())
                    return false;
                auto d = wl::test::compare(wl::test::frameToBgrx(f), expected, 48);
                if (d.largeFraction < best.largeFraction)
                    best = d;
                return d.largeFraction < 0.01 && d.meanAbs < 4;
            },
            20s);
        ASSERT_TRUE(frame) << "best frame: mean " << best.meanAbs << ", off " << best.largeFraction * 100 << "%";
    }

    XScreen screen;
    rtc::scoped_refptr<wl::ScreenVideoSource> source;
    std::shared_ptr<wl::VideoFeedback> feedback = std::make_shared<wl::VideoFeedback>();
    std::unique_ptr<wl::ScreenCapturer> capturer;
    std::unique_ptr<LoopbackPeers> peers;
};

TEST_F(VideoPeers, ScreenTravelsAsH265AndDecodesToTheScreen)
{
    screen.paintPattern(7);
    startCapture();
    peers = std::make_unique<LoopbackPeers>(wl::test::noisyEngine(), source, feedback);
    ASSERT_TRUE(peers->connect());
    expectDecodedFrameMatchesScreen();
    auto stats = peers->receiverStats();
    EXPECT_EQ(stats.codec, "video/H265");
    EXPECT_EQ(stats.decoder, "hevc");

    // The screen changes: the new picture arrives too.
    screen.paintPattern(8);
    expectDecodedFrameMatchesScreen();

    // A key-frame request through the session's feedback reaches the receiver.
    auto before = peers->receiverStats();
    feedback->requestKeyFrame();
    bool keyed = false;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!keyed && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        keyed = peers->receiverStats().keyFramesDecoded > before.keyFramesDecoded;
    }
    EXPECT_TRUE(keyed);
}

// A screen at rest goes out as a frame now and then, and our encoder keeps its rate when
// the target falls meanwhile (here through the sender's parameters, as the host's
// adaptation changes them): reopened, it would send a full picture on a screen that
// doesn't move.
TEST_F(VideoPeers, AScreenAtRestSendsNoKeyFrameWhenTheTargetFalls)
{
    screen.paintPattern(9);
    startCapture();
    peers = std::make_unique<LoopbackPeers>(wl::test::noisyEngine(), source, feedback);
    ASSERT_TRUE(peers->connect());
    expectDecodedFrameMatchesScreen();
    const auto waitUntil = [](const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i)
            std::this_thread::sleep_for(50ms);
        return done();
    };
    ASSERT_TRUE(waitUntil([&] { return capturer->counts().framesUnchanged > 0; })) << "the capture comes to rest";
    const long long keys = peers->receiverStats().keyFramesEncoded;
    for (const auto& sender : peers->sender()->GetSenders()) {
        if (sender->media_type() != cricket::MEDIA_TYPE_VIDEO)
            continue;
        auto parameters = sender->GetParameters();
        for (auto& encoding : parameters.encodings)
            encoding.max_bitrate_bps = 60'000; // a fifth of the start rate at most
        ASSERT_TRUE(sender->SetParameters(parameters).ok());
    }
    const long long encoded = feedback->encodedFrameCount();
    ASSERT_TRUE(waitUntil([&] { return feedback->encodedFrameCount() >= encoded + 4; }))
        << "the picture goes out now and then";
    EXPECT_EQ(peers->receiverStats().keyFramesEncoded, keys);
}

TEST_F(VideoPeers, H264WhenH265IsDisabled)
{
    wl::MediaSettings noH265;
    noH265.h265 = false;
    screen.paintPattern(11);
    startCapture();
    peers = std::make_unique<LoopbackPeers>(wl::test::noisyEngine(), source, feedback, std::string(), noH265);
    ASSERT_TRUE(peers->connect());
    expectDecodedFrameMatchesScreen();
    auto stats = peers->receiverStats();
    EXPECT_EQ(stats.codec, "video/H264");
    EXPECT_EQ(stats.decoder, "h264");
}

} // namespace
