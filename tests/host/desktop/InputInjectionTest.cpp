// The helper's taken-over input, posted through XTest on a desktop of two monitors:
// where clicks, drags, scrolls and keys land for given fractions, which device they come
// from, what releaseAll lets go of, and every key of the key table from the host's
// keymap back to the helper's key code.
#include "DesktopBackends.h"
#include "XDesk.h"
#include "WaitUntil.h"
#include "XInputProbe.h"

#include "host/InputInjector.h"
#include "platform/Displays.h"
#include "platform/InputPoster.h"
#include "platform/KeyTable.h"
#include "host/SharedDisplay.h"
#include "viewer/RemoteScreenView.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace wl::test {
namespace {

using Type = ProbeEvent::Type;

SessionEvent mouse(SessionEvent::Kind kind, double x, double y, std::optional<int> button = std::nullopt)
{
    SessionEvent event = SessionEvent::make(kind, x, y);
    event.button = button;
    if (kind != SessionEvent::Kind::mouseMove)
        event.clickCount = 1;
    return event;
}

SessionEvent key(int code, bool down, std::optional<std::uint64_t> flags = std::nullopt)
{
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::key);
    event.keyCode = code;
    event.down = down;
    event.flags = flags;
    return event;
}

SessionEvent scroll(std::optional<double> dx, std::optional<double> dy)
{
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::scroll);
    event.dx = dx;
    event.dy = dy;
    return event;
}

// X modifier bits.
constexpr unsigned kShiftMask = 1 << 0;
constexpr unsigned kControlMask = 1 << 2;
constexpr unsigned kAltMask = 1 << 3; // Mod1
constexpr unsigned kSuperMask = 1 << 6; // Mod4

bool capsLockOn()
{
    return capsLockIsOn();
}

class InputInjection : public ::testing::Test {
protected:
    void SetUp() override
    {
        displays = desktop().displays->list();
        ASSERT_EQ(displays.size(), 2u) << "the test desktop has two monitors";
        ASSERT_TRUE(probe.ok());
        xtest = probe.coreXTestDevices();
        ASSERT_EQ(xtest.size(), 2u);
    }
    void TearDown() override { injector.releaseAll(); }

    bool fromXTest(const ProbeEvent& event) const
    {
        return std::find(xtest.begin(), xtest.end(), event.sourceid) != xtest.end();
    }
    // Waits for n events of a type after those already seen.
    std::vector<ProbeEvent> waitForNew(Type type, std::size_t n, int timeoutMs = 5000)
    {
        const std::size_t before = probe.eventsOf(type).size();
        probe.waitFor([&](const auto&) { return probe.eventsOf(type).size() >= before + n; }, timeoutMs);
        auto all = probe.eventsOf(type);
        return std::vector<ProbeEvent>(all.begin() + long(std::min(before, all.size())), all.end());
    }

    // Waits for a motion event at a root pixel.
    bool motionAt(int x, int y)
    {
        return probe.waitFor([&](const auto& events) {
            for (const auto& event : events)
                if (event.type == Type::motion && event.rootX == x && event.rootY == y)
                    return true;
            return false;
        });
    }

    // Everything posted so far has reached the probe: a move posted after it has (the X
    // server hands the probe the events of one connection in order). On the first display.
    bool allDelivered()
    {
        const Display& display = displays.front();
        shared->set(display.id);
        marker_ = marker_ == 0.125 ? 0.875 : 0.125; // whole pixels, and never where the pointer is
        const int x = display.x + int(marker_ * display.width), y = display.y + int(0.875 * display.height);
        auto seen = [&] {
            std::size_t count = 0;
            for (const auto& event : probe.eventsOf(Type::motion))
                count += event.rootX == x && event.rootY == y;
            return count;
        };
        const std::size_t before = seen();
        injector.post(mouse(SessionEvent::Kind::mouseMove, marker_, 0.875));
        return probe.waitFor([&](const auto&) { return seen() > before; });
    }

    double marker_ = 0;
    std::vector<Display> displays;
    // A window over the whole root, both monitors.
    XEventProbe probe{"", 0, 0, XDesk::kLeft.width + XDesk::kRight.width, XDesk::kRight.height};
    std::vector<int> xtest;
    std::shared_ptr<SharedDisplay> shared = std::make_shared<SharedDisplay>(desktop().displays);
    InputInjector injector{desktop().inputPoster, shared};
};

