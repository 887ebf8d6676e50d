// The list of people built from fixtures over the real viewer controller, messenger,
// password centre and My Macs, found by object name and driven with QTest: what each
// card, line and button shows, and that every action reaches the operation it names.
#include "PeopleTestKit.h"

#include "TestDirs.h"

#include "app/people/DeviceLine.h"
#include "app/people/MessagesCard.h"
#include "app/people/PasswordsRow.h"
#include "style/Widgets.h"
#include "app/people/PersonCard.h"
#include "app/people/PicturesSheet.h"
#include "app/people/RequestBlock.h"
#include "app/people/ViewerRequestAnswers.h"
#include "mail/Messenger.h"
#include "mail/PasswordCenter.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <set>

namespace wl {
namespace {

using namespace wl::test;
using K = MailContent::Kind;
using Question = ScriptedPrompts::Question;

std::string jpeg(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes.toStdString();
}

// A PNG whose valid header claims 60000 x 60000 pixels.
std::string hugePng()
{
    QImage one(1, 1, QImage::Format_RGB32);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    one.save(&buffer, "PNG");
    for (int at : {16, 20}) {
        png[at] = 0;
        png[at + 1] = 0;
        png[at + 2] = char(0xEA);
        png[at + 3] = 0x60;
    }
    quint32 crc = 0xFFFFFFFFu;
    for (int i = 12; i < 29; ++i) {
        crc ^= static_cast<unsigned char>(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char((crc >> (24 - 8 * i)) & 0xFF);
    return png.toStdString();
}

QAction* action(QMenu* menu, const char* name)
{
    return menu ? menu->findChild<QAction*>(QString::fromLatin1(name)) : nullptr;
}

std::vector<std::string> cardOrder(const PeopleRig& rig)
{
    std::vector<std::string> out;
    for (auto* card : rig.view->findChildren<PersonCard*>(QStringLiteral("personCard")))
        out.push_back(card->property("groupName").toString().toStdString());
    return out;
}

// Puts the view on the second page of a shown window whose first page is showing.
QStackedWidget* hiddenInAWindow(QWidget& window, QWidget* view)
{
    auto* pages = new QStackedWidget(&window);
    pages->addWidget(new QWidget);
    view->setParent(pages);
    pages->addWidget(view);
    window.show();
    pages->setCurrentIndex(0);
    return pages;
}

TEST(PeopleView, WithNoPairedMacsShowsTheNoteAndThePairButtonWhosePairingSheetPairsOnReturn)
{
    PeopleRig rig;
    rig.make({});
    EXPECT_EQ(PeopleRig::text(rig.view.get(), "emptyNoteText"),
              "No Macs yet. On the Mac you want to help, choose Pair a New Helper\u2026 in the Wickerlane menu, then "
              "pair here with the code it shows.");
    EXPECT_TRUE(cardOrder(rig).empty());
    EXPECT_EQ(rig.view->findChild<QWidget*>(QStringLiteral("askingBanner")), nullptr);
    EXPECT_EQ(rig.view->findChild<QWidget*>(QStringLiteral("messagesCard")), nullptr);
    auto* pair = PeopleRig::child<QPushButton>(rig.view.get(), "pairButton");
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->text(), QStringLiteral("Pair a Mac\u2026"));
    PeopleRig::click(pair);
    PairingSheet* sheet = rig.view->pairingSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    // Return presses Pair from the form's fields; while it waits for the other Mac there is
    // no default button.
    QTest::keyClicks(sheet->codeField(), "K7QM-3X");
    QTest::keyClick(sheet->codeField(), Qt::Key_Return);
    EXPECT_TRUE(sheet->showsCodeError());
    EXPECT_EQ(rig.controller().hosts().pairingState().kind, ViewerController::PairingState::Kind::idle);
    QTest::keyClicks(sheet->codeField(), "RP");
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_EQ(rig.controller().hosts().pairingState().kind, ViewerController::PairingState::Kind::connecting);
    EXPECT_FALSE(sheet->showsCodeError());
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(rig.controller().hosts().pairingState().kind, ViewerController::PairingState::Kind::connecting);
    EXPECT_TRUE(sheet->isVisible());
    // Closing it, here while it waits, leaves the controller's pairing idle.
    rig.view->pairingSheet()->reject();
    EXPECT_TRUE(waitUntil([&] { return rig.view->pairingSheet() == nullptr; }));
    EXPECT_EQ(rig.controller().hosts().pairingState().kind, ViewerController::PairingState::Kind::idle);
    EXPECT_FALSE(rig.controller().hosts().pairing());
    // Opened again: the code form, empty.
    rig.view->showPairingSheet();
    ASSERT_NE(rig.view->pairingSheet(), nullptr);
    EXPECT_EQ(rig.view->pairingSheet()->pageName(), "idle");
    EXPECT_TRUE(rig.view->pairingSheet()->codeField()->text().isEmpty());
    rig.view->pairingSheet()->reject();
}

TEST(PeopleView, PeopleAskingComeFirstWithTheBannerAndResolvedCancelledOrOldRequestsCountForNothing)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom"), ann = host("Ann's laptop", "Ann"), zed = host("Zed's mini", "Zed");
    const Date now = rig.now;
    auto cancel = mail("c", zed, K::cancel, now - 10);
    cancel.content.replyTo = "zOld";
    rig.history({
        helpRequest("zOld", zed, now - 100, "Printer"),
        cancel,
        helpRequest("mom", mom, now - 30, "Email", "<img src=\"file:///etc/passwd\"> & <b>bold</b>"),
        helpRequest("ann", ann, now - 600, "Printer"),
        helpRequest("annAncient", ann, now - 172800, "Printer"),
        helpRequest("zedDone", zed, now - 5),
        mail("m1", mom, K::message, now - 50, false, "Thanks!"),
    });
    rig.viewer.defaults->setStringList(RequestAnswers::kResolvedRequestsKey, {"zedDone"});
    rig.make({mom, ann, zed});

    EXPECT_EQ(cardOrder(rig), (std::vector<std::string>{"Mom", "Ann", "Zed"}));
    EXPECT_EQ(PeopleRig::text(rig.view.get(), "askingBannerText"), "2 people are asking for help");
    EXPECT_EQ(PeopleRig::text(rig.card("Mom"), "personSubtitle"), "Asking \u00b7 just now");
    EXPECT_EQ(PeopleRig::text(rig.card("Ann"), "personSubtitle"), "Asking \u00b7 10 min ago");
    EXPECT_EQ(PeopleRig::text(rig.card("Zed"), "personSubtitle"), "1 device \u00b7 0 online");
    EXPECT_EQ(PeopleRig::text(rig.card("Mom"), "requestTopic"), "Email");
    // Text from another machine is shown as it is, never as markup.
    auto* note = PeopleRig::child<QLabel>(rig.card("Mom"), "requestNote");
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->textFormat(), Qt::PlainText);
    EXPECT_EQ(note->text(), QStringLiteral("<img src=\"file:///etc/passwd\"> & <b>bold</b>"));

