// Audio through two real peer connections of the shared factory on 127.0.0.1. The
// factory is made without the library's audio processing module (our own devices do
// echo cancellation and resampling): audio tracks must still negotiate, send and arrive.
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

} // namespace
