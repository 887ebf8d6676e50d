// The main window over a real viewer controller: its first size and place, the saved
// frame, its minimum size, one window however often it is shown, what closing it ends,
// and its passwords row beside the Passwords window when a password ends.
#include "AppTestKit.h"

#include "app/MainWindow.h"
#include "app/PasswordsView.h"
#include "app/ShellPanel.h"
#include "app/people/PasswordsRow.h"
#include "app/people/PeopleView.h"
#include "mail/PasswordsPanelController.h"
#include "viewer/ViewerRootView.h"

#include <QApplication>
#include <QLabel>
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
    // The X server's answer to every change so far is in: none comes after the frame is read.
    ASSERT_TRUE(
        waitUntil([&] { return window.windowHandle()->geometry() == QRect(QPoint(100, 80), QSize(900, 700)); }));
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
    MainWindow& window = *rig.app->mainWindow();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); })) << "it opens on the next turn";
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

// A received password ends while the main window and the Passwords window show it: both
// let it go with the password centre's one change at that moment.
TEST(MainWindow, ThePasswordsRowAndThePasswordsWindowLetAPasswordGoTogetherWhenItEnds)
{
    AppRig rig;
    Date now = std::floor(dateNow());
    rig.clock = [&now] { return now; };
    auto key = SigningKey::generate();
    PairedDevice mom{fingerprintOfRaw(key.publicKeyRaw()), "Mom's iMac", key.publicKeyBase64(), now - 86400, {}, {}};
    rig.pairHosts({mom});
    StoredMessage password;
    password.id = "in";
    password.peerId = mom.id;
    password.peerName = mom.name;
    password.content.kind = MailContent::Kind::password;
    password.content.sentAt = now - 60;
    password.content.expiresAt = now + 3;
    password.sealed = MailEnvelope{};
    password.at = now - 60;
    rig.defaults->setData("WLMessages", StoredMessage::encodeList({password}));
    ASSERT_TRUE(rig.start());
    rig.app->openMainWindow();
    PasswordCenter& centre = *rig.app->services()->passwords;
    centre.panel().show();
    auto* panel = dynamic_cast<ShellPanel*>(centre.panel().panel());
    ASSERT_NE(panel, nullptr);
    auto* passwords = qobject_cast<PasswordsView*>(panel->view());
    ASSERT_NE(passwords, nullptr);
    PeopleView& people = *rig.app->mainWindow()->peopleView();
    auto rowText = [&] {
        auto* row = people.findChild<PasswordsRow*>(QStringLiteral("passwordsRow"));
        auto* text = row ? row->findChild<QLabel*>(QStringLiteral("passwordsText")) : nullptr;
        return text ? text->text().toStdString() : std::string("<no row>");
    };
    EXPECT_EQ(rowText(), "1 password to copy");
    EXPECT_NE(passwords->card("in"), nullptr);

    // Its end: the clock reaches it, and the timer the centre set for that moment fires.
    now += 3;
    passwords->tick();
    EXPECT_TRUE(rig.timers.fireNext(std::chrono::milliseconds(3000))) << "a timer for the moment it ends";
    EXPECT_EQ(passwords->card("in"), nullptr);
    auto* empty = passwords->findChild<QLabel*>(QStringLiteral("emptyText"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->text(), QStringLiteral("No passwords right now."));
    EXPECT_EQ(rowText(), "<no row>");
}

} // namespace
} // namespace wl::test
