// The tray icon's state, folded from the real host controller, viewer controller and
// help-request centre of a started program: the first matching rule wins.
#include "AppTestKit.h"
#include "HostFakes.h"

#include "app/MenuBarExtra.h"
#include "host/HelpRequestCenter.h"

#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using State = MenuBarIcon::State;

TEST(MenuBarLabel, TheFiveStatesByPrecedence)
{
    AppRig rig;
    auto permissions = std::make_shared<SwitchablePermissions>();
    rig.platform.permissions = permissions;
    FakeHost grace("Grace");
    rig.pairHosts({grace.record()});
    ASSERT_TRUE(rig.start());
    auto& host = *rig.app->host();
    auto& viewer = *rig.app->viewer();
    auto& requests = host.helpRequests();
    MenuBarExtra& extra = *rig.app->menuBarExtra();
    auto state = [&] { return extra.label().state(); };
    auto tip = [&] { return extra.trayIcon().toolTip().toStdString(); };

    // Help requests off (the setting is absent), whatever else.
    EXPECT_EQ(state(), State::off);
    EXPECT_EQ(tip(), "Wickerlane, help requests off");
    permissions->recordScreen = false;
    host.checkPermissions();
    EXPECT_EQ(state(), State::off) << "off before attention";

    // On, Screen Recording missing: attention, also with a request open.
    host.setAcceptingHelpRequests(true);
    EXPECT_EQ(state(), State::attention);
    requests.setActive({{{"someone", "r1"}}, {"Ada"}, {}, {}, dateNow(), 0}, {});
    EXPECT_EQ(state(), State::attention);
    EXPECT_EQ(tip(), "Wickerlane, needs attention");

    // Screen Recording back: the open request shows, then ready.
    permissions->recordScreen = true;
    host.checkPermissions();
    EXPECT_EQ(state(), State::helpRequested);
    EXPECT_EQ(tip(), "Wickerlane, help requested");
    requests.clearActive();
    EXPECT_EQ(state(), State::ready);
    EXPECT_EQ(tip(), "Wickerlane, ready");

    // Connecting to another computer counts as a session, even with help requests off;
    // a message on the helper's screen does not.
    host.setAcceptingHelpRequests(false);
    viewer.session().connect(grace.record(), false);
    EXPECT_EQ(state(), State::inSession);
    EXPECT_EQ(tip(), "Wickerlane, in a session");
    EXPECT_EQ(extra.trayIcon().icon().cacheKey(), MenuBarIcon::image(State::inSession, extra.iconColour()).cacheKey());
    SignalMessage declined = SignalMessage::make(SignalMessage::Kind::declined);
    declined.reason = "busy";
    rig.transports.back()->deliver(declined);
    EXPECT_EQ(viewer.session().phase().kind, ViewerController::Phase::Kind::message);
    EXPECT_EQ(state(), State::off);
    viewer.backToDevices();
    EXPECT_EQ(state(), State::off);
}

} // namespace
} // namespace wl::test
