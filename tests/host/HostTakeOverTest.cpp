// Guiding and taking over in a live session against the real service, with a scripted
// helper on a real peer connection: the helper's pointer on the overlay, a suggested
// click let through from its card, the banner's every control, the helper's mouse and
// keys posted on the private Xvfb, the cursor shape, and the host's user taking control
// back with input of their own (a second master device), Stop among them after a pause.
#include "TestEnvironment.h"
#include "HostTestKit.h"
#include "XInputProbe.h"

#include "host/GuideOverlayController.h"
#include "host/HostPeer.h"
#include "host/InputInjector.h"
#include "host/LocalActivityMonitor.h"
#include "host/SessionBannerController.h"
#include "host/SuggestionCard.h"
#include "media/SystemAudioDevice.h"
#include "platform/Displays.h"

#include <QAbstractButton>

// After the test framework and Qt: X's macros clash with their names.
#include <X11/Xlib.h>

namespace wl::test {
namespace {

using namespace std::chrono_literals;
using Kind = SignalMessage::Kind;
using EventKind = SessionEvent::Kind;

class HostSessionTakeOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        WL_REQUIRE_TEST_ENV(std::getenv("DISPLAY"), "the test X server");
        ASSERT_TRUE(rig.started);
        rig.pair({ada.record()});
        rig.make();
        ASSERT_TRUE(rig.goOnline());
        rig.prompts.answerAlert(0, false); // "Let Ada show me"
        rig.reach(ada);
        ada.hello();
        ASSERT_TRUE(ada.waitFor(Kind::challenge));
        ada.prove();
        ASSERT_TRUE(ada.waitFor(Kind::accepted));
        ada.startPeer();
        ASSERT_TRUE(waitUntil([&] { return ada.peerConnected() && ada.guideOpen(); }, 20000));
        ASSERT_TRUE(waitUntil(
            [&] { return rig.host->session().peer() && rig.host->session().peer()->guideChannelOpen(); }, 10000));
        ASSERT_TRUE(waitUntil([&] { return ada.events().size() >= 3; }));
        auto displays = rig.platform.displays->list();
        ASSERT_FALSE(displays.empty());
        screen = displays.front();
    }
    void TearDown() override
    {
        rig.destroy();
        processEventsFor(HostPeer::kGoodbyeDelayMs + 200);
    }

    // Whether the helper got an event of a kind (with a text, when given) since the mark.
    bool helperGot(EventKind kind, std::optional<std::string> text = std::nullopt, std::size_t from = 0)
    {
        return waitUntil([&] {
            auto events = ada.events();
            for (std::size_t i = from; i < events.size(); ++i)
                if (events[i].kind == kind && (!text || events[i].text == text))
                    return true;
            return false;
        });
    }
    std::optional<SessionEvent> lastOf(EventKind kind)
    {
        auto events = ada.events();
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == kind)
                return *it;
        return std::nullopt;
    }
    bool pressAt(XEventProbe& probe, int button, int x, int y)
    {
        return probe.waitFor([&](const auto& events) {
            for (const auto& e : events)
                if (e.type == ProbeEvent::Type::buttonPress && e.detail == button && e.rootX == x && e.rootY == y)
                    return true;
            return false;
        });
    }

    // Whether the X server stacks window `above` over window `below` (both children of
    // the root window).
    static bool stackedAbove(unsigned long above, unsigned long below)
    {
        ::Display* x = XOpenDisplay(nullptr);
        if (!x)
            return false;
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        int aboveAt = -1, belowAt = -1;
        if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i) {
                if (children[i] == above)
                    aboveAt = int(i);
                if (children[i] == below)
                    belowAt = int(i);
            }
            if (children)
                XFree(children);
        }
        XCloseDisplay(x);
        return belowAt >= 0 && aboveAt > belowAt;
    }

    HostRig rig{{}, HostRig::Screen::desktop};
    ScriptedHelper ada{"Ada Lovelace"};
    Display screen;
};

