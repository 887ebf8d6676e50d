// The helper's input on the host between two running programs (the real introduction
// service, two wickerlane-testbed processes, each on its own Xvfb): in take-over mode a
// wheel turned by the largest amounts a scroll event can carry scrolls the host a few
// screens' worth at once, and the session goes on.
#include "TwoPrograms.h"
#include "XInputProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>
#include <utility>
#include <vector>

namespace wl::test {
namespace {

class ProgramInput : public TwoPrograms {
protected:
    // Pairs the two, connects (the host's user lets the helper show them) and lets the
    // helper take over.
    void takeOver()
    {
        ASSERT_NO_FATAL_FAILURE(pair());
        host->command({{"cmd", "hideWindow"}});
        host->command({{"cmd", "answerAlert"}, {"button", 0}, {"checked", false}}); // "Let … show me"
        ASSERT_TRUE(
            helper->command({{"cmd", "connect"}, {"id", host->deviceId()}, {"unattended", false}}).value("ok", false));
        ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s); }, 30000)) << helper->state().dump();
        host->command({{"cmd", "answerAlert"}, {"button", 0}}); // "Allow"
        helper->command({{"cmd", "requestControl"}});
        ASSERT_TRUE(helper->waitFor([](const json& s) { return s["viewer"].value("mode", "") == "control"; }));
    }
};

TEST_F(ProgramInput, TheLargestScrollsAreBoundedAndQuickAndTheSessionGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(takeOver());
    XEventProbe probe(host->display(), 0, 0, 1280, 720);
    ASSERT_TRUE(probe.ok());
    const auto xtest = probe.coreXTestDevices();
    auto pressAt = [&](int button, int x, int y) {
        return probe.waitFor(
            [&](const std::vector<ProbeEvent>& events) {
                return std::any_of(events.begin(), events.end(), [&](const ProbeEvent& e) {
                    return e.type == ProbeEvent::Type::buttonPress && e.detail == button && e.rootX == x &&
                        e.rootY == y && std::find(xtest.begin(), xtest.end(), e.sourceid) != xtest.end();
                });
            },
            5000);
    };
    // The helper's pointer over the probe.
    helper->command({{"cmd", "mouse"}, {"kind", "move"}, {"x", 0.5}, {"y", 0.5}});

    // One event each way with the largest amounts: a few screens' worth of wheel clicks
    // (here the host's rule of 300 a direction), all posted within a few milliseconds.
    for (const auto& [dx, dy] : {std::pair{INT_MIN, INT_MAX}, std::pair{INT_MAX, INT_MIN}}) {
        host->command({{"cmd", "wheel"}}); // from now on
        ASSERT_TRUE(helper->command({{"cmd", "scroll"}, {"dx", dx}, {"dy", dy}}).value("ok", false));
        json wheel;
        long long clicks = 0;
        std::vector<long long> readings; // each answer that had clicks
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (clicks < 600 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            wheel = host->command({{"cmd", "wheel"}}, 2000);
            ASSERT_FALSE(wheel.contains("error")) << "the host does not answer: " << wheel.dump();
            clicks += wheel.value("clicks", 0LL);
            if (wheel.value("clicks", 0LL) > 0)
                readings.push_back(wheel.value("clicks", 0LL));
        }
        EXPECT_EQ(clicks, 600) << dx << "," << dy;
        // At once: the host posts them all while handling the one event, and answers no
        // question in between, so the first answer with clicks has every one of them.
        EXPECT_EQ(readings, std::vector<long long>{600}) << dx << "," << dy;
        // What the host's screen got: the wheel turned from the helper's devices.
        EXPECT_TRUE(pressAt(dy > 0 ? 4 : 5, 640, 360));
        EXPECT_TRUE(pressAt(dx > 0 ? 6 : 7, 640, 360));
    }

    // The session goes on: the helper's click lands.
    probe.clear();
    helper->command({{"cmd", "mouse"}, {"kind", "move"}, {"x", 0.25}, {"y", 0.25}});
    helper->command({{"cmd", "mouse"}, {"kind", "down"}, {"x", 0.25}, {"y", 0.25}});
    helper->command({{"cmd", "mouse"}, {"kind", "up"}, {"x", 0.25}, {"y", 0.25}});
    EXPECT_TRUE(pressAt(1, 320, 180)) << "the helper's click lands";
    EXPECT_EQ(helper->state()["viewer"].value("mode", ""), "control");
    EXPECT_TRUE(host->state()["host"].value("inSession", false));
}

} // namespace
} // namespace wl::test