    // Done on Mom's request, as the controller records it: the list follows.
    rig.controller().answers().setResolvedRequests({"zedDone", "mom"});
    EXPECT_EQ(cardOrder(rig), (std::vector<std::string>{"Ann", "Mom", "Zed"}));
    EXPECT_EQ(rig.view->findChild<QWidget*>(QStringLiteral("askingBanner")), nullptr);

    // The messages card: received, so with Reply, which reaches the controller's answer.
    auto* card = rig.view->findChild<MessagesCard*>(QStringLiteral("messagesCard"));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(PeopleRig::text(card, "correspondent"), "Mom's iMac");
    EXPECT_EQ(PeopleRig::text(card, "messageText"), "Thanks!");
    PeopleRig::click(PeopleRig::child(card, "messageReply"));
    EXPECT_EQ(rig.answers.calls, (std::vector<std::string>{"composeReply m1"}));
}

TEST(PeopleView, CardsExpandAndCollapseFromTheHeaderAndTheShowMoreButton)
{
    PeopleRig rig;
    const auto imac = host("iMac", "Mom"), laptop = host("laptop", "Mom"), mini = host("mini", "Mom");
    const auto quiet = host("Work");
    rig.history({helpRequest("h", laptop, rig.now - 60, "Printer")});
    rig.make({imac, laptop, mini, quiet});

    // Quiet and collapsed: the header alone.
    EXPECT_TRUE(rig.card("Work")->findChildren<QWidget*>(QStringLiteral("deviceLine")).empty());
    PeopleRig::click(PeopleRig::child(rig.card("Work"), "personHeader"));
    EXPECT_EQ(rig.view->expanded(), (std::set<std::string>{"Work"}));
    EXPECT_EQ(rig.card("Work")->findChildren<QWidget*>(QStringLiteral("deviceLine")).size(), 1u);
    EXPECT_EQ(PeopleRig::child<SymbolView>(rig.card("Work"), "chevron")->rotation(), 180);

    // Asking: the Mac that asks, then all of them.
    EXPECT_NE(rig.line(laptop), nullptr);
    EXPECT_EQ(rig.line(imac), nullptr);
    auto* more = PeopleRig::child(rig.card("Mom"), "showMore");
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->text(), QStringLiteral("Show 2 more devices"));
    PeopleRig::click(more);
    EXPECT_NE(rig.line(imac), nullptr);
    EXPECT_NE(rig.line(mini), nullptr);
    EXPECT_EQ(PeopleRig::child(rig.card("Mom"), "showMore")->text(), QStringLiteral("Show less"));
    PeopleRig::click(PeopleRig::child(rig.card("Mom"), "personHeader"));
    EXPECT_EQ(rig.line(imac), nullptr);
    EXPECT_EQ(rig.view->expanded(), (std::set<std::string>{"Work"}));
}