TEST_F(HostSessionTakeOver, GuideLetAClickThroughTakeOverAndHandBack)
{
    HostController& host = *rig.host;
    XEventProbe probe("", screen.x, screen.y, screen.width, screen.height);
    ASSERT_TRUE(probe.ok());
    const auto xtest = probe.coreXTestDevices();

    // The helper points: the overlay shows it.
    ada.sendEvent(SessionEvent::make(EventKind::pointer, 0.25, 0.25));
    ASSERT_TRUE(waitUntil([&] { return host.session().overlay().model.pointer.has_value(); }));
    EXPECT_TRUE(host.session().overlay().isShown());
    EXPECT_EQ(host.session().overlay().model.helperName, "Ada");

    // The helper suggests; the user lets this one click through from the card.
    ada.sendEvent(SessionEvent::make(EventKind::suggest, 0.5, 0.5));
    ASSERT_TRUE(waitUntil([&] { return host.session().overlay().suggestionPanel() != nullptr; }));
    const std::size_t mark = ada.events().size();
    host.session().overlay().suggestionPanel()->thisTimeButton()->click();
    EXPECT_TRUE(host.session().overlay().model.suggestions.empty());
    ASSERT_TRUE(rig.timers.fireNext(GuideOverlayController::kDoItDelay));
    const int cx = screen.x + screen.width / 2, cy = screen.y + screen.height / 2;
    ASSERT_TRUE(pressAt(probe, 1, cx, cy)) << "the suggested click lands";
    EXPECT_TRUE(std::find(xtest.begin(), xtest.end(), probe.eventsOf(ProbeEvent::Type::buttonPress).back().sourceid) !=
                xtest.end());
    // The banner let the click pass and takes the mouse again 0.3 s later.
    EXPECT_TRUE(host.session().banner().ignoresMouseEvents());
    ASSERT_TRUE(rig.timers.fireNext(HostSession::kBannerMouseDelay));
    EXPECT_FALSE(host.session().banner().ignoresMouseEvents());
    EXPECT_TRUE(helperGot(EventKind::notice, "They let your suggested click go through.", mark));

    // "Do it always": clicks go through from now on, and the banner offers "Ask each time".
    ada.sendEvent(SessionEvent::make(EventKind::suggest, 0.1, 0.1));
    ASSERT_TRUE(waitUntil([&] { return host.session().overlay().suggestionPanel() != nullptr; }));
    host.session().overlay().suggestionPanel()->alwaysButton()->click();
    ASSERT_TRUE(rig.timers.fireNext(GuideOverlayController::kDoItDelay));
    EXPECT_TRUE(host.session().clicksGoThrough());
    ASSERT_TRUE(pressAt(probe, 1, screen.x + screen.width / 10, screen.y + screen.height / 10));
    ASSERT_TRUE(waitUntil([&] {
        SessionBannerView* shown = host.session().banner().panel();
        return shown && shown->askEachTimeButton()->isVisibleTo(shown);
    })) << "the banner offers Ask each time";
    SessionBannerView* banner = host.session().banner().panel();
    // A suggestion now clicks at once, with no card.
    probe.clear();
    ada.sendEvent(SessionEvent::make(EventKind::suggest, 0.75, 0.75));
    ASSERT_TRUE(pressAt(probe, 1, screen.x + screen.width * 3 / 4, screen.y + screen.height * 3 / 4));
    EXPECT_FALSE(host.session().overlay().suggestionPanel());
    // The banner's "Ask each time".
    banner->askEachTimeButton()->click();
    EXPECT_FALSE(host.session().clicksGoThrough());
    EXPECT_TRUE(helperGot(EventKind::notice, "They'd like to be asked before each click again."));

    // The banner's microphone button switches this machine's microphone.
    banner->microphoneButton()->click();
    ASSERT_TRUE(waitUntil([&] { return host.session().banner().model.microphoneOn; }, 10000));
    ASSERT_TRUE(waitUntil([&] {
        auto event = lastOf(EventKind::microphone);
        return event && event->active == true;
    }));
    banner->microphoneButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !host.session().banner().model.microphoneOn; }, 10000));

    // The banner's control button hands over: take-over mode, the cursor's shape goes to
    // the helper, the banner lets clicks through.
    const std::size_t beforeControl = ada.events().size();
    banner->controlButton()->click();
    EXPECT_EQ(host.session().mode(), HelpMode::control);
    EXPECT_FALSE(host.session().overlay().isShown());
    EXPECT_TRUE(host.session().banner().ignoresMouseEvents());
    ASSERT_TRUE(helperGot(EventKind::mode, std::nullopt, beforeControl));
    EXPECT_EQ(lastOf(EventKind::mode)->mode, HelpMode::control);
    ASSERT_TRUE(helperGot(EventKind::cursor, std::nullopt, beforeControl));
    EXPECT_FALSE(lastOf(EventKind::cursor)->cursorShape->png.empty());

    // The helper's mouse and keys land where the helper put them.
    probe.clear();
    probe.focus();
    for (auto kind : {EventKind::mouseMove, EventKind::mouseDown, EventKind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, 0.25, 0.75);
        event.button = 1;
        ada.sendEvent(event);
    }
    ASSERT_TRUE(pressAt(probe, 3, screen.x + screen.width / 4, screen.y + screen.height * 3 / 4));
    SessionEvent key = SessionEvent::make(EventKind::key);
    key.keyCode = 0; // a
    key.down = true;
    ada.sendEvent(key);
    ASSERT_TRUE(probe.waitFor([](const auto& events) {
        for (const auto& e : events)
            if (e.type == ProbeEvent::Type::keyPress)
                return true;
        return false;
    }));
    EXPECT_EQ(host.session().injector().keysDown(), (std::set<int>{0}));

    // The host's user moves their own pointer: control comes back at once. Held keys are
    // let go, the helper is told, and its input is dropped while the user is active.
    LocalUser user("");
    ASSERT_TRUE(user.ok());
    const std::size_t beforeUser = ada.events().size();
    user.moveTo(100, 100);
    ASSERT_TRUE(helperGot(EventKind::localActivity, std::nullopt, beforeUser));
    EXPECT_EQ(lastOf(EventKind::localActivity)->active, true);
    EXPECT_TRUE(host.session().injector().keysDown().empty());
    EXPECT_FALSE(host.session().banner().ignoresMouseEvents());
    EXPECT_TRUE(host.session().banner().model.localActive);
    probe.clear();
    for (auto kind : {EventKind::mouseDown, EventKind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, 0.5, 0.5);
        event.button = 0;
        ada.sendEvent(event);
    }
    // The helper's microphone going on, after the click on the same channel: once the
    // banner shows it, the host has had the click too.
    SessionEvent microphone = SessionEvent::make(EventKind::microphone);
    microphone.active = true;
    ada.sendEvent(microphone);
    ASSERT_TRUE(waitUntil([&] { return host.session().banner().model.helperMicrophoneOn; }));
    probe.pump();
    EXPECT_TRUE(probe.eventsOf(ProbeEvent::Type::buttonPress).empty()) << "the helper is paused";
    // Quiet for 1.5 s: the helper has the mouse again.
    ASSERT_TRUE(rig.timers.fireNext(LocalActivityMonitor::kQuietTime));
    ASSERT_TRUE(waitUntil([&] { return lastOf(EventKind::localActivity)->active == false; }));
    EXPECT_TRUE(host.session().banner().ignoresMouseEvents());

    // "Take back control" on the banner, then Stop.
    banner->controlButton()->click();
    EXPECT_EQ(host.session().mode(), HelpMode::guide);
    banner->stopButton()->click();
    EXPECT_FALSE(host.helperName());
    ASSERT_TRUE(ada.waitFor(Kind::bye));
    EXPECT_EQ(ada.received().back().reason, "stopped");
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: stopped on this Mac"));
}

