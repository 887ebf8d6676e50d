// The host's menu built from real host controllers, help-request centres and messengers
// set up as fixtures (paired helpers, grants, a My Macs roster, a message history, an
// open help request), driven the way a person uses a menu: it pops up and items are
// clicked with QTest. Every item's text, enabled state and action is checked.
#include "HostTestKit.h"

#include "app/DateText.h"
#include "app/HostMenu.h"
#include "app/MenuBarLabel.h"
#include "viewer/ViewerController.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "host/PairingPanelController.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "protocol/Roster.h"
#include "style/Widgets.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

// One line of a menu as a person sees it.
struct Line {
    std::string text; // "---" for a separator; a submenu's title otherwise
    bool enabled = true;
    bool submenu = false;
    bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Line& line)
{
    return out << '"' << line.text << '"' << (line.enabled ? "" : " (grey)") << (line.submenu ? " >" : "");
}

std::string shown(const QAction* action)
{
    return action->text().replace(QStringLiteral("&&"), QStringLiteral("&")).toStdString();
}

std::vector<Line> linesOf(const QMenu& menu)
{
    std::vector<Line> lines;
    for (const QAction* action : menu.actions()) {
        if (!action->isVisible())
            continue;
        if (action->isSeparator())
            lines.push_back({"---", true, false});
        else
            lines.push_back({shown(action), action->isEnabled(), action->menu() != nullptr});
    }
    return lines;
}

QAction* find(const QMenu& menu, const std::string& text)
{
    for (QAction* action : menu.actions())
        if (action->isVisible() && !action->isSeparator() && shown(action) == text)
            return action;
    return nullptr;
}

QMenu* submenu(const QMenu& menu, const std::string& title)
{
    QAction* action = find(menu, title);
    return action ? action->menu() : nullptr;
}

// Pops the menu up and clicks the item with the mouse, as a person would; false when
// there is no such item. The menu closes when an item is chosen.
bool click(QMenu& menu, const std::string& text)
{
    QAction* action = find(menu, text);
    if (!action)
        return false;
    menu.popup(QPoint(40, 40));
    if (!QTest::qWaitForWindowExposed(&menu))
        return false;
    const QPoint where = menu.actionGeometry(action).center();
    QPointer<QMenu> alive(&menu);
    QTest::mouseMove(&menu, where);
    QTest::mouseClick(&menu, Qt::LeftButton, {}, where);
    if (!waitForNextTurn())
        return false;
    if (alive)
        alive->hide();
    return true;
}

// The menu and what it asks of the shell.
struct MenuRig {
    explicit MenuRig(HostRig& rig)
    {
        HostMenu::Actions actions;
        actions.openMainWindow = [this] { ++mainWindowOpened; };
        actions.hasUpdater = [this] { return hasUpdater; };
        actions.checkForUpdates = [this] { ++updateChecks; };
        actions.quit = [this] { ++quits; };
        menu = std::make_unique<HostMenu>(*rig.host, rig.host->messenger(), rig.host->helpRequests(), actions);
    }
    // The menu as it is after pending changes are in.
    QMenu& now()
    {
        EXPECT_TRUE(waitForNextTurn());
        return *menu->menu();
    }
    std::unique_ptr<HostMenu> menu;
    bool hasUpdater = false;
    int mainWindowOpened = 0;
    int updateChecks = 0;
    int quits = 0;
};

PairedDevice helperRecord(const std::string& name, std::optional<UnattendedGrant> grant = std::nullopt)
{
    auto key = SigningKey::generate();
    return PairedDevice{
        fingerprintOfRaw(key.publicKeyRaw()), name, key.publicKeyBase64(), dateNow() - 86400 * 30, grant, {}};
}

UnattendedGrant grant(bool pin, int wrong)
{
    UnattendedGrant g;
    g.enabledAt = dateNow();
    if (pin) {
        g.pinKey = "a2V5";
        g.pinSalt = "c2FsdA==";
    }
    g.failedAttempts = wrong;
    return g;
}

const Line sep{"---", true, false};