TEST(PeopleView, DeviceLinesStartSessionsAndWatchForMacsComingOnline)
{
    PeopleRig rig;
    const auto asking = host("Mom's iMac", "Mom"), open = host("Work"), unattended = host("Studio"),
               away = host("Cabin");
    rig.history({helpRequest("h", asking, rig.now - 10)});
    rig.make({asking, open, unattended, away});
    for (const char* name : {"Work", "Studio", "Cabin"})
        rig.view->setExpanded(name, true);
    rig.online({asking, open, unattended});
    rig.controller().hosts().setKnownUnattended({unattended.id});

    auto primary = [&](const PairedDevice& device) {
        return PeopleRig::child<QPushButton>(rig.line(device), "primaryButton");
    };
    EXPECT_EQ(PeopleRig::text(rig.line(asking), "statusText"), "Asking for help \u00b7 just now");
    EXPECT_EQ(primary(asking)->text(), QStringLiteral("Help Now"));
    EXPECT_EQ(PeopleRig::text(rig.line(unattended), "statusText"), "Online \u00b7 unattended");
    EXPECT_EQ(primary(unattended)->text(), QStringLiteral("Connect"));
    EXPECT_EQ(PeopleRig::text(rig.line(open), "statusText"), "Online");
    EXPECT_EQ(primary(open)->text(), QStringLiteral("Ask to Help"));
    EXPECT_EQ(PeopleRig::text(rig.line(away), "statusText"), "Offline");

    // Notify Me ⇄ Will Notify through the controller's set.
    PeopleRig::click(primary(away));
    EXPECT_EQ(rig.controller().hosts().notifyWhenOnline(), (std::set<std::string>{away.id}));
    EXPECT_EQ(primary(away)->text(), QStringLiteral("Will Notify"));
    PeopleRig::click(primary(away));
    EXPECT_TRUE(rig.controller().hosts().notifyWhenOnline().empty());
    EXPECT_EQ(primary(away)->text(), QStringLiteral("Notify Me"));

    // Help Now asks the host; Connect asks for unattended access.
    rig.viewer.ownerCheck.answer(false);
    PeopleRig::click(primary(asking));
    ASSERT_EQ(rig.viewer.connectedTo, (std::vector<std::string>{asking.id}));
    auto hello = rig.viewer.transport().sentOf(SignalMessage::Kind::hello);
    ASSERT_EQ(hello.size(), 1u);
    EXPECT_EQ(hello[0].unattended, std::nullopt);
    rig.controller().session().end();
    rig.controller().backToDevices();
    PeopleRig::click(primary(unattended));
    ASSERT_EQ(rig.viewer.connectedTo.size(), 2u);
    EXPECT_EQ(rig.viewer.connectedTo[1], unattended.id);
    EXPECT_EQ(rig.viewer.transport().sentOf(SignalMessage::Kind::hello).at(0).unattended, std::optional<bool>(true));
}

TEST(PeopleView, TheContextMenuReachesTheMessengerThePasswordCentreMyMacsAndTheController)
{
    PeopleRig rig;
    const auto mine = host("Study iMac"), other = host("Work"), gone = host("Old mini");
    rig.roster({mine});
    rig.make({mine, other, gone});
    for (const char* name : {"My Macs", "Work", "Old mini"})
        rig.view->setExpanded(name, true);
    rig.online({other});
    auto menuOf = [&](const PairedDevice& device) {
        auto* line = static_cast<DeviceLine*>(rig.line(device));
        return line ? line->makeMenu() : nullptr;
    };
    auto& prompts = rig.viewer.prompts;

    // A Mac of this person's own: "Remove from My Macs…", which asks first.
    QMenu* menu = menuOf(mine);
    EXPECT_NE(action(menu, "removeFromMyMacs"), nullptr);
    EXPECT_EQ(action(menu, "setPerson"), nullptr);
    EXPECT_EQ(action(menu, "addToMyMacs"), nullptr);
    EXPECT_EQ(action(menu, "askToHelp"), nullptr); // offline
    action(menu, "removeFromMyMacs")->trigger();
    ASSERT_EQ(prompts.count(), 1u);
    EXPECT_EQ(prompts.questions()[0].title, "Remove Study iMac from your Macs?");

    // Messages and passwords.
    prompts.clear();
    action(menuOf(other), "sendMessage")->trigger();
    ASSERT_EQ(prompts.count(), 1u);
    EXPECT_EQ(prompts.questions()[0].kind, Question::Kind::text);
    EXPECT_EQ(prompts.questions()[0].title, "Message to Work");
    action(menuOf(other), "sendPassword")->trigger();
    EXPECT_EQ(rig.controller().passwords().composer().shownCount(), 1);

    // Set Person… asks whose it is, and the answer regroups the list.
    prompts.clear();
    prompts.answerText("Dana");
    action(menuOf(other), "setPerson")->trigger();
    EXPECT_EQ(prompts.questions().at(0).title, "Whose is Work?");
    EXPECT_EQ(cardOrder(rig), (std::vector<std::string>{"My Macs", "Dana", "Old mini"}));

    // Add to My Macs… asks first; declined, nothing is pending.
    prompts.clear();
    action(menuOf(gone), "addToMyMacs")->trigger();
    EXPECT_EQ(prompts.questions().at(0).title, "Add Old mini to your Macs?");
    EXPECT_TRUE(rig.controller().services().myMacs->asking().empty());

    // Online only: Ask to Help and Connect Without Asking.
    rig.view->setExpanded("Dana", true);
    QMenu* online = menuOf(other);
    ASSERT_NE(action(online, "connectWithoutAsking"), nullptr);
    rig.viewer.ownerCheck.answer(false);
    action(online, "connectWithoutAsking")->trigger();
    ASSERT_EQ(rig.viewer.connectedTo, (std::vector<std::string>{other.id}));
    EXPECT_EQ(rig.viewer.transport().sentOf(SignalMessage::Kind::hello).at(0).unattended, std::optional<bool>(true));
    rig.controller().session().end();
    rig.controller().backToDevices();
    action(menuOf(other), "askToHelp")->trigger();
    ASSERT_EQ(rig.viewer.connectedTo.size(), 2u);
    EXPECT_EQ(rig.viewer.transport().sentOf(SignalMessage::Kind::hello).at(0).unattended, std::nullopt);
    rig.controller().session().end();
    rig.controller().backToDevices();

    // Remove: at once, without a question.
    prompts.clear();
    QMenu* last = menuOf(gone);
    EXPECT_TRUE(action(last, "remove")->property("destructive").toBool());
    action(last, "remove")->trigger();
    EXPECT_TRUE(waitUntil([&] { return rig.line(gone) == nullptr; }));
    EXPECT_EQ(prompts.count(), 0u);
    EXPECT_EQ(rig.controller().hosts().devices().size(), 2u);
}