TEST_F(InputInjection, ClicksDragsScrollsAndKeysLandOnEitherDisplay)
{
    using Kind = SessionEvent::Kind;
    for (const Display& display : displays) {
        SCOPED_TRACE(display.name);
        shared->set(display.id);
        // The pixel a fraction falls on (0.7 of 720 is 504, whatever the floating point says).
        auto pixel = [](double f, int origin, int size) {
            return origin + std::min(int(std::floor(f * size + 1e-6)), size - 1);
        };
        auto pixelX = [&](double f) { return pixel(f, display.x, display.width); };
        auto pixelY = [&](double f) { return pixel(f, display.y, display.height); };
        probe.clear();

        // A left click at a quarter across, half down.
        injector.post(mouse(Kind::mouseMove, 0.25, 0.5));
        injector.post(mouse(Kind::mouseDown, 0.25, 0.5, 0));
        auto press = waitForNew(Type::buttonPress, 1);
        ASSERT_EQ(press.size(), 1u);
        EXPECT_EQ(press[0].detail, 1);
        EXPECT_EQ(press[0].rootX, pixelX(0.25));
        EXPECT_EQ(press[0].rootY, pixelY(0.5));
        EXPECT_TRUE(fromXTest(press[0])) << press[0].sourceid;

        // Moving with the button held drags.
        probe.clear();
        injector.post(mouse(Kind::mouseMove, 0.6, 0.7));
        ASSERT_TRUE(motionAt(pixelX(0.6), pixelY(0.7)));
        const ProbeEvent drag = probe.eventsOf(Type::motion).back();
        EXPECT_TRUE(drag.buttonMask & (1u << 1)) << "the left button is held in the drag";
        EXPECT_TRUE(fromXTest(drag));
        injector.post(mouse(Kind::mouseUp, 0.6, 0.7, 0));
        auto release = waitForNew(Type::buttonRelease, 1);
        ASSERT_EQ(release.size(), 1u);
        EXPECT_EQ(release[0].detail, 1);
        EXPECT_EQ(release[0].rootX, pixelX(0.6));

        // The right button is button 1 on the wire; 2 or none is the left one.
        injector.post(mouse(Kind::mouseDown, 0.9, 0.1, 1));
        injector.post(mouse(Kind::mouseUp, 0.9, 0.1, 1));
        injector.post(mouse(Kind::mouseDown, 0.9, 0.1, 2));
        injector.post(mouse(Kind::mouseUp, 0.9, 0.1, 2));
        auto presses = waitForNew(Type::buttonPress, 2);
        ASSERT_EQ(presses.size(), 2u);
        EXPECT_EQ(presses[0].detail, 3);
        EXPECT_EQ(presses[0].rootX, pixelX(0.9));
        EXPECT_EQ(presses[0].rootY, pixelY(0.1));
        EXPECT_EQ(presses[1].detail, 1);

        // Fractions beyond the picture land on the display's edges, never the other display.
        injector.post(mouse(Kind::mouseMove, -0.5, -2));
        EXPECT_TRUE(motionAt(display.x, display.y));
        injector.post(mouse(Kind::mouseMove, 1.5, 1.0));
        EXPECT_TRUE(motionAt(display.x + display.width - 1, display.y + display.height - 1));

        // Scrolling: ten pixels a wheel click, up and down, left and right; amounts are
        // rounded half away from zero and the rest waits for more in the same direction.
        probe.clear();
        injector.post(scroll(std::nullopt, 10.0));
        injector.post(scroll(std::nullopt, -20.0));
        injector.post(scroll(10.0, std::nullopt));
        injector.post(scroll(-10.0, 0.0));
        injector.post(scroll(std::nullopt, 2.5)); // 3 pixels, no click yet
        injector.post(scroll(std::nullopt, 7.0)); // 10: one click up
        injector.post(scroll(std::nullopt, -2.5)); // -3: the other way starts afresh
        injector.post(scroll(std::nullopt, -7.4)); // -10: one click down
        auto wheel = waitForNew(Type::buttonPress, 7);
        std::vector<int> buttons;
        for (const auto& event : wheel)
            buttons.push_back(event.detail);
        EXPECT_EQ(buttons, (std::vector<int>{4, 5, 5, 6, 7, 4, 5}));
        for (const auto& event : wheel)
            EXPECT_TRUE(fromXTest(event));
        // Each click is let go of too (the last release may still be on its way).
        probe.waitFor([&](const auto&) { return probe.eventsOf(Type::buttonRelease).size() >= 7; });
        EXPECT_EQ(probe.eventsOf(Type::buttonRelease).size(), 7u);

        // A key.
        probe.focus();
        probe.clear();
        injector.post(key(0, true));
        injector.post(key(0, false));
        ASSERT_TRUE(probe.waitFor([&](const auto&) {
            return probe.eventsOf(Type::keyPress).size() == 1 && probe.eventsOf(Type::keyRelease).size() == 1;
        }));
        const ProbeEvent keyPress = probe.eventsOf(Type::keyPress).front();
        EXPECT_EQ(keyPress.keysym, std::uint32_t(XK_a));
        EXPECT_TRUE(fromXTest(keyPress));
    }
}