TEST(HostMenu, WithNoHelpersAndEveryProgramItem)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    rig.make();
    MenuRig m(rig);
    EXPECT_EQ(linesOf(m.now()),
              (std::vector<Line>{
                  {"Not accepting help requests", false},
                  {"Open Wickerlane\u2026"},
                  sep,
                  {"Ask for Help\u2026", false},
                  sep,
                  {"Turn On Help Requests"},
                  sep,
                  {"Pair a New Helper\u2026"},
                  {"No helpers paired yet", false},
                  sep,
                  {"Open at Login"},
                  {"Show Session History"},
                  sep,
                  {"Quit Wickerlane"},
              }));

    // Disabled items do nothing when clicked.
    ASSERT_TRUE(click(m.now(), "Ask for Help\u2026"));
    EXPECT_EQ(rig.host->askForHelpPanel().shownCount(), 0);

    ASSERT_TRUE(click(m.now(), "Open Wickerlane\u2026"));
    EXPECT_EQ(m.mainWindowOpened, 1);

    // Help requests on: connecting, then online; off again. The items are made once: the
    // status line is the same item throughout, its text following the controller.
    QPointer<QAction> status = m.now().actions()[0];
    ASSERT_TRUE(click(m.now(), "Turn On Help Requests"));
    EXPECT_EQ(rig.defaults->boolValue("WLAcceptHelpRequests"), true);
    if (!rig.host->isOnline()) {
        m.menu->refresh();
        EXPECT_EQ(linesOf(*m.menu->menu())[0], (Line{"Connecting\u2026", false}));
    }
    EXPECT_TRUE(find(m.now(), "Turn Off Help Requests"));
    ASSERT_TRUE(waitUntil([&] { return rig.host->isOnline(); }, 10000));
    EXPECT_EQ(linesOf(m.now())[0], (Line{"Online \u00B7 waiting for help requests", false}));
    ASSERT_TRUE(status);
    EXPECT_EQ(m.now().actions()[0], status.data());
    EXPECT_EQ(status->text(), QStringLiteral("Online \u00B7 waiting for help requests"));
    ASSERT_TRUE(click(m.now(), "Turn Off Help Requests"));
    EXPECT_EQ(rig.defaults->boolValue("WLAcceptHelpRequests"), false);
    EXPECT_FALSE(rig.host->isListening());
    EXPECT_EQ(linesOf(m.now())[0], (Line{"Not accepting help requests", false}));
    EXPECT_TRUE(find(m.now(), "Turn On Help Requests"));

    // Open at Login shows what the system reports after the change.
    QPointer<QAction> openAtLogin = find(m.now(), "Open at Login");
    ASSERT_TRUE(click(m.now(), "Open at Login"));
    EXPECT_TRUE(std::filesystem::exists(rig.folder.path() / "autostart" / "wickerlane.desktop"));
    ASSERT_TRUE(openAtLogin);
    EXPECT_EQ(find(m.now(), "\u2713 Open at Login"), openAtLogin.data());
    ASSERT_TRUE(click(m.now(), "\u2713 Open at Login"));
    EXPECT_TRUE(find(m.now(), "Open at Login"));

    ASSERT_TRUE(click(m.now(), "Show Session History"));
    ASSERT_EQ(rig.workspace->opened.size(), 1u);
    EXPECT_NE(rig.workspace->opened[0].find("Session History.log"), std::string::npos);

    // "Check for Updates…" only while an updater exists.
    EXPECT_FALSE(find(m.now(), "Check for Updates\u2026"));
    m.hasUpdater = true;
    m.menu->refresh();
    auto lines = linesOf(m.now());
    EXPECT_EQ((std::vector<Line>(lines.end() - 3, lines.end())),
              (std::vector<Line>{sep, {"Check for Updates\u2026"}, {"Quit Wickerlane"}}));
    ASSERT_TRUE(click(m.now(), "Check for Updates\u2026"));
    EXPECT_EQ(m.updateChecks, 1);

    ASSERT_TRUE(click(m.now(), "Quit Wickerlane"));
    EXPECT_EQ(m.quits, 1);

    // Pairing under way greys the item out.
    ASSERT_TRUE(click(m.now(), "Pair a New Helper\u2026"));
    EXPECT_TRUE(rig.host->isPairing());
    const auto pairing = linesOf(m.now());
    EXPECT_NE(std::find(pairing.begin(), pairing.end(), Line{"Pair a New Helper\u2026", false}), pairing.end());
    rig.host->pairedHelpers().pairingPanel().close();
}