TEST(PeopleView, ACardAndItsChevronOpenAndCloseWithAShortEaseOut)
{
    PeopleRig rig;
    const auto work = host("Work");
    rig.make({work});
    rig.view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.view.get()));
    for (bool opening : {true, false}) {
        const int before = rig.card("Work")->height();
        auto* chevron = PeopleRig::child<SymbolView>(rig.card("Work"), "chevron");
        const double from = opening ? 0 : 180, to = opening ? 180 : 0;
        ASSERT_EQ(chevron->rotation(), from);
        PeopleRig::child(rig.card("Work"), "personHeader")->click(); // no event loop turn yet
        auto* animation = rig.card("Work")->findChild<QVariantAnimation*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_NE(animation, nullptr) << opening;
        EXPECT_EQ(animation->duration(), 150);
        EXPECT_GT(animation->easingCurve().valueForProgress(0.5), 0.6); // fast, then slowing

        // The chevron turns along with the card, never at once: driven here by hand.
        auto* turn = chevron->findChild<QVariantAnimation*>(QStringLiteral("chevronTurn"));
        ASSERT_NE(turn, nullptr) << opening;
        EXPECT_EQ(turn->duration(), animation->duration());
        EXPECT_EQ(turn->easingCurve(), animation->easingCurve());
        EXPECT_EQ(chevron->rotation(), from);
        turn->setCurrentTime(turn->duration() / 2);
        EXPECT_GT(std::abs(chevron->rotation() - from), 90) << "most of the way at half time";
        EXPECT_LT(std::abs(chevron->rotation() - from), 180);
        turn->setCurrentTime(turn->duration());
        EXPECT_EQ(chevron->rotation(), to);
        QPointer<PersonCard> card = rig.card("Work");
        ASSERT_TRUE(waitUntil([&] { return !card->findChild<QVariantAnimation*>(); }));
        EXPECT_TRUE(opening ? card->height() > before : card->height() < before) << card->height() << " " << before;
    }
}

TEST(PeopleView, AgesMoveWithTheClockInPlace)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom"), work = host("Work");
    rig.history({helpRequest("h", mom, rig.now - 30), mail("m", mom, K::message, rig.now - 90, false, "Hi")});
    rig.make({mom, work});
    rig.view->show();
    auto messageAge = [&] {
        return PeopleRig::text(rig.view->findChild<MessagesCard*>(QStringLiteral("messagesCard")), "messageAge");
    };
    EXPECT_EQ(PeopleRig::text(rig.card("Mom"), "personSubtitle"), "Asking \u00b7 just now");
    EXPECT_EQ(PeopleRig::text(rig.line(mom), "statusText"), "Asking for help \u00b7 just now \u00b7 now offline");
    EXPECT_EQ(messageAge(), "1 min ago");

    // The ages move with the clock alone, in place: the card stays the same widget.
    QPointer<PersonCard> card = rig.card("Mom");
    rig.now += 30;
    ASSERT_TRUE(rig.ageTimers.fireNext());
    EXPECT_EQ(PeopleRig::text(rig.card("Mom"), "personSubtitle"), "Asking \u00b7 1 min ago");
    EXPECT_EQ(PeopleRig::text(rig.line(mom), "statusText"), "Asking for help \u00b7 1 min ago \u00b7 now offline");
    EXPECT_EQ(messageAge(), "2 min ago");
    EXPECT_EQ(rig.card("Mom"), card.data());
    rig.now += 3600;
    ASSERT_TRUE(rig.ageTimers.fireNext());
    EXPECT_EQ(PeopleRig::text(rig.card("Mom"), "personSubtitle"), "Asking \u00b7 1 h ago");
    EXPECT_EQ(messageAge(), "1 h ago");
}