// In take-over the user's own pointer stops on Stop and rests there, past the quiet time
// that would hand the mouse back to the helper, before clicking: the user keeps the mouse,
// the click is the banner's and ends the session, and the window beneath gets none. The
// helper's clicks on the banner's place go through it to that window.
TEST_F(HostSessionTakeOver, StopTakesTheUsersClickAfterAPauseAndLetsTheHelpersThrough)
{
    HostController& host = *rig.host;
    XEventProbe probe("", screen.x, screen.y, screen.width, screen.height);
    ASSERT_TRUE(probe.ok());
    const auto xtest = probe.coreXTestDevices();
    LocalUser user("");
    ASSERT_TRUE(user.ok());

    host.session().setMode(HelpMode::control);
    ASSERT_EQ(host.session().mode(), HelpMode::control);
    SessionBannerView* banner = host.session().banner().panel();
    ASSERT_TRUE(banner);
    // The banner over the window that stands for what lies beneath it.
    banner->raise();
    ASSERT_TRUE(waitUntil([&] { return stackedAbove(banner->winId(), probe.window()); }));
    ASSERT_TRUE(waitForNextTurn());
    const QPoint stop =
        banner->stopButton()->mapToGlobal(banner->stopButton()->rect().center()) * banner->devicePixelRatioF();
    ASSERT_TRUE(stop.x() >= screen.x && stop.x() < screen.x + screen.width && stop.y() >= screen.y &&
                stop.y() < screen.y + screen.height);

    // The helper's click on Stop's place reaches the window beneath.
    for (auto kind : {EventKind::mouseMove, EventKind::mouseDown, EventKind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, (stop.x() - screen.x + 0.5) / screen.width,
                                                (stop.y() - screen.y + 0.5) / screen.height);
        event.button = 0;
        ada.sendEvent(event);
    }
    ASSERT_TRUE(pressAt(probe, 1, stop.x(), stop.y())) << "the helper's click goes through the banner";
    EXPECT_TRUE(std::find(xtest.begin(), xtest.end(), probe.eventsOf(ProbeEvent::Type::buttonPress).back().sourceid) !=
                xtest.end());
    EXPECT_TRUE(host.helperName());

    // The user's own pointer comes to Stop and rests there 2.5 s: past the quiet time
    // they still have the mouse, and the banner still takes clicks.
    const std::size_t beforeUser = ada.events().size();
    user.moveTo(stop.x() - 2, stop.y());
    ASSERT_TRUE(helperGot(EventKind::localActivity, std::nullopt, beforeUser));
    ASSERT_EQ(lastOf(EventKind::localActivity)->active, true);
    ASSERT_TRUE(rig.timers.fireNext(LocalActivityMonitor::kQuietTime));
    processEventsFor(1000);
    EXPECT_EQ(lastOf(EventKind::localActivity)->active, true) << "the helper got the mouse back";
    EXPECT_TRUE(host.session().localActivity().isActive());
    EXPECT_FALSE(host.session().banner().ignoresMouseEvents());

    // The click: the session ends, and nothing reaches the window beneath.
    probe.pump();
    probe.clear();
    user.click(1);
    const bool ended = waitUntil([&] { return !host.helperName(); }, 10000);
    probe.pump();
    EXPECT_TRUE(probe.eventsOf(ProbeEvent::Type::buttonPress).empty()) << "the window beneath got the click";
    ASSERT_TRUE(ended) << "Stop took the user's click";
    ASSERT_TRUE(ada.waitFor(Kind::bye));
    EXPECT_EQ(ada.received().back().reason, "stopped");
}

} // namespace
} // namespace wl::test