TEST(HostMenu, PermissionWarningsOneAtATime)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    rig.permissions->recordScreen = false;
    rig.permissions->control = false;
    rig.make();
    MenuRig m(rig);
    const std::string screen = "\u26A0\uFE0E Screen Recording is off: helpers can't see this Mac. Fix\u2026";
    const std::string access = "Accessibility is off: helpers can guide but not take over. Fix\u2026";
    EXPECT_EQ(linesOf(m.now())[2], (Line{screen}));
    EXPECT_FALSE(find(m.now(), access));
    ASSERT_TRUE(click(m.now(), screen));
    EXPECT_EQ(rig.workspace->panes, (std::vector<Workspace::PrivacyPane>{Workspace::PrivacyPane::screenRecording}));

    rig.permissions->recordScreen = true;
    rig.host->checkPermissions();
    EXPECT_EQ(linesOf(m.now())[2], (Line{access}));
    EXPECT_FALSE(find(m.now(), screen));
    ASSERT_TRUE(click(m.now(), access));
    EXPECT_EQ(rig.workspace->panes.back(), Workspace::PrivacyPane::accessibility);

    rig.permissions->control = true;
    rig.host->checkPermissions();
    EXPECT_EQ(linesOf(m.now())[2], sep);
}

TEST(HostMenu, HelpersAndTheirSubmenus)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    auto ada = helperRecord("Ada Lovelace");
    auto bo = helperRecord("Bo Diddley", grant(true, 4));
    auto cy = helperRecord("Cy Twombly", grant(false, 5));
    auto dee = helperRecord("Dee & Co", grant(false, 0));
    rig.pair({ada, bo, cy, dee});
    // Dee's computer is another of this person's own.
    auto person = SigningKey::generate();
    MyMacsRoster roster{person.publicKeyBase64(), 3, {{dee.id, dee.publicKey, dee.name}}};
    rig.defaults->setData(MyMacs::kRosterKey, SignedRoster::sign(roster, person).encode());
    rig.make();
    MenuRig m(rig);

    auto lines = linesOf(m.now());
    auto helpers = std::find(lines.begin(), lines.end(), Line{"Helpers who can ask", false});
    ASSERT_NE(helpers, lines.end());
    EXPECT_EQ((std::vector<Line>(helpers, helpers + 5)),
              (std::vector<Line>{{"Helpers who can ask", false},
                                 {"Ada Lovelace", true, true},
                                 {"Bo Diddley \u00B7 unattended", true, true},
                                 {"Cy Twombly \u00B7 unattended", true, true},
                                 {"Dee & Co \u00B7 my Mac \u00B7 unattended", true, true}}));
    EXPECT_EQ(lines[3], (Line{"Ask for Help\u2026"})) << "helpers are paired";

    const std::string paired = "Paired " + abbreviatedDate(ada.pairedAt).toStdString();
    EXPECT_EQ(linesOf(*submenu(m.now(), "Ada Lovelace")),
              (std::vector<Line>{{paired, false},
                                 {"Send a Message\u2026"},
                                 {"Send a Password\u2026"},
                                 sep,
                                 {"Allow Unattended Access\u2026"},
                                 sep,
                                 {"Remove Ada Lovelace"}}));
    EXPECT_EQ(linesOf(*submenu(m.now(), "Bo Diddley \u00B7 unattended")),
              (std::vector<Line>{{paired, false},
                                 {"Send a Message\u2026"},
                                 {"Send a Password\u2026"},
                                 sep,
                                 {"Can connect without asking (with PIN)", false},
                                 {"Turn Off Unattended Access"},
                                 sep,
                                 {"Remove Bo Diddley"}}));
    EXPECT_EQ(linesOf(*submenu(m.now(), "Cy Twombly \u00B7 unattended")),
              (std::vector<Line>{{paired, false},
                                 {"Send a Message\u2026"},
                                 {"Send a Password\u2026"},
                                 sep,
                                 {"Unattended access locked after 5 wrong PINs", false},
                                 {"Re-enable Unattended Access\u2026"},
                                 {"Turn Off Unattended Access"},
                                 sep,
                                 {"Remove Cy Twombly"}}));
    EXPECT_EQ(linesOf(*submenu(m.now(), "Dee & Co \u00B7 my Mac \u00B7 unattended")),
              (std::vector<Line>{{paired, false},
                                 {"Send a Message\u2026"},
                                 {"Send a Password\u2026"},
                                 sep,
                                 {"Can connect without asking", false},
                                 {"Turn Off Unattended Access"},
                                 sep,
                                 {"One of your Macs: change in the Wickerlane window\u2026"}}));

    // The actions.
    ASSERT_TRUE(click(*submenu(m.now(), "Ada Lovelace"), "Send a Message\u2026"));
    ASSERT_EQ(rig.prompts.count(), 1u);
    EXPECT_EQ(rig.prompts.questions()[0].title, "Message to Ada Lovelace");
    EXPECT_EQ(rig.prompts.questions()[0].buttons.at(0), "Send");
    ASSERT_TRUE(click(*submenu(m.now(), "Ada Lovelace"), "Send a Password\u2026"));
    EXPECT_EQ(rig.host->passwords().composer().shownCount(), 1);
    ASSERT_TRUE(click(*submenu(m.now(), "Ada Lovelace"), "Allow Unattended Access\u2026"));
    EXPECT_EQ(rig.admin->asked, 1) << "administrator rights first";
    ASSERT_TRUE(click(*submenu(m.now(), "Cy Twombly \u00B7 unattended"), "Re-enable Unattended Access\u2026"));
    EXPECT_EQ(rig.admin->asked, 2);
    ASSERT_TRUE(click(*submenu(m.now(), "Dee & Co \u00B7 my Mac \u00B7 unattended"),
                      "One of your Macs: change in the Wickerlane window\u2026"));
    EXPECT_EQ(m.mainWindowOpened, 1);

    ASSERT_TRUE(click(*submenu(m.now(), "Bo Diddley \u00B7 unattended"), "Turn Off Unattended Access"));
    EXPECT_FALSE(rig.host->helpers()[1].unattended);
    EXPECT_TRUE(rig.historyHas("Unattended access turned off for Bo Diddley"));
    ASSERT_TRUE(submenu(m.now(), "Bo Diddley")) << "the title follows the grant";
    EXPECT_TRUE(find(*submenu(m.now(), "Bo Diddley"), "Allow Unattended Access\u2026"));

    ASSERT_TRUE(click(*submenu(m.now(), "Ada Lovelace"), "Remove Ada Lovelace"));
    EXPECT_EQ(rig.host->helpers().size(), 3u);
    EXPECT_FALSE(submenu(m.now(), "Ada Lovelace"));
    EXPECT_TRUE(rig.historyHas("Removed helper Ada Lovelace"));

    ASSERT_TRUE(click(m.now(), "Ask for Help\u2026"));
    EXPECT_EQ(rig.host->askForHelpPanel().shownCount(), 1);
}