TEST(PeopleView, ChangesShowInTheWidgetsThereAreWithAnOpenMenuAndTheScrollKeptAndWaitWhileTheListIsHidden)
{
    PeopleRig rig;
    const auto away = host("Cabin"), work = host("Work");
    std::vector<PairedDevice> hosts{away, work};
    for (char name = 'K'; name <= 'T'; ++name)
        hosts.push_back(host(std::string(1, name) + " iMac"));
    rig.make(hosts);
    rig.view->setExpanded("Cabin", true);
    rig.view->resize(640, 300);
    rig.view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.view.get()));
    auto* scroll = PeopleRig::child<QScrollArea>(rig.view.get(), "peopleScroll")->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 40);
    scroll->setValue(40);
    auto widgets = [&] {
        const auto list = rig.view->findChildren<QWidget*>();
        return std::set<QWidget*>(list.begin(), list.end());
    };
    auto presenceTick = [&](const std::set<std::string>& online) {
        rig.viewer.pendingPresence.clear();
        ASSERT_TRUE(rig.viewer.timers.fireNext(PairedHosts::kPresenceInterval));
        for (auto& presence : rig.viewer.pendingPresence)
            presence.answer(online.count(presence.id) > 0);
        ASSERT_TRUE(waitForNextTurn()) << "the answers are in";
    };

    QPointer<QWidget> line = rig.line(away), cabin = rig.card("Cabin"), workCard = rig.card("Work");
    QMenu* menu = static_cast<DeviceLine*>(line.data())->makeMenu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    // A change of the line with the open menu, then of another card's presence.
    rig.controller().hosts().toggleNotifyWhenOnline(away);
    EXPECT_EQ(PeopleRig::child(rig.line(away), "primaryButton")->text(), QStringLiteral("Will Notify"));
    presenceTick({work.id});
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(PeopleRig::text(rig.card("Work"), "personSubtitle"), "1 device \u00b7 1 online");
    EXPECT_EQ(rig.line(away), line.data());
    EXPECT_EQ(rig.card("Cabin"), cabin.data());
    EXPECT_EQ(rig.card("Work"), workCard.data());
    EXPECT_EQ(scroll->value(), 40);
    QPointer<QMenu> closing(menu);
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return closing.isNull(); })) << "it goes when it closes";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(rig.line(away), line.data());

    // A tick that changes nothing changes no widget.
    const auto before = widgets();
    presenceTick({work.id});
    EXPECT_EQ(widgets(), before);
    EXPECT_EQ(scroll->value(), 40);

    // Hidden inside its window (another page showing), the list waits, then catches up.
    QWidget window;
    auto* pages = hiddenInAWindow(window, rig.view.get());
    presenceTick({});
    EXPECT_EQ(widgets(), before);
    EXPECT_EQ(PeopleRig::text(rig.card("Work"), "personSubtitle"), "1 device \u00b7 1 online");
    pages->setCurrentWidget(rig.view.get());
    EXPECT_EQ(PeopleRig::text(rig.card("Work"), "personSubtitle"), "1 device \u00b7 0 online");
    EXPECT_EQ(rig.card("Work"), workCard.data());
    pages->removeWidget(rig.view.get());
    rig.view->setParent(nullptr);
}

// A session's own changes (its phase, its events, its status line every second) show
// nothing in the list: shown or hidden, the list does no work for them and keeps its
// widgets and an open menu, while a host's change still shows in place.
TEST(PeopleView, ASessionsOwnChangesLeaveTheListAloneShownOrHidden)
{
    PeopleRig rig;
    FakeHost mom("Mom's iMac");
    PairedDevice imac = mom.record();
    imac.person = "Mom";
    const auto work = host("Work");
    rig.history({helpRequest("h", work, rig.now - 30)}); // an age, kept moving by a timer
    rig.make({imac, work});
    rig.view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.view.get()));
    rig.controller().session().connect(imac, false);
    rig.viewer.transport().deliver(mom.challenge(rig.viewer.helperNonce()));
    rig.viewer.transport().deliver(SignalMessage::make(SignalMessage::Kind::accepted));
    ASSERT_EQ(rig.controller().session().phase().kind, ViewerSession::Phase::Kind::connected);

    QPointer<PersonCard> momCard = rig.card("Mom"), workCard = rig.card("Work");
    QPointer<QWidget> line = rig.line(work);
    QPointer<QMenu> menu = static_cast<DeviceLine*>(line.data())->makeMenu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const auto armed = rig.ageTimers.delays().size(); // the list draws again: the age timer starts anew
    auto sessionSeconds = [&] {
        for (int fps = 28; fps <= 30; ++fps)
            rig.controller().session().setConnectionInfo("Connected \u00b7 " + std::to_string(fps) + " fps");
        SessionEvent notice = SessionEvent::make(SessionEvent::Kind::notice);
        notice.text = "Mom said not now to taking over.";
        rig.controller().session().handleEvent(notice);
        ASSERT_TRUE(waitForNextTurn()) << "the changes are in";
    };
    sessionSeconds();
    EXPECT_EQ(rig.ageTimers.delays().size(), armed);
    EXPECT_TRUE(menu && menu->isVisible());
    EXPECT_EQ(rig.card("Mom"), momCard.data());
    EXPECT_EQ(rig.card("Work"), workCard.data());
    EXPECT_EQ(rig.line(work), line.data());

    // The host coming online shows in the line there is.
    rig.online({work});
    EXPECT_EQ(PeopleRig::text(rig.line(work), "statusText"), "Asking for help \u00b7 just now");
    EXPECT_EQ(rig.line(work), line.data());
    EXPECT_TRUE(menu && menu->isVisible());
    QTest::keyClick(menu, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return menu.isNull(); })) << "it goes when it closes";

    // Hidden inside its window, as in a session, and shown again: still nothing to do.
    QWidget window;
    auto* pages = hiddenInAWindow(window, rig.view.get());
    const auto hidden = rig.ageTimers.delays().size();
    sessionSeconds();
    pages->setCurrentWidget(rig.view.get());
    EXPECT_EQ(rig.ageTimers.delays().size(), hidden);
    EXPECT_EQ(rig.card("Work"), workCard.data());
    pages->removeWidget(rig.view.get());
    rig.view->setParent(nullptr);
}

