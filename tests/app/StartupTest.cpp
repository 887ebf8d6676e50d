// Start-up: the check of this computer's key, the steps of the start-up sequence in their
// order (seen through recording fakes), the main window at launch, the application
// entry, and where notification clicks lead.
#include "AppTestKit.h"
#include "ScriptedPrompts.h"
#include "TestDirs.h"

#include "app/DesktopStartup.h"
#include "app/MainWindow.h"
#include "app/MenuBarExtra.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "identity/DeviceIdentity.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/KeyStore.h"
#include "platform/Log.h"
#include "platform/Required.h"
#include "platform/linux/DesktopPlatform.h"
#include "platform/linux/HostServices.h"
#include "protocol/Roster.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace wl {
namespace {

// Start-up never makes new keys in place of ones it can't read: it says so and offers Quit.
TEST(StartupTest, AnUnreadableKeyAsksToQuitAndMakesNoNewKey)
{
    DeviceIdentity unreadable(std::make_shared<UnreadableKeyStore>());
    test::ScriptedPrompts prompts;
    {
        CapturedLog log;
        prompts.answerAlert(0);
        EXPECT_FALSE(identityReadableOrQuit(unreadable, prompts));
        EXPECT_TRUE(log.contains("Wickerlane: this computer's device key can't be read"));
    }
    ASSERT_EQ(prompts.count(), 1u);
    auto question = prompts.questions()[0];
    EXPECT_EQ(question.title, kKeyUnreadableTitle);
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Quit", "Continue"}));
    prompts.answerAlert(1);
    EXPECT_TRUE(identityReadableOrQuit(unreadable, prompts));
    EXPECT_EQ(unreadable.deviceId(), "");

    // A store that can be read makes the key on first use and asks nothing.
    DeviceIdentity readable(std::make_shared<MemoryKeyStore>());
    EXPECT_TRUE(identityReadableOrQuit(readable, prompts));
    EXPECT_EQ(prompts.count(), 2u);
    EXPECT_FALSE(readable.deviceId().empty());
}

} // namespace
} // namespace wl

namespace wl::test {
namespace {

PairedDevice deviceNamed(const std::string& name)
{
    auto key = SigningKey::generate();
    return PairedDevice{fingerprintOfRaw(key.publicKeyRaw()), name, key.publicKeyBase64(), dateNow(), {}, {}};
}

TEST(Startup, TheStepsInTheirOrder)
{
    AppRig rig;
    auto host = deviceNamed("Grace's laptop");
    auto both = deviceNamed("Both ways");
    rig.pairHosts({host, both});
    auto bothAsHelper = both;
    bothAsHelper.name = "Both ways, as a helper";
    rig.pairHelpers({bothAsHelper});
    // A roster naming another computer of this person's, announced at start-up.
    auto mine = deviceNamed("Study");
    auto person = SigningKey::generate();
    rig.defaults->setData(
        MyMacs::kRosterKey,
        SignedRoster::sign({person.publicKeyBase64(), 1, {{mine.id, mine.publicKey, mine.name}}}, person).encode());

    ASSERT_TRUE(rig.start());
    const auto& j = rig.journal;
    ASSERT_EQ(j.at(0), "migrate") << "before anything reads settings or keys";
    EXPECT_EQ(j.at(1), "identity");
    EXPECT_EQ(j.at(2), "keys read");
    EXPECT_LT(rig.at("read WLMessages"), rig.at("read WLPairedHelpers")) << "hub, then host controller";
    EXPECT_LT(rig.at("read WLPairedHelpers"), rig.at("read WLPairedHosts")) << "host, then viewer controller";
    EXPECT_LT(rig.at("read WLPairedHosts"), rig.at("messenger started"));
    EXPECT_LT(rig.at("messenger started"), rig.at("updater made"));
    EXPECT_LT(rig.at("updater made"), rig.at("updater started"));
    EXPECT_LT(rig.at("updater started"), j.size());

    // The roster was announced before the main window looked at the viewer's list.
    auto& viewer = *rig.app->viewer();
    EXPECT_TRUE(std::any_of(viewer.hosts().devices().begin(), viewer.hosts().devices().end(),
                            [&](const PairedDevice& d) { return d.id == mine.id; }));
    // The host registered first: its record wins in the hub's contacts.
    auto contacts = rig.app->services()->allContacts();
    auto entry = std::find_if(contacts.begin(), contacts.end(), [&](const PairedDevice& d) { return d.id == both.id; });
    ASSERT_NE(entry, contacts.end());
    EXPECT_EQ(entry->name, "Both ways, as a helper");
    EXPECT_EQ(std::count_if(contacts.begin(), contacts.end(), [&](const PairedDevice& d) { return d.id == both.id; }),
              1);

    // The updater's idle question asks the hub, the host's side first.
    auto& hub = *rig.app->services();
    std::vector<std::string> asked;
    bool beingHelped = true, helping = false;
    hub.isBeingHelped = [&] {
        asked.push_back("beingHelped");
        return beingHelped;
    };
    hub.isHelping = [&] {
        asked.push_back("helping");
        return helping;
    };
    EXPECT_FALSE(rig.app->updates()->isIdle());
    EXPECT_EQ(asked, (std::vector<std::string>{"beingHelped"}));
    beingHelped = false;
    helping = true;
    EXPECT_FALSE(rig.app->updates()->isIdle());
    helping = false;
    EXPECT_TRUE(rig.app->updates()->isIdle());

    // The main window opens on the next turn of the event loop, not during start-up.
    MainWindow* window = rig.app->mainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->viewer(), &viewer);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(activationPolicy(), ActivationPolicy::accessory);
    EXPECT_TRUE(waitUntil([&] { return window->isVisible(); }));
    EXPECT_EQ(window->windowTitle(), "Wickerlane");
    EXPECT_EQ(activationPolicy(), ActivationPolicy::regular);

