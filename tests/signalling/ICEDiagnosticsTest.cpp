#include "signalling/ConnectionFailureGrace.h"
#include "signalling/ICEDiagnostics.h"

#include "ManualTimers.h"
#include "platform/Defaults.h"

#include <gtest/gtest.h>

#include <thread>

using namespace wl;

namespace {
std::vector<ICEServer> relays()
{
    return {ICEServer{{"stun:127.0.0.1:3478"}, std::nullopt, std::nullopt},
            ICEServer{{"turn:127.0.0.1:3478?transport=udp", "turns:127.0.0.1:5349"}, "u", "p"},
            ICEServer{{"turn:127.0.0.1:3479"}, "u", "p"}};
}
} // namespace

TEST(ICEDiagnostics, SummaryLines)
{
    ICEDiagnostics empty({}, false);
    EXPECT_EQ(empty.summary(),
              "Routes found here: none\n"
              "Routes from the other Mac: none\n"
              "Relay servers received: 0\n"
              "Relay errors: none");

    ICEDiagnostics diagnostics(relays(), true);
    diagnostics.recordCandidate("candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host generation 0", true);
    diagnostics.recordCandidate("candidate:2 1 udp 1686052607 1.2.3.4 50001 typ srflx raddr 0.0.0.0 rport 0", true);
    diagnostics.recordCandidate("candidate:3 1 udp 41885439 10.0.0.1 3478 typ relay raddr 1.2.3.4 rport 1", true);
    diagnostics.recordCandidate("candidate:4 1 udp 2122260223 127.0.0.1 50002 typ host", true);
    diagnostics.recordCandidate("candidate:5 1 tcp 1518280447 127.0.0.1 9 typ host tcptype active", false);
    diagnostics.recordCandidate("a=candidate:garbled", false);
    diagnostics.recordError("turn:127.0.0.1:3478", 701, "TURN allocate request timed out.");
    diagnostics.recordError("turn:127.0.0.1:3478", 701, "TURN allocate request timed out.");
    diagnostics.recordError("stun:127.0.0.1:3478", 701, "STUN binding request timed out.");
    EXPECT_EQ(diagnostics.relayServerCount(), 2);
    EXPECT_EQ(diagnostics.summary(),
              "Routes found here: host 2, srflx 1, relay 1\n"
              "Routes from the other Mac: host 1, unknown 1\n"
              "Relay servers received: 2 (relay-only test mode)\n"
              "Relay errors: turn:127.0.0.1:3478 \u2192 701 TURN allocate request timed out.; "
              "stun:127.0.0.1:3478 \u2192 701 STUN binding request timed out.");
}

TEST(ICEDiagnostics, ReadsForceRelayFromTheSettings)
{
    MemoryDefaults defaults;
    EXPECT_FALSE(ICEDiagnostics({}, defaults).forceRelay());
    defaults.setBool("WLForceRelay", true);
    EXPECT_TRUE(ICEDiagnostics({}, defaults).forceRelay());
}

TEST(ICEDiagnostics, ManyThreadsAtOnceLoseNothing)
{
    ICEDiagnostics diagnostics(relays(), false);
    constexpr int threads = 8, each = 2000;
    std::vector<std::thread> workers;
    std::atomic<bool> go{false};
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < each; ++i) {
                diagnostics.recordCandidate("candidate:1 1 udp 1 127.0.0.1 1 typ host", t % 2 == 0);
                diagnostics.recordError("turn:x", 700 + (i % 5), "failed");
                if (i % 100 == 0)
                    (void)diagnostics.summary();
            }
        });
    }
    go = true;
    for (auto& worker : workers)
        worker.join();
    std::string summary = diagnostics.summary();
    EXPECT_NE(summary.find("Routes found here: host 8000\n"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Routes from the other Mac: host 8000\n"), std::string::npos) << summary;
    // At most three different errors are kept.
    std::size_t arrows = 0;
    for (std::size_t at = summary.find("\u2192"); at != std::string::npos; at = summary.find("\u2192", at + 1))
        ++arrows;
    EXPECT_EQ(arrows, 3u);
}

TEST(ConnectionFailureGrace, GivesUpOnlyAfterTenSecondsOfFailure)
{
    using State = webrtc::PeerConnectionInterface::IceConnectionState;
    test::ManualTimers timers;
    ConnectionFailureGrace grace(timers.factory());
    int givenUp = 0;
    grace.giveUp = [&] { ++givenUp; };

    grace.update(State::kIceConnectionChecking);
    EXPECT_EQ(grace.timer, nullptr);
    grace.update(State::kIceConnectionFailed);
    ASSERT_NE(grace.timer, nullptr);
    grace.update(State::kIceConnectionFailed); // already waiting: no second timer
    EXPECT_EQ(timers.delays(), std::vector<std::chrono::milliseconds>{std::chrono::seconds(10)});

    // Recovery cancels the grace.
    grace.update(State::kIceConnectionConnected);
    EXPECT_EQ(grace.timer, nullptr);
    EXPECT_EQ(timers.activeCount(), 0u);
    EXPECT_FALSE(timers.fireNext());
    EXPECT_EQ(givenUp, 0);

    // A failure that lasts ends in one giveUp, with the timer cleared first.
    grace.update(State::kIceConnectionFailed);
    bool timerClearedFirst = false;
    grace.giveUp = [&] {
        ++givenUp;
        timerClearedFirst = grace.timer == nullptr;
    };
    ASSERT_TRUE(timers.fireNext());
    EXPECT_EQ(givenUp, 1);
    EXPECT_TRUE(timerClearedFirst);
    EXPECT_FALSE(timers.fireNext());

    // Disconnected and closed cancel as well.
    grace.update(State::kIceConnectionFailed);
    grace.update(State::kIceConnectionDisconnected);
    EXPECT_EQ(timers.activeCount(), 0u);
    grace.update(State::kIceConnectionFailed);
    grace.update(State::kIceConnectionClosed);
    EXPECT_EQ(timers.activeCount(), 0u);
    EXPECT_EQ(givenUp, 1);
}