TEST_F(InputInjection, ReleaseAllReleasesExactlyWhatIsHeld)
{
    using Kind = SessionEvent::Kind;
    shared->set(displays.front().id);
    probe.focus();
    injector.post(mouse(Kind::mouseDown, 0.5, 0.5, 0));
    injector.post(key(0, true)); // a, held
    injector.post(key(56, true)); // Shift, held
    injector.post(key(11, true)); // b, pressed and released
    injector.post(key(11, false));
    injector.post(mouse(Kind::mouseDown, 0.5, 0.5, 1)); // right, pressed and released
    injector.post(mouse(Kind::mouseUp, 0.5, 0.5, 1));
    ASSERT_TRUE(probe.waitFor([&](const auto&) {
        return probe.eventsOf(Type::keyPress).size() == 3 && probe.eventsOf(Type::keyRelease).size() == 1 &&
            probe.eventsOf(Type::buttonRelease).size() == 1;
    }));
    EXPECT_EQ(injector.buttonsDown(), (std::set<int>{0}));
    EXPECT_EQ(injector.keysDown(), (std::set<int>{0, 56}));
    probe.clear();

    injector.releaseAll();
    ASSERT_TRUE(probe.waitFor([&](const auto&) {
        return probe.eventsOf(Type::keyRelease).size() == 2 && probe.eventsOf(Type::buttonRelease).size() == 1;
    }));
    ASSERT_TRUE(allDelivered());
    auto buttons = probe.eventsOf(Type::buttonRelease);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].detail, 1);
    std::vector<std::uint32_t> keysyms;
    for (const auto& event : probe.eventsOf(Type::keyRelease))
        keysyms.push_back(event.keysym);
    std::sort(keysyms.begin(), keysyms.end());
    EXPECT_EQ(keysyms, (std::vector<std::uint32_t>{XK_a, XK_Shift_L}));
    EXPECT_TRUE(probe.eventsOf(Type::buttonPress).empty());
    EXPECT_TRUE(probe.eventsOf(Type::keyPress).empty());
    EXPECT_TRUE(injector.buttonsDown().empty());
    EXPECT_TRUE(injector.keysDown().empty());

    // With nothing held, nothing is posted.
    probe.clear();
    injector.releaseAll();
    ASSERT_TRUE(allDelivered());
    for (Type type : {Type::buttonPress, Type::buttonRelease, Type::keyPress, Type::keyRelease})
        EXPECT_TRUE(probe.eventsOf(type).empty());
}