TEST(PeopleView, WaitingToJoinMyMacsDisablesAddingAgain)
{
    PeopleRig rig;
    const auto mac = host("Kitchen");
    rig.asking({mac.id});
    rig.make({mac});
    rig.view->setExpanded("Kitchen", true);
    rig.online({mac});
    EXPECT_EQ(PeopleRig::text(rig.line(mac), "statusText"), "Waiting for a yes to join My Macs");
    QMenu* menu = static_cast<DeviceLine*>(rig.line(mac))->makeMenu();
    ASSERT_NE(action(menu, "addToMyMacs"), nullptr);
    EXPECT_FALSE(action(menu, "addToMyMacs")->isEnabled());
}

TEST(PeopleView, TheRequestBlockRepliesMarksDoneAndSendsPasswordsWithoutQuestions)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom");
    const Date now = rig.now;
    auto request = helpRequest("h", mom, now - 120, "A password", "For the Wi-Fi", 2);
    auto sent = mail("p1", mom, K::password, now - 60, true);
    sent.content.replyTo = "h";
    sent.content.label = "Wi-Fi";
    sent.content.expiresAt = now + 3000;
    rig.history({request, sent});
    auto reply = mail("y", mom, K::reply, now - 100, true, "On my way");
    reply.content.replyTo = "h";
    rig.answers.replies["h"] = {reply};
    rig.make({mom});
    auto* block = rig.view->findChild<RequestBlock*>(QStringLiteral("requestBlock"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(PeopleRig::text(block, "requestNote"), "For the Wi-Fi");
    EXPECT_EQ(PeopleRig::child(block, "picturesButton")->text(), QStringLiteral("2 pictures \u00b7 View"));
    EXPECT_EQ(PeopleRig::text(PeopleRig::child<QWidget>(block, "repliedText"), "labelText"), "You replied: On my way");
    EXPECT_EQ(PeopleRig::text(block, "passwordStatusTitle"), "Sent securely");
    auto rows = block->findChildren<QWidget*>(QStringLiteral("sentPassword"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(PeopleRig::text(rows[0], "labelText"), "Wi-Fi \u00b7 Sent");
    EXPECT_EQ(PeopleRig::child(block, "sendPasswordButton")->text(), QStringLiteral("Send Another"));
    auto* done = PeopleRig::child<QPushButton>(block, "doneButton");
    EXPECT_EQ(done->toolTip(), QStringLiteral("Clear this request without connecting"));
    EXPECT_FALSE(done->property("prominent").toBool());

    // Unsend goes to the password centre at once (it then mails the other Mac).
    CapturedLog log;
    auto& prompts = rig.viewer.prompts;
    prompts.clear();
    PeopleRig::click(PeopleRig::child(rows[0], "unsendButton"));
    EXPECT_EQ(prompts.count(), 0u);
    EXPECT_TRUE(waitUntil([&] { return log.contains("the password couldn't be withdrawn"); }, 5000));

    // Quick replies go at once; a written reply after its question; Done at once.
    block = rig.view->findChild<RequestBlock*>(QStringLiteral("requestBlock"));
    QMenu* replies = PeopleRig::child<QToolButton>(block, "replyButton")->menu();
    ASSERT_NE(replies, nullptr);
    std::vector<std::string> titles;
    for (QAction* item : replies->actions())
        titles.push_back(item->isSeparator() ? "--" : item->text().toStdString());
    EXPECT_EQ(titles,
              (std::vector<std::string>{"In 10 minutes", "On my way", "Later today", "Call me", "--",
                                        "Write a Reply\u2026"}));
    replies->actions()[3]->trigger();
    EXPECT_EQ(prompts.count(), 0u);
    prompts.answerText("   ");
    action(replies, "writeReply")->trigger();
    prompts.answerText("Back at six");
    action(replies, "writeReply")->trigger();
    ASSERT_EQ(prompts.count(), 2u);
    EXPECT_EQ(prompts.questions()[0].title, "Reply to Mom's iMac");
    EXPECT_EQ(prompts.questions()[0].initialText, "");
    PeopleRig::click(PeopleRig::child(block, "sendPasswordButton"));
    PeopleRig::click(PeopleRig::child(block, "picturesButton"));
    PeopleRig::click(PeopleRig::child(block, "doneButton"));
    EXPECT_EQ(prompts.count(), 2u);
    EXPECT_EQ(rig.answers.calls,
              (std::vector<std::string>{"sendReply h Call me", "sendReply h Back at six", "sendPassword h",
                                        "showPictures h", "markRequestDone h"}));

    // Fetching: the button waits and can't be clicked.
    rig.answers.fetching = {"h"};
    rig.view->refresh();
    block = rig.view->findChild<RequestBlock*>(QStringLiteral("requestBlock"));
    auto* fetching = PeopleRig::child(block, "picturesButton");
    EXPECT_EQ(fetching->text(), QStringLiteral("Getting the pictures from their Mac\u2026"));
    EXPECT_FALSE(fetching->isEnabled());
}

TEST(PeopleView, ALongReplyEndsInAnEllipsisAtTheWidthItGets)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom");
    rig.history({helpRequest("h", mom, rig.now - 120, "Printer")});
    const std::string said = "I'll be there after work, around six; until then leave the printer on and don't "
                             "press anything on it, even if it beeps";
    auto reply = mail("y", mom, K::reply, rig.now - 100, true, said);
    reply.content.replyTo = "h";
    rig.answers.replies["h"] = {reply};
    rig.make({mom});
    rig.view->resize(760, 900);
    rig.view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.view.get()));
    int lastWidth = 0;
    for (int width : {760, 440}) {
        rig.view->resize(width, 900);
        auto replied = [&] {
            return PeopleRig::child<QLabel>(PeopleRig::child<QWidget>(rig.view.get(), "repliedText"), "labelText");
        };
        // The X server has the new size, and the line has followed it.
        EXPECT_TRUE(waitUntil([&] {
            return rig.view->windowHandle()->geometry().width() == width && replied() &&
                replied()->contentsRect().width() != lastWidth;
        })) << "the line follows the list's width";
        auto* line = replied();
        ASSERT_NE(line, nullptr);
        lastWidth = line->contentsRect().width();
        const QString shown = line->text();
        EXPECT_TRUE(shown.startsWith(QStringLiteral("You replied: I'll be there"))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << width << " " << shown.toStdString();
        EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->contentsRect().width()) << width;
        EXPECT_GT(line->fontMetrics().horizontalAdvance(shown), line->contentsRect().width() * 3 / 4)
            << "it fills the line";
        EXPECT_EQ(line->toolTip().toStdString(), "You replied: " + said);
    }
}

