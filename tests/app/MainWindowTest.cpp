// The main window over a real viewer controller: its first size and place, the saved
// frame, its minimum size, one window however often it is shown, and what closing it
// ends.
#include "AppTestKit.h"

#include "app/MainWindow.h"
#include "viewer/ViewerRootView.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

TEST(MainWindow, FirstShownCentredThenWhereTheUserLeftIt)
{
    AppRig rig;
    ASSERT_TRUE(rig.start());
    MainWindow& window = *rig.app->mainWindow();
    window.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), QSize(760, 640));
    EXPECT_EQ(window.minimumSize(), QSize(720, 480));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(window.geometry().center().x() - screen.center().x()), 2);
    ASSERT_NE(window.rootView(), nullptr);

    // Smaller than the minimum is not possible.
    window.resize(300, 200);
    EXPECT_EQ(window.size(), QSize(720, 480));
    window.setGeometry(QRect(QPoint(100, 80), QSize(900, 700)));
    processEventsFor(20);
    const QRect frame = window.geometry();
    window.close();

    // Shown again: the same window, the same root view.
    ViewerRootView* root = window.rootView();
    window.present();
    EXPECT_EQ(window.rootView(), root);
    EXPECT_TRUE(window.isVisible());

    // At the next launch (a new window over the same settings) the frame comes back.
    MainWindow next(rig.defaults, rig.timers.factory(), rig.prompts);
    next.setViewer(rig.app->viewer());
    next.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
    EXPECT_EQ(next.size(), frame.size());
    EXPECT_EQ(next.geometry().topLeft(), frame.topLeft());
    next.close();
}

TEST(MainWindow, WithoutAViewerNothingShows)
{
    ManualTimers timers;
    ScriptedPrompts prompts;
    MainWindow window(std::make_shared<MemoryDefaults>(), timers.factory(), prompts);
    window.present();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isBuilt());
}

TEST(MainWindow, ClosingEndsAConnectionButNotAMessageOrTheList)
{
    AppRig rig;
    FakeHost grace("Grace");
    rig.pairHosts({grace.record()});
    ASSERT_TRUE(rig.start());
    QCoreApplication::processEvents();
    MainWindow& window = *rig.app->mainWindow();
    ASSERT_TRUE(window.isVisible());
    auto& viewer = *rig.app->viewer();

    // Browsing: closing ends nothing; the program stays, as an accessory.
    window.close();
    EXPECT_TRUE(rig.transports.empty());
    EXPECT_EQ(activationPolicy(), ActivationPolicy::accessory);
    EXPECT_EQ(rig.quits, 0);

    // Connecting: closing ends the attempt with "bye" (helperLeft).
    window.present();
    viewer.session().connect(grace.record(), false);
    ASSERT_EQ(rig.transports.size(), 1u);
    EXPECT_EQ(viewer.session().phase().kind, ViewerController::Phase::Kind::waiting);
    window.close();
    auto byes = rig.transports[0]->sentOf(SignalMessage::Kind::bye);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].reason, "helperLeft");
    EXPECT_EQ(viewer.session().phase().kind, ViewerController::Phase::Kind::browsing);
    EXPECT_EQ(activationPolicy(), ActivationPolicy::accessory);

    // A message on screen: closing leaves it.
    window.present();
    viewer.session().connect(grace.record(), false);
    ASSERT_EQ(rig.transports.size(), 2u);
    SignalMessage declined = SignalMessage::make(SignalMessage::Kind::declined);
    declined.reason = "notNow";
    rig.transports[1]->deliver(declined);
    ASSERT_EQ(viewer.session().phase().kind, ViewerController::Phase::Kind::message);
    const auto sent = rig.transports[1]->sent.size();
    window.close();
    EXPECT_EQ(rig.transports[1]->sent.size(), sent);
    EXPECT_EQ(viewer.session().phase().kind, ViewerController::Phase::Kind::message);
}

} // namespace
} // namespace wl::test