StoredMessage stored(const std::string& id, const PairedDevice& peer, bool outgoing, MailContent::Kind kind,
                     std::optional<std::string> text, Date at)
{
    StoredMessage message;
    message.id = id;
    message.peerId = peer.id;
    message.peerName = peer.name;
    message.outgoing = outgoing;
    message.content.kind = kind;
    message.content.sentAt = at;
    message.content.text = std::move(text);
    message.at = at;
    return message;
}

TEST(HostMenu, MessagesPasswordsAndTheOpenRequest)
{
    using K = MailContent::Kind;
    HostRig rig;
    ASSERT_TRUE(rig.started);
    auto ada = helperRecord("Ada Lovelace");
    auto gone = helperRecord("Gone Away");
    rig.pair({ada});
    const Date now = dateNow();
    std::vector<StoredMessage> history;
    // Ten messages of the listed kinds, oldest first, with receipts and cancels between.
    for (int i = 0; i < 7; ++i)
        history.push_back(
            stored("m" + std::to_string(i), ada, i % 2 == 0, K::message, "note " + std::to_string(i), now - 100 + i));
    history.push_back(stored("r", ada, false, K::receipt, "delivered", now - 50));
    history.push_back(stored("c", ada, false, K::cancel, std::nullopt, now - 49));
    auto request = stored("h1", ada, true, K::helpRequest, std::nullopt, now - 40);
    request.content.topic = "Printer";
    history.push_back(request);
    history.push_back(stored("h2", ada, false, K::helpRequest, std::nullopt, now - 39));
    auto password = stored("p1", ada, false, K::password, std::nullopt, now - 30);
    password.sealed = MailEnvelope{};
    password.content.expiresAt = now + 3000;
    history.push_back(password);
    rig.defaults->setData("WLMessages", StoredMessage::encodeList(history));
    rig.make();
    MenuRig m(rig);

    EXPECT_TRUE(find(m.now(), "Passwords (1 to copy)\u2026"));
    QMenu* messages = submenu(m.now(), "Messages");
    ASSERT_TRUE(messages);
    EXPECT_EQ(linesOf(*messages),
              (std::vector<Line>{
                  {"Ada Lovelace: a password for something"},
                  {"Ada Lovelace:  \u00B7 Reply\u2026"},
                  {"To Ada Lovelace: Printer", false},
                  {"To Ada Lovelace: note 6", false},
                  {"Ada Lovelace: note 5 \u00B7 Reply\u2026"},
                  {"To Ada Lovelace: note 4", false},
                  {"Ada Lovelace: note 3 \u00B7 Reply\u2026"},
                  {"To Ada Lovelace: note 2", false},
              }))
        << "the newest 8, newest first; receipts and cancels never";

    ASSERT_TRUE(click(*messages, "Ada Lovelace: note 5 \u00B7 Reply\u2026"));
    ASSERT_EQ(rig.prompts.count(), 1u);
    EXPECT_EQ(rig.prompts.questions()[0].title, "Reply to Ada Lovelace");
    EXPECT_EQ(rig.prompts.questions()[0].informativeText, "\u201Cnote 5\u201D");
    ASSERT_TRUE(click(*submenu(m.now(), "Messages"), "Ada Lovelace: a password for something"));
    ASSERT_TRUE(click(m.now(), "Passwords (1 to copy)\u2026"));
    EXPECT_EQ(rig.host->passwords().panel().shownCount(), 2);

    // A reply row of a computer that is no longer a paired helper asks nothing.
    rig.host->messenger().updateMessage("m5", [&](StoredMessage& message) {
        message.peerId = gone.id;
        message.peerName = gone.name;
    });
    ASSERT_TRUE(click(*submenu(m.now(), "Messages"), "Gone Away: note 5 \u00B7 Reply\u2026"));
    EXPECT_EQ(rig.prompts.count(), 1u);

    // An open request: waiting, then the latest reply; cancelled.
    auto& requests = rig.host->helpRequests();
    requests.setActive({{{ada.id, "h1"}}, {"Ada Lovelace"}, "Printer", std::nullopt, now - 40, 0}, {});
    auto lines = linesOf(m.now());
    EXPECT_EQ((std::vector<Line>(lines.begin() + 3, lines.begin() + 6)),
              (std::vector<Line>{{"Help requested \u00B7 waiting for Ada"},
                                 {"Asked " + shortTime(now - 40).toStdString() + " about printer", false},
                                 {"Cancel Help Request"}}));
    ASSERT_TRUE(click(m.now(), "Help requested \u00B7 waiting for Ada"));
    EXPECT_EQ(rig.host->askForHelpPanel().shownCount(), 1);

    auto reply = stored("y1", ada, false, K::reply, "On my way", now - 20);
    reply.content.replyTo = "h1";
    auto later = stored("y2", ada, false, K::reply, "Try turning it off", now - 10);
    later.content.replyTo = "h1";
    for (const auto& message : {reply, later}) {
        auto list = rig.host->messenger().messages();
        list.push_back(message);
        rig.defaults->setData("WLMessages", StoredMessage::encodeList(list));
    }
    // The messenger stores what arrives; here the history is read again.
    rig.destroy();
    rig.make();
    MenuRig again(rig);
    rig.host->helpRequests().setActive({{{ada.id, "h1"}}, {"Ada Lovelace"}, std::nullopt, std::nullopt, now - 40, 0},
                                       {});
    lines = linesOf(again.now());
    EXPECT_EQ((std::vector<Line>(lines.begin() + 3, lines.begin() + 6)),
              (std::vector<Line>{{"Ada Lovelace: \u201CTry turning it off\u201D"},
                                 {"Asked " + shortTime(now - 40).toStdString(), false},
                                 {"Cancel Help Request"}}));
    ASSERT_TRUE(click(again.now(), "Cancel Help Request"));
    EXPECT_FALSE(rig.host->helpRequests().active());
    EXPECT_TRUE(rig.historyHas("Cancelled the help request"));
    EXPECT_TRUE(find(again.now(), "Ask for Help\u2026"));
}