TEST(PeopleView, AnOpenedPasswordMakesDoneProminentAndThePasswordsRowOpensThePanel)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom");
    const Date now = rig.now;
    auto request = helpRequest("h", mom, now - 120, "A password");
    auto opened = mail("p2", mom, K::password, now - 50, true);
    opened.content.replyTo = "h";
    opened.content.label = "Bank";
    opened.content.expiresAt = now + 3000;
    auto receipt = mail("r2", mom, K::receipt, now - 40, false, "opened");
    receipt.content.replyTo = "p2";
    auto received = mail("in", mom, K::password, now - 30);
    received.sealed = MailEnvelope{};
    received.content.expiresAt = now + 3000;
    rig.history({request, opened, receipt, received});
    rig.make({mom});
    auto* block = rig.view->findChild<RequestBlock*>(QStringLiteral("requestBlock"));
    ASSERT_NE(block, nullptr);
    auto rows = block->findChildren<QWidget*>(QStringLiteral("sentPassword"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(PeopleRig::text(rows[0], "labelText"), "Bank \u00b7 Opened");
    EXPECT_EQ(PeopleRig::child(rows[0], "unsendButton"), nullptr);
    auto* done = PeopleRig::child<QPushButton>(block, "doneButton");
    EXPECT_TRUE(done->property("prominent").toBool());
    EXPECT_EQ(done->toolTip(), QStringLiteral("They've opened the password; clear this request"));

    auto* row = rig.view->findChild<PasswordsRow*>(QStringLiteral("passwordsRow"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(PeopleRig::text(row, "passwordsText"), "1 password to copy");
    PeopleRig::click(PeopleRig::child(row, "showPasswords"));
    PeopleRig::click(
        PeopleRig::child(rig.view->findChild<PasswordsRow*>(QStringLiteral("passwordsRow")), "showPasswords"));
    EXPECT_EQ(rig.controller().passwords().panel().shownCount(), 2);
}

TEST(PicturesSheet, ShowsTheRequestsPicturesOpensThemLargerSavesThemAndClosesOnReturn)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom");
    auto request = helpRequest("h", mom, rig.now - 60, "Printer", "It says offline", 3);
    rig.history({request});
    rig.make({mom});
    rig.view->show();
    const TransferredFile first{"1", "Screenshot 9.41", "image/jpeg", jpeg(1600, 1000, QColor(52, 101, 164))};
    const TransferredFile second{"2", "../.Printer\n", "image/jpeg", jpeg(300, 200, QColor(200, 40, 40))};
    const TransferredFile broken{"3", "Broken", "image/jpeg", "not a picture at all"};
    const TransferredFile huge{"4", "Huge", "image/png", hugePng()};
    rig.answers.setPictures("h", {first, second, broken, huge});

    PeopleRig::click(
        PeopleRig::child(rig.view->findChild<RequestBlock*>(QStringLiteral("requestBlock")), "picturesButton"));
    PicturesSheet* sheet = rig.view->picturesSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->size(), QSize(860, 680));
    EXPECT_EQ(PeopleRig::text(sheet, "sheetTitle"), "From Mom's iMac");
    const QFont titleFont = PeopleRig::child<QLabel>(sheet, "sheetTitle")->font();
    EXPECT_EQ(titleFont, textFont(TextStyle::title2, QFont::Bold)) << titleFont.toString().toStdString();
    EXPECT_EQ(PeopleRig::text(sheet, "sheetSubtitle"), "Printer \u00b7 \u201cIt says offline\u201d");
    auto tiles = sheet->findChildren<QWidget*>(QStringLiteral("pictureTile"));
    ASSERT_EQ(tiles.size(), 4u);
    // Not a picture, or one beyond the decoding limits: no picture button, but its name
    // and both buttons.
    EXPECT_NE(PeopleRig::child(tiles[0], "pictureButton"), nullptr);
    EXPECT_EQ(PeopleRig::child(tiles[2], "pictureButton"), nullptr);
    EXPECT_EQ(PeopleRig::child(tiles[3], "pictureButton"), nullptr);
    EXPECT_EQ(PeopleRig::text(tiles[3], "pictureName"), "Huge");
    EXPECT_EQ(PeopleRig::text(tiles[2], "pictureName"), "Broken");
    EXPECT_NE(PeopleRig::child(tiles[2], "savePicture"), nullptr);
    EXPECT_EQ(PeopleRig::child(tiles[0], "pictureButton")->toolTip(), QStringLiteral("Open larger"));
    // A small picture is drawn across the tile's width, its aspect kept, centred.
    auto* small = PeopleRig::child(tiles[1], "pictureButton");
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->width(), tiles[1]->width());
    EXPECT_NEAR(small->height(), small->width() * 2 / 3, 1);
    const QImage drawn = small->grab().toImage();
    for (int x : {4, drawn.width() / 2, drawn.width() - 5}) {
        const QColor pixel = drawn.pixelColor(x, drawn.height() / 2);
        EXPECT_TRUE(pixel.red() > 150 && pixel.green() < 100 && pixel.blue() < 100)
            << x << " " << pixel.name().toStdString();
    }

    PeopleRig::click(PeopleRig::child(tiles[0], "pictureButton"));
    PeopleRig::click(PeopleRig::child(tiles[1], "openLarger"));
    EXPECT_EQ(rig.opened,
              (std::vector<std::pair<std::string, std::string>>{{"1", "Mom's iMac \u00b7 Screenshot 9.41"},
                                                                {"2", "Mom's iMac \u00b7 ../.Printer"}}));

    // Saved byte for byte under the name proposed safely.
    TempDir dir;
    const std::string target = dir.str() + "/chosen.jpg";
    auto& prompts = rig.viewer.prompts;
    prompts.answerSave(target);
    PeopleRig::click(PeopleRig::child(tiles[1], "savePicture"));
    EXPECT_EQ(prompts.questions().back().kind, Question::Kind::save);
    EXPECT_EQ(prompts.questions().back().initialText, "Printer.jpg");
    QFile saved(QString::fromStdString(target));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), second.data);
    EXPECT_EQ(sheet->problemText(), QString());

    // A save that fails says so, in the sheet and in the log.
    CapturedLog log;
    prompts.answerSave(dir.str() + "/no such folder/x.jpg");
    PeopleRig::click(PeopleRig::child(tiles[0], "savePicture"));
    EXPECT_EQ(sheet->problemText(), QStringLiteral("Couldn't save the picture."));
    EXPECT_TRUE(log.contains("Wickerlane: couldn't save the picture"));
    // A cancelled save says nothing more.
    PeopleRig::click(PeopleRig::child(tiles[2], "savePicture"));
    EXPECT_EQ(sheet->problemText(), QStringLiteral("Couldn't save the picture."));

    // Return closes it, and the pictures are no longer shown.
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return rig.view->picturesSheet() == nullptr; }));
    EXPECT_EQ(rig.answers.shown, std::nullopt);
    EXPECT_EQ(rig.answers.calls.back(), "setPicturesShown none");
}

