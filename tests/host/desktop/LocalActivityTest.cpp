// The host user's own input taking control back: real XI2 raw events from a device
// other than the XTEST one that posts the helper's input (a second master pointer and
// keyboard), against the injector posting at the same time.
#include "DesktopBackends.h"
#include "ManualTimers.h"
#include "WaitUntil.h"
#include "XInputProbe.h"

#include "host/InputInjector.h"
#include "host/LocalActivityMonitor.h"
#include "platform/LocalInput.h"
#include "host/SharedDisplay.h"

#include <QElapsedTimer>
#include <QRectF>

#include <gtest/gtest.h>

#include <functional>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

// The desktop's local input, counting how often it is asked to watch.
class CountingLocalInput final : public LocalInput {
public:
    explicit CountingLocalInput(LocalInput& inner) : inner_(inner) { }
    int watch(std::function<void(const LocalInputEvent&)> handler) override
    {
        ++watches;
        return inner_.watch(std::move(handler));
    }
    void unwatch(int token) override
    {
        ++unwatches;
        inner_.unwatch(token);
    }
    int watches = 0;
    int unwatches = 0;

private:
    LocalInput& inner_;
};

class LocalActivity : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(user.ok());
        monitor.onChange = [this](bool active) { changes.push_back(active); };
    }
    void TearDown() override { monitor.stop(); }

    SessionEvent move(double x, double y) { return SessionEvent::make(SessionEvent::Kind::mouseMove, x, y); }
    // Every event of the user's before now has reached the local input's watchers: a press
    // of the user's Shift (a modifier alone, which is no activity) comes to a watcher of
    // the test's own after them.
    bool allSeen()
    {
        bool shift = false;
        const int token = desktop().localInput->watch([&](const LocalInputEvent& event) {
            shift = shift || (event.kind == LocalInputEvent::Kind::keyPress && event.modifierKey);
        });
        user.key(50, true);
        user.key(50, false);
        const bool seen = waitUntil([&] { return shift; });
        desktop().localInput->unwatch(token);
        return seen;
    }

    ManualTimers timers;
    LocalActivityMonitor monitor{desktop().localInput, timers.factory()};
    InputInjector injector{desktop().inputPoster, std::make_shared<SharedDisplay>(desktop().displays)};
    LocalUser user{""};
    std::vector<bool> changes;
};

TEST_F(LocalActivity, TheUsersOwnInputCountsPostedInputNever)
{
    monitor.install();
    EXPECT_TRUE(monitor.isInstalled());

    // The helper's stream: sixty moves at sixty a second, with clicks and keys (paced, not
    // bounded by the clock: a slow build posts them all, later).
    QElapsedTimer clock;
    clock.start();
    for (int posted = 0; posted < 60; ++posted) {
        // The next sixtieth of a second.
        waitUntil([&] { return clock.elapsed() >= posted * 1000 / 60; });
        const double t = double(posted % 60) / 60.0;
        injector.post(move(0.2 + 0.6 * t, 0.3 + 0.4 * t));
        if (posted % 20 == 0) {
            SessionEvent down = SessionEvent::make(SessionEvent::Kind::mouseDown, 0.5, 0.5);
            injector.post(down);
            SessionEvent up = SessionEvent::make(SessionEvent::Kind::mouseUp, 0.5, 0.5);
            injector.post(up);
            SessionEvent key = SessionEvent::make(SessionEvent::Kind::key);
            key.keyCode = 49; // space
            key.down = true;
            injector.post(key);
            key.down = false;
            injector.post(key);
        }
    }
    // The user's Shift comes after the last posted event (the same server, in order).
    ASSERT_TRUE(allSeen());
    EXPECT_TRUE(changes.empty()) << "posted input never counts";
    EXPECT_FALSE(monitor.isActive());
    EXPECT_EQ(timers.activeCount(LocalActivityMonitor::kQuietTime), 0u);

    // The user moves their own pointer while the helper's moves go on, right after one
    // of them: active at once (no time after a posted event is ignored).
    injector.post(move(0.45, 0.45));
    user.moveTo(300, 300);
    injector.post(move(0.5, 0.5));
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    EXPECT_EQ(changes, (std::vector<bool>{true}));

    // Quiet again: a key of the user's counts too, even just after a posted move (and a
    // release does not).
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    injector.post(move(0.4, 0.4));
    user.key(38, true);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    user.key(38, false);
    ASSERT_TRUE(allSeen());
    EXPECT_FALSE(monitor.isActive()) << "a release alone is not activity";

    // A button press of the user's (a right one too) counts, just after a posted move too;
    // its release does not.
    injector.post(move(0.6, 0.6));
    user.press(3);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    user.release(3);
    ASSERT_TRUE(allSeen());
    EXPECT_FALSE(monitor.isActive());
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(LocalActivity, OnlyMovesClicksWheelAndTypingCount)
{
    monitor.install();
    // How many of the user's events counted while act ran: each one that counts starts the
    // quiet time afresh. A click of the wheel up follows, and counts: once a watcher of the
    // test's own has it, everything act did has been seen too.
    auto counted = [&](const std::function<void()>& act) {
        bool wheelUp = false;
        const int token = desktop().localInput->watch([&](const LocalInputEvent& event) {
            wheelUp = wheelUp || (event.kind == LocalInputEvent::Kind::buttonPress && event.button == 4);
        });
        const std::size_t before = timers.delays().size();
        act();
        user.click(4);
        EXPECT_TRUE(waitUntil([&] { return wheelUp; }));
        desktop().localInput->unwatch(token);
        return timers.delays().size() - before - 1;
    };
    user.moveTo(200, 200);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));

    // A modifier key alone, a middle click or drag, releases: none counts.
    EXPECT_EQ(counted([&] {
                  for (unsigned modifier : {50u, 37u, 64u, 133u}) { // Shift, Control, Alt, Super
                      user.key(modifier, true);
                      user.key(modifier, false);
                  }
              }),
              0u);
    EXPECT_EQ(counted([&] {
                  user.press(2);
                  user.moveTo(260, 240);
                  user.moveTo(300, 260);
              }),
              0u);
    user.release(2);
    // A right drag: the press counts, the moves with the button held do not.
    EXPECT_EQ(counted([&] {
                  user.press(3);
                  user.moveTo(340, 280);
                  user.moveTo(380, 300);
              }),
              1u);
    user.release(3);

    // A left drag counts, the press and the moves; so do the wheel and a key with a
    // modifier held.
    EXPECT_EQ(counted([&] {
                  const std::size_t pressed = timers.delays().size();
                  user.press(1);
                  EXPECT_TRUE(waitUntil([&] { return timers.delays().size() > pressed; })) << "the press counted";
                  user.moveTo(420, 320);
              }),
              2u);
    user.release(1);
    EXPECT_EQ(counted([&] { user.click(5); }), 1u);
    EXPECT_EQ(counted([&] {
                  user.key(37, true);
                  user.key(54, true); // Control-C
                  user.key(54, false);
                  user.key(37, false);
              }),
              1u);
    EXPECT_EQ(changes, (std::vector<bool>{true}));
}