TEST(HostMenu, PasswordsItemByWhatThereIs)
{
    using K = MailContent::Kind;
    HostRig rig;
    ASSERT_TRUE(rig.started);
    auto ada = helperRecord("Ada & Co");
    rig.pair({ada});
    auto sent = stored("s1", ada, true, K::password, std::nullopt, dateNow() - 60);
    sent.content.label = "the router";
    rig.defaults->setData("WLMessages", StoredMessage::encodeList({sent}));
    rig.make();
    MenuRig m(rig);
    EXPECT_TRUE(find(m.now(), "Passwords\u2026"));
    EXPECT_TRUE(find(*submenu(m.now(), "Messages"), "To Ada & Co: a password for the router"));
    ASSERT_TRUE(click(m.now(), "Passwords\u2026"));
    EXPECT_EQ(rig.host->passwords().panel().shownCount(), 1);

    HostRig empty;
    ASSERT_TRUE(empty.started);
    empty.make();
    MenuRig none(empty);
    for (const auto& line : linesOf(none.now())) {
        EXPECT_EQ(line.text.find("Passwords"), std::string::npos);
        EXPECT_NE(line.text, "Messages");
    }
}

// What a person reads where the pointer rests on the item: its tool tip, as plain text.
std::string toolTipOf(QMenu& menu, QAction* action)
{
    menu.popup(QPoint(40, 40));
    if (!action || !QTest::qWaitForWindowExposed(&menu))
        return "<no item>";
    const QPoint where = menu.actionGeometry(action).center();
    QHelpEvent rest(QEvent::ToolTip, where, menu.mapToGlobal(where));
    QApplication::sendEvent(&menu, &rest);
    QTextDocument said;
    said.setHtml(QToolTip::text());
    const std::string text = QToolTip::isVisible() ? said.toPlainText().toStdString() : "<no tool tip>";
    QToolTip::hideText();
    menu.hide();
    return text;
}