    // The tray shows the host's state, with the menu.
    ASSERT_NE(rig.app->menuBarExtra(), nullptr);
    EXPECT_EQ(rig.app->menuBarExtra()->trayIcon().toolTip(), "Wickerlane, help requests off");
    EXPECT_EQ(rig.app->menuBarExtra()->trayIcon().contextMenu(), rig.app->menuBarExtra()->menu().menu());
}

TEST(Startup, WithNoPairedHostsOnlyTheTray)
{
    AppRig rig;
    rig.pairHelpers({deviceNamed("Ada")});
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(waitForNextTurn()) << "where the window would open";
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing the window never quits";
    EXPECT_FALSE(rig.app->mainWindow()->isVisible());
    EXPECT_FALSE(rig.app->mainWindow()->isBuilt());
    EXPECT_EQ(activationPolicy(), ActivationPolicy::accessory);

    // A second launch (or the menu's "Open Wickerlane…") shows it, and again raises the
    // same window.
    rig.app->reopen();
    EXPECT_TRUE(rig.app->mainWindow()->isVisible());
    EXPECT_EQ(activationPolicy(), ActivationPolicy::regular);
    rig.app->mainWindow()->close();
    EXPECT_FALSE(rig.app->mainWindow()->isVisible());
    EXPECT_EQ(activationPolicy(), ActivationPolicy::accessory);
    rig.app->menuBarExtra()->menu().openMainWindow();
    EXPECT_TRUE(rig.app->mainWindow()->isVisible());
    int windows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        windows += qobject_cast<MainWindow*>(widget) != nullptr;
    EXPECT_EQ(windows, 1);
}

TEST(Startup, QuittingAtTheKeyAlertMakesNothing)
{
    AppRig rig;
    rig.keyReadable = false;
    EXPECT_FALSE(rig.start());
    EXPECT_EQ(rig.app->services(), nullptr);
    EXPECT_EQ(rig.at("messenger started"), rig.journal.size());
    EXPECT_EQ(rig.app->menuBarExtra(), nullptr);
}

// Start-up hands the application its settings and key store with the other backends:
// made without them it says so at once, instead of starting over in memory with new
// keys and nothing paired.
TEST(Startup, AnApplicationMadeWithoutItsSettingsOrKeysFailsAtOnce)
{
    const std::vector<std::pair<std::string, std::function<void(Platform&)>>> mistakes = {
        {"a settings store", [](Platform& platform) { platform.defaults = nullptr; }},
        {"a key store", [](Platform& platform) { platform.keys = nullptr; }},
    };
    for (const auto& [missing, unset] : mistakes) {
        AppRig rig;
        unset(rig.platform);
        CapturedLog log;
        EXPECT_THROW(rig.start(), WiringMistake) << missing;
        EXPECT_EQ(rig.app, nullptr) << missing;
        EXPECT_TRUE(log.contains("Wickerlane: WickerlaneApp was made without " + missing)) << missing;
    }
}

TEST(Startup, NotificationClicksLeadWhereTheySay)
{
    using K = MailContent::Kind;
    AppRig rig;
    auto helper = deviceNamed("Ada");
    auto host = deviceNamed("Grace");
    rig.pairHelpers({helper});
    rig.pairHosts({host});
    auto stored = [](const std::string& id, const PairedDevice& peer, K kind) {
        StoredMessage m;
        m.id = id;
        m.peerId = peer.id;
        m.peerName = peer.name;
        m.content.kind = kind;
        m.content.text = "hello";
        m.at = dateNow();
        return m;
    };
    auto reply = stored("reply", helper, K::reply);
    reply.content.replyTo = "request";
    rig.defaults->setData("WLMessages",
                          StoredMessage::encodeList(
                              {stored("fromHelper", helper, K::message), stored("fromHost", host, K::message),
                               stored("password", helper, K::password), reply, stored("asked", host, K::helpRequest)}));
    ASSERT_TRUE(rig.start());
    auto* window = rig.app->mainWindow();
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); })) << "it opens on the next turn";
    window->close();

    rig.notifier.onActivated("online-" + host.id);
    EXPECT_TRUE(window->isVisible());
    window->close();
    rig.notifier.onActivated("asked");
    EXPECT_TRUE(window->isVisible());
    window->close();
    rig.notifier.onActivated("fromHost");
    EXPECT_TRUE(window->isVisible());
    window->close();

    rig.notifier.onActivated("password");
    EXPECT_EQ(rig.app->host()->passwords().panel().shownCount(), 1);
    rig.notifier.onActivated("fromHelper");
    ASSERT_EQ(rig.prompts.count(), 1u);
    EXPECT_EQ(rig.prompts.questions()[0].title, "Reply to Ada");
    rig.app->host()->helpRequests().setActive({{{helper.id, "request"}}, {"Ada"}, {}, {}, dateNow(), 0}, {});
    rig.notifier.onActivated("reply");
    EXPECT_EQ(rig.app->host()->askForHelpPanel().shownCount(), 1);
    rig.notifier.onActivated("no such message");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(rig.prompts.count(), 1u);
}

TEST(Startup, TheApplicationEntryNamesThisCopy)
{
    TempDir home;
    const auto entry = home.path() / "applications" / "org.wickerlane.Wickerlane.desktop";
    ASSERT_TRUE(refreshApplicationEntry(entry, "/opt/wicker lane/wickerlane"));
    std::ifstream in(entry);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Exec=\"/opt/wicker lane/wickerlane\"\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Name=Wickerlane\n"), std::string::npos);
    const auto written = std::filesystem::last_write_time(entry);
    ASSERT_TRUE(refreshApplicationEntry(entry, "/opt/wicker lane/wickerlane"));
    EXPECT_EQ(std::filesystem::last_write_time(entry), written) << "left alone when it names this copy";
    ASSERT_TRUE(refreshApplicationEntry(entry, "/usr/bin/wickerlane"));
    std::ifstream again(entry);
    std::stringstream newer;
    newer << again.rdbuf();
    EXPECT_NE(newer.str().find("Exec=\"/usr/bin/wickerlane\"\n"), std::string::npos);
}

} // namespace
} // namespace wl::test