TEST(PicturesSheet, AnEmptyListShowsTheHeaderAndNothingElse)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac");
    auto request = helpRequest("h", mom, rig.now - 60);
    rig.history({request});
    rig.make({mom});
    rig.answers.setPicturesShown(request);
    ASSERT_NE(rig.view->picturesSheet(), nullptr);
    EXPECT_EQ(PeopleRig::text(rig.view->picturesSheet(), "sheetSubtitle"), "");
    EXPECT_TRUE(rig.view->picturesSheet()->findChildren<QWidget*>(QStringLiteral("pictureTile")).empty());
    PeopleRig::click(PeopleRig::child(rig.view->picturesSheet(), "closeButton"));
    EXPECT_TRUE(waitUntil([&] { return rig.view->picturesSheet() == nullptr; }));
}

TEST(ViewerRequestAnswers, TheListAnswersThroughTheViewerController)
{
    PeopleRig rig;
    const auto mom = host("Mom's iMac", "Mom");
    auto request = helpRequest("h", mom, rig.now - 60, "Printer");
    auto mine = mail("y1", mom, K::reply, rig.now - 50, true, "On my way");
    mine.content.replyTo = "h";
    auto theirs = mail("y2", mom, K::reply, rig.now - 40, false, "thanks");
    theirs.content.replyTo = "h";
    rig.history({request, mine, theirs});
    rig.make({mom});
    ViewerRequestAnswers answers(rig.controller());
    EXPECT_EQ(answers.sentReplies(request), (std::vector<StoredMessage>{mine}));
    answers.sendPassword(request);
    EXPECT_EQ(rig.controller().passwords().composer().shownCount(), 1);
    answers.composeReply(theirs);
    EXPECT_EQ(rig.viewer.prompts.questions().at(0).title, "Reply to Mom's iMac");
    answers.setPicturesShown(request);
    EXPECT_EQ(rig.controller().answers().picturesShown(), std::optional<StoredMessage>(request));
    answers.setPicturesShown(std::nullopt);
    CapturedLog log;
    answers.markRequestDone(request);
    EXPECT_EQ(rig.controller().answers().resolvedRequests(), (std::set<std::string>{"h"}));
    EXPECT_EQ(rig.viewer.storedSet(RequestAnswers::kResolvedRequestsKey), (std::set<std::string>{"h"}));
    EXPECT_TRUE(waitUntil([&] { return log.contains("that the help request is done"); }, 5000));
}

} // namespace
} // namespace wl