QAction* startingWith(const QMenu& menu, const std::string& start)
{
    for (QAction* action : menu.actions())
        if (action->isVisible() && shown(action).rfind(start, 0) == 0)
            return action;
    return nullptr;
}

// Names, replies and messages far wider than a menu: the menu keeps its width, each item
// ends in "…" before what always follows it, and the whole text shows where the pointer
// rests on it.
TEST(HostMenu, LongNamesRepliesAndMessagesEndInAnEllipsisAndShowWholeWhereThePointerRests)
{
    using K = MailContent::Kind;
    HostRig rig;
    ASSERT_TRUE(rig.started);
    const std::string name = "Augusta Ada King, Countess of Lovelace, of Ockham Park, Surrey";
    auto ada = helperRecord(name, grant(false, 0));
    rig.pair({ada});
    std::string said = "On my way";
    while (said.size() < 1000)
        said += ", and the printer can wait for me";
    auto reply = stored("y1", ada, false, K::reply, said, dateNow() - 10);
    reply.content.replyTo = "h1";
    rig.defaults->setData(
        "WLMessages", StoredMessage::encodeList({stored("m1", ada, false, K::message, said, dateNow() - 20), reply}));
    rig.make();
    MenuRig m(rig);
    rig.host->helpRequests().setActive({{{ada.id, "h1"}}, {name}, std::nullopt, std::nullopt, dateNow() - 40, 0}, {});

    QMenu& menu = m.now();
    menu.popup(QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    EXPECT_LE(menu.width(), kMenuTextWidth + 120) << "as wide as its fixed items, about";
    menu.hide();

    QAction* latest = startingWith(menu, "Augusta");
    ASSERT_TRUE(latest);
    EXPECT_TRUE(shown(latest).ends_with("\u2026\u201D")) << shown(latest);
    EXPECT_EQ(toolTipOf(menu, latest), name + ": \u201C" + said + "\u201D");

    QAction* helper = nullptr;
    for (QAction* action : menu.actions())
        if (action->menu() && action->isVisible() && shown(action).rfind("Augusta", 0) == 0)
            helper = action;
    ASSERT_TRUE(helper && helper->menu());
    EXPECT_TRUE(shown(helper).ends_with("\u2026 \u00B7 unattended")) << shown(helper);
    EXPECT_EQ(toolTipOf(menu, helper), name + " \u00B7 unattended");

    QMenu* messages = submenu(menu, "Messages");
    ASSERT_TRUE(messages);
    QAction* row = startingWith(*messages, "Augusta");
    ASSERT_TRUE(row);
    EXPECT_TRUE(shown(row).ends_with("\u2026 \u00B7 Reply\u2026")) << shown(row);
    EXPECT_EQ(toolTipOf(*messages, row), name + ": " + said + " \u00B7 Reply\u2026");
}

} // namespace
} // namespace wl::test

