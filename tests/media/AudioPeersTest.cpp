// Audio through two real peer connections on 127.0.0.1, each with its own factory of the
// engine over the engine's one audio device (WebRTC's test device here). The factories
// are made without the library's audio processing module (our own devices do echo
// cancellation and resampling): audio tracks must still negotiate, send and arrive; and
// one session's end must not stop another's sound.
#include "LoopbackPeers.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

// Polls one side's inbound audio until it has received at least `packets` packets.
wl::test::AudioStats waitForAudio(wl::test::LoopbackPeers& peers, webrtc::PeerConnectionInterface* side,
                                  long long packets)
{
    auto deadline = std::chrono::steady_clock::now() + 10s;
    wl::test::AudioStats stats;
    while (std::chrono::steady_clock::now() < deadline) {
        stats = peers.inboundAudio(side);
        if (stats.packetsReceived >= packets)
            break;
        std::this_thread::sleep_for(50ms);
    }
    return stats;
}

TEST(AudioPeers, AudioFlowsBothWaysWithoutTheLibrarysProcessing)
{
    wl::test::LoopbackPeers peers(wl::test::noisyEngine(), wl::ScreenVideoSource::create(),
                                  std::make_shared<wl::VideoFeedback>());
    peers.withAudio = true;
    ASSERT_TRUE(peers.connect());

    // Opus sends a packet every 20 ms: 25 packets is half a second of sound.
    for (auto* side : {peers.receiver(), peers.sender()}) {
        auto stats = waitForAudio(peers, side, 25);
        EXPECT_GE(stats.packetsReceived, 25);
        EXPECT_GT(stats.bytesReceived, stats.packetsReceived) << "packets carry payload";
        EXPECT_EQ(stats.codec, "audio/opus");
    }
}

// A session ends while another goes on: its factories let go of the shared device, which
// keeps recording for the other's, and that session's sound goes on both ways.
TEST(AudioPeers, OneSessionsEndLeavesAnothersSoundRunning)
{
    auto ending = std::make_unique<wl::test::LoopbackPeers>(wl::test::noisyEngine(), wl::ScreenVideoSource::create(),
                                                            std::make_shared<wl::VideoFeedback>());
    wl::test::LoopbackPeers staying(wl::test::noisyEngine(), wl::ScreenVideoSource::create(),
                                    std::make_shared<wl::VideoFeedback>());
    ending->withAudio = staying.withAudio = true;
    ASSERT_TRUE(ending->connect());
    ASSERT_TRUE(staying.connect());
    for (auto* peers : {ending.get(), &staying})
        for (auto* side : {peers->receiver(), peers->sender()})
            ASSERT_GE(waitForAudio(*peers, side, 10).packetsReceived, 10);

    ending.reset();
    for (auto* side : {staying.receiver(), staying.sender()}) {
        const long long before = staying.inboundAudio(side).packetsReceived;
        EXPECT_GE(waitForAudio(staying, side, before + 25).packetsReceived, before + 25);
    }
}

} // namespace