TEST_F(InputInjection, ModifierFlagsCapsLockAndDroppedEvents)
{
    shared->set(displays.front().id);
    probe.focus();

    // Command-W with no Command key held: Super is held around the press only.
    injector.post(key(13, true, keys::kCommandFlag));
    injector.post(key(13, false, keys::kCommandFlag));
    auto presses = waitForNew(Type::keyPress, 2);
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].keysym, std::uint32_t(XK_Super_L));
    EXPECT_EQ(presses[1].keysym, std::uint32_t(XK_w));
    EXPECT_TRUE(presses[1].modifiers & kSuperMask) << presses[1].modifiers;
    probe.waitFor([&](const auto&) { return probe.eventsOf(Type::keyRelease).size() >= 2; });
    EXPECT_TRUE(injector.keysDown().empty());

    // Only bits 16 to 31 count: with Shift among them and junk below and above, only Shift.
    probe.clear();
    injector.post(key(0, true, keys::kShiftFlag | 0x1'0000'0000ULL | 0x100ULL | 0x8000'0000'0000ULL));
    injector.post(key(0, false));
    presses = waitForNew(Type::keyPress, 2);
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].keysym, std::uint32_t(XK_Shift_L));
    EXPECT_EQ(presses[1].keysym, std::uint32_t(XK_a));
    EXPECT_EQ(presses[1].modifiers & (kShiftMask | kControlMask | kAltMask | kSuperMask), kShiftMask);

    // A held Shift gives the flag already: nothing more is pressed.
    probe.clear();
    injector.post(key(56, true));
    injector.post(key(0, true, keys::kShiftFlag));
    injector.post(key(0, false, keys::kShiftFlag));
    injector.post(key(56, false));
    presses = waitForNew(Type::keyPress, 2);
    ASSERT_TRUE(allDelivered());
    EXPECT_EQ(probe.eventsOf(Type::keyPress).size(), 2u);

    // Caps Lock arrives as its new state: pressed only when the host's differs.
    ASSERT_FALSE(capsLockOn());
    probe.clear();
    injector.post(key(keys::kCapsLockKey, true));
    ASSERT_TRUE(probe.waitFor([&](const auto&) { return capsLockOn() && !probe.eventsOf(Type::keyRelease).empty(); }));
    injector.post(key(keys::kCapsLockKey, true));
    ASSERT_TRUE(allDelivered());
    EXPECT_EQ(probe.eventsOf(Type::keyPress).size(), 1u) << "already on: not pressed again";
    EXPECT_TRUE(capsLockOn());
    injector.post(key(keys::kCapsLockKey, false));
    ASSERT_TRUE(
        probe.waitFor([&](const auto&) { return !capsLockOn() && probe.eventsOf(Type::keyRelease).size() == 2; }));
    EXPECT_EQ(probe.eventsOf(Type::keyPress).size(), 2u) << "on, then off";
    EXPECT_TRUE(injector.keysDown().empty());

    // Out of range: dropped, not wrapped.
    probe.clear();
    injector.post(key(65536, true));
    injector.post(key(65536 + 13, true)); // would wrap to W
    injector.post(key(-1, true));
    injector.post(scroll(0.0, 3e9));
    injector.post(scroll(-3e9, 10.0));
    injector.post(scroll(0.0, 2147483647.0 + 10)); // just beyond
    SessionEvent noDown = SessionEvent::make(SessionEvent::Kind::key);
    noDown.keyCode = 0;
    injector.post(noDown);
    ASSERT_TRUE(allDelivered());
    EXPECT_TRUE(probe.eventsOf(Type::keyPress).empty());
    EXPECT_TRUE(probe.eventsOf(Type::buttonPress).empty());
    EXPECT_TRUE(injector.keysDown().empty());
    // The largest amount in range still scrolls.
    injector.post(scroll(0.0, 25.0));
    EXPECT_EQ(waitForNew(Type::buttonPress, 2).size(), 2u);

    // A huge amount turns the wheel a few screens' worth at most, each way, at once.
    // At once: every click is out when post() returns, so a move posted after it comes
    // after them all.
    probe.clear();
    injector.post(scroll(-1e7, 1e7));
    const std::size_t most = 2 * InputInjector::kMaxWheelClicks;
    ASSERT_TRUE(allDelivered());
    EXPECT_EQ(probe.eventsOf(Type::buttonPress).size(), most);
}

// Every key the helper can send: the host types it with its own keymap (a keysym the
// keymap lacks goes on a spare key), and the helper's side reads that key back as the
// same code.
TEST_F(InputInjection, TheKeyTableRoundTripsEveryKey)
{
    shared->set(displays.front().id);
    probe.focus();
    int checked = 0;
    for (const auto& entry : keys::keyTable()) {
        if (entry.code == keys::kCapsLockKey)
            continue; // a lock: its state travels, tested above
        SCOPED_TRACE(entry.code);
        probe.clear();
        injector.post(key(entry.code, true));
        injector.post(key(entry.code, false));
        ASSERT_TRUE(probe.waitFor([&](const auto&) {
            return !probe.eventsOf(Type::keyPress).empty() && !probe.eventsOf(Type::keyRelease).empty();
        })) << "no key for code "
            << entry.code;
        const ProbeEvent pressed = probe.eventsOf(Type::keyPress).back();
        EXPECT_TRUE(fromXTest(pressed));
        // The host's key types one of the code's keysyms...
        EXPECT_EQ(keys::keyCodeForKeysym(pressed.keysym), entry.code) << std::hex << pressed.keysym;
        // ...and the helper's view, given that key as the X server reports it, sends the code.
        QKeyEvent event(QEvent::KeyPress, 0, Qt::NoModifier, quint32(pressed.detail), pressed.keysym, 0);
        EXPECT_EQ(RemoteScreenView::keyCodeFor(event, *desktop().keyboardLayout), entry.code);
        ++checked;
    }
    EXPECT_EQ(checked, int(keys::keyTable().size()) - 1);
    // Num Lock went on with the keypad's Clear: back off.
    injector.post(key(0x47, true));
    injector.post(key(0x47, false));
}

} // namespace
} // namespace wl::test