namespace wl::test {
namespace {

// With a helper in session (a scripted helper admitted with consent over the real
// service): the status line names the helper, "Stop Session" shows and ends it.
TEST(HostMenuSession, StopSessionEndsTheHelpersSession)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    rig.make();
    MenuRig m(rig);
    ASSERT_TRUE(rig.goOnline());
    EXPECT_FALSE(find(m.now(), "Stop Session"));

    rig.prompts.answerAlert(0);
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(SignalMessage::Kind::challenge));
    ada.prove();
    ASSERT_TRUE(ada.waitFor(SignalMessage::Kind::accepted));
    auto lines = linesOf(m.now());
    EXPECT_EQ(lines[0], (Line{"Ada Lovelace is helping", false}));
    // The tray shows a session, the host's side being the first rule.
    ViewerController::Options viewerOptions;
    viewerOptions.platform.defaults = std::make_shared<MemoryDefaults>();
    viewerOptions.platform.info = rig.info;
    viewerOptions.platform.timers = rig.timers.factory();
    viewerOptions.platform.prompts = borrowed(rig.prompts);
    viewerOptions.platform.notifier = rig.notifier;
    viewerOptions.platform.ownerCheck = borrowed(rig.ownerCheck);
    viewerOptions.identity = rig.identity;
    viewerOptions.isOnline = [](const std::string&, std::function<void(bool)>) {};
    ViewerController viewer(*rig.services, test::loopbackEngine(), viewerOptions);
    MenuBarLabel label(*rig.host, viewer, rig.host->helpRequests());
    EXPECT_EQ(label.state(), MenuBarIcon::State::inSession);
    auto off = std::find(lines.begin(), lines.end(), Line{"Turn Off Help Requests"});
    ASSERT_NE(off, lines.end());
    EXPECT_EQ(*(off + 1), (Line{"Stop Session"}));

    ASSERT_TRUE(click(m.now(), "Stop Session"));
    auto bye = ada.waitFor(SignalMessage::Kind::bye);
    ASSERT_TRUE(bye);
    EXPECT_EQ(bye->reason, "stopped");
    EXPECT_FALSE(rig.host->helperName());
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: stopped on this Mac"));
    EXPECT_FALSE(find(m.now(), "Stop Session"));
    EXPECT_EQ(linesOf(m.now())[0], (Line{"Online \u00B7 waiting for help requests", false}));
}

} // namespace
} // namespace wl::test