TEST_F(LocalActivity, QuietTimeStartsAgainWithEveryEvent)
{
    // A counter in front of the desktop's local input.
    auto front = std::make_shared<CountingLocalInput>(*desktop().localInput);
    LocalActivityMonitor monitor{front, timers.factory()};
    monitor.onChange = [this](bool active) { changes.push_back(active); };

    monitor.install();
    monitor.install(); // entering take-over twice: one watch
    EXPECT_EQ(front->watches, 1);

    user.moveTo(100, 100);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    EXPECT_EQ(timers.activeCount(LocalActivityMonitor::kQuietTime), 1u);
    // More movement: the quiet time starts again, one change only.
    for (int i = 1; i <= 5; ++i) {
        const std::size_t before = timers.delays().size();
        user.moveTo(100 + 20 * i, 100);
        EXPECT_TRUE(waitUntil([&] { return timers.delays().size() > before; })) << "move " << i;
    }
    EXPECT_EQ(timers.activeCount(LocalActivityMonitor::kQuietTime), 1u);
    EXPECT_GE(timers.delays().size(), 3u);
    for (auto delay : timers.delays())
        EXPECT_EQ(delay, 1500ms);
    EXPECT_EQ(changes, (std::vector<bool>{true}));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // stop() while active reports the end once; while quiet it reports nothing.
    user.moveTo(400, 400);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    monitor.stop();
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(front->unwatches, 1);
    monitor.stop();
    EXPECT_EQ(changes.size(), 4u);
    EXPECT_EQ(timers.activeCount(LocalActivityMonitor::kQuietTime), 0u);
    // Stopped: the user's input is no longer watched.
    user.moveTo(500, 500);
    ASSERT_TRUE(allSeen());
    EXPECT_FALSE(monitor.isActive());
}

TEST_F(LocalActivity, ThePointerRestingOnTheControlsHoldsTheActivity)
{
    const QRectF controls(600, 20, 200, 50);
    monitor.holdsActivity = [&](QPointF pixel) { return controls.contains(pixel); };
    monitor.install();

    // Resting on the controls past the quiet time: still active, until the pointer moves
    // off them and is quiet there.
    user.moveTo(700, 40);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_TRUE(monitor.isActive());
    EXPECT_EQ(timers.activeCount(LocalActivityMonitor::kQuietTime), 0u);
    ASSERT_TRUE(monitor.userPointer());
    EXPECT_EQ(*monitor.userPointer(), QPointF(700, 40));
    // A right press there counts, and is held on too; the drag off them with the button
    // held counts for nothing, but it moves the pointer: the quiet time starts again.
    user.press(3);
    ASSERT_TRUE(waitUntil([&] { return timers.activeCount(LocalActivityMonitor::kQuietTime) == 1; }));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_TRUE(monitor.isActive()) << "the press was still on the controls";
    user.moveTo(300, 300);
    user.release(3);
    ASSERT_TRUE(waitUntil([&] { return timers.activeCount(LocalActivityMonitor::kQuietTime) == 1; }));
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_FALSE(monitor.isActive());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // Where the helper's input took the pointer, the user's last place holds nothing.
    user.moveTo(700, 40);
    ASSERT_TRUE(waitUntil([&] { return monitor.isActive(); }));
    monitor.forgetUserPointer();
    ASSERT_TRUE(timers.fireNext(LocalActivityMonitor::kQuietTime));
    EXPECT_FALSE(monitor.isActive());
    monitor.stop();
    EXPECT_FALSE(monitor.userPointer());
}

} // namespace
} // namespace wl::test
