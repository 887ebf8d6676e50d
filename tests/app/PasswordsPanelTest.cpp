// The "Passwords" panel built from fixture histories and driven as a person drives it:
// the list's three shapes, scrolling, the received-password card with a clock the test
// sets (time left, Show behind a scripted owner check, the 30-second display, Copy, the
// copied note, expiry at its boundary, once-passwords), the sent rows and what the
// password centre says about them, Unsend failing inline, and the real PAM backend
// allowing and refusing through PAM services the test writes.
#include "ManualTimers.h"
#include "PanelTestKit.h"
#include "TestDirs.h"

#include "app/PasswordsView.h"
#include "app/ShellPanel.h"
#include "platform/CaptureExclusion.h"
#include "host/AskForHelpPanelController.h"
#include "mail/PasswordsPanelController.h"
#include "platform/Log.h"
#include "platform/linux/PamOwnerCheck.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <fstream>

namespace wl::test {
namespace {

constexpr Date T = kFixtureNow;

class PasswordsPanel : public ::testing::Test {
protected:
    void SetUp() override { here.contacts = {anna.record(), bo.record()}; }
    void TearDown() override
    {
        if (panel)
            panel->hide();
        EXPECT_TRUE(waitForNextTurn()) << "an owner check's answer still queued is in";
    }

    // Opens the panel the way every caller does: through the centre's panel controller.
    void open(const std::vector<StoredMessage>& history, OwnerCheck* check = nullptr)
    {
        here.make(history, {}, check);
        installShellPanels(*here.passwords, askForHelp, std::make_shared<CaptureExclusion>(), timers.factory());
        here.passwords->panel().show();
        panel = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
        ASSERT_NE(panel, nullptr);
        view = qobject_cast<PasswordsView*>(panel->view());
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
        view->setCopyTimers(timers.factory());
    }
    // The clock moves to T + seconds and the panel's clock ticks.
    void at(double seconds)
    {
        here.now = T + seconds;
        view->tick();
    }
    ReceivedPasswordCard* card(const std::string& id) { return view->card(id); }
    QPushButton* button(QWidget* root, const char* name) { return child<QPushButton>(root, name); }
    std::string clipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

    Computer anna{"Anna Berg"};
    Computer bo{"Bo Lind"};
    Installation here;
    AskForHelpPanelController askForHelp;
    ManualTimers timers;
    ShellPanel* panel = nullptr;
    PasswordsView* view = nullptr;
};

TEST(TimeLeftText, SecondsBelowAMinuteThenMinutesRoundedUp)
{
    EXPECT_EQ(timeLeftText(T + 59.9, T), "59 s");
    EXPECT_EQ(timeLeftText(T + 60, T), "1 min");
    EXPECT_EQ(timeLeftText(T + 61, T), "2 min");
    EXPECT_EQ(timeLeftText(T + 120, T), "2 min");
    EXPECT_EQ(timeLeftText(T + 3600, T), "60 min");
    EXPECT_EQ(timeLeftText(T, T), "0 s");
    EXPECT_EQ(timeLeftText(T - 5, T), "0 s");
    EXPECT_EQ(timeLeftText(T + 0.5, T), "0 s");
}

TEST_F(PasswordsPanel, TheListsThreeShapesAndItsSize)
{
    open({});
    EXPECT_EQ(panel->windowTitle(), "Passwords");
    EXPECT_TRUE(panel->isExcludedFromCapture());
    EXPECT_EQ(textOf(view, "emptyText"), "No passwords right now.");
    EXPECT_EQ(child<QLabel>(view, "sentHeader"), nullptr);
    EXPECT_EQ(panel->width(), PasswordsView::kWidth);
    EXPECT_EQ(panel->height(), PasswordsView::kMinimumHeight);

    // Only sent passwords: no empty text, no card, the header and the rows.
    auto sent = Installation::sentPassword(anna, "s1", "Wi-Fi", "oneHour", T + 3600);
    open({sent});
    EXPECT_EQ(child<QLabel>(view, "emptyText"), nullptr);
    EXPECT_EQ(textOf(view, "sentHeader"), "SENT");
    EXPECT_NE(child<QWidget>(view, "sent.s1"), nullptr);

    // Only received: no header.
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "fifteenMinutes", T + 900)});
    EXPECT_EQ(child<QLabel>(view, "emptyText"), nullptr);
    EXPECT_EQ(child<QLabel>(view, "sentHeader"), nullptr);
    EXPECT_NE(card("r1"), nullptr);
}

TEST_F(PasswordsPanel, ScrollsWhenTheCardsNeedMoreHeightThanThePanelHas)
{
    std::vector<StoredMessage> history;
    for (int i = 0; i < 8; ++i)
        history.push_back(here.receivedPassword(anna, "r" + std::to_string(i), "Key " + std::to_string(i),
                                                "fifteenMinutes", T + 900));
    for (int i = 0; i < 6; ++i)
        history.push_back(Installation::sentPassword(bo, "s" + std::to_string(i), "Door", "oneHour", T + 3600));
    open(history);
    EXPECT_TRUE(waitUntil([&] { return panel->height() == PasswordsView::kMaximumHeight; })) << panel->height();
    auto* scroll = child<QScrollArea>(view, "passwordsScroll");
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0) << "the rest is reachable by scrolling";
    // The last row can be brought into view.
    auto* last = child<QWidget>(view, "sent.s5");
    ASSERT_NE(last, nullptr);
    scroll->ensureWidgetVisible(last);
    EXPECT_TRUE(waitUntil([&] { return scroll->verticalScrollBar()->value() > 0; }));
}

TEST_F(PasswordsPanel, TheCardsHeaderTitleAndTimeLeft)
{
    open({here.receivedPassword(anna, "once", "Wi-Fi", "once", T + 900),
          here.receivedPassword(anna, "plain", std::nullopt, "fifteenMinutes", T + 59.9),
          here.receivedPassword(bo, "hour", "Door", "oneHour", T + 61)});
    EXPECT_EQ(textOf(card("once"), "cardTitle"), "Wi-Fi");
    EXPECT_EQ(textOf(card("once"), "cardFrom"), "From Anna \u00b7 works once \u00b7 gone in 15 min");
    EXPECT_EQ(textOf(card("plain"), "cardTitle"), "Password");
    EXPECT_EQ(textOf(card("plain"), "cardFrom"), "From Anna \u00b7 gone in 59 s");
    EXPECT_EQ(textOf(card("hour"), "cardFrom"), "From Bo \u00b7 gone in 2 min");
    at(1);
    EXPECT_EQ(textOf(card("hour"), "cardFrom"), "From Bo \u00b7 gone in 1 min");
    EXPECT_EQ(child<QLabel>(card("once"), "passwordBox")->text(), QString(10, QChar(0x2022)));
    EXPECT_EQ(child<QLabel>(card("once"), "passwordBox")->accessibleName(), "Password hidden");
    EXPECT_EQ(textOf(card("once"), "copiedNote"), "<hidden>");
    EXPECT_EQ(button(card("once"), "copyButton")->toolTip(), "Copy the password without showing it");
    EXPECT_EQ(button(card("once"), "showButton")->toolTip(), "Show the password for 30 seconds");
}

TEST_F(PasswordsPanel, ShowRevealsForThirtySecondsAfterTheOwnerCheck)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600)});
    auto* box = child<QLabel>(card("r1"), "passwordBox");

    // Declined: nothing shown, no problem line.
    here.ownerCheck.answer(false);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return here.ownerCheck.count() == 1; }));
    ASSERT_TRUE(waitForNextTurn()) << "the answer is in";
    EXPECT_EQ(here.ownerCheck.reasons().back(), "show the Wi-Fi password from Anna");
    EXPECT_EQ(box->text(), QString(10, QChar(0x2022)));
    EXPECT_EQ(textOf(card("r1"), "cardProblem"), "<hidden>");

    here.ownerCheck.answer(true);
    here.now = T + 5;
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return box->text() == "hunter2"; }));
    EXPECT_EQ(box->accessibleName(), "Password: hunter2");
    EXPECT_EQ(button(card("r1"), "showButton")->text(), "Hide");
    EXPECT_TRUE(button(card("r1"), "showButton")->toolTip().isEmpty());

    at(5 + 29.9);
    EXPECT_EQ(box->text(), "hunter2");
    at(5 + 30);
    EXPECT_EQ(box->text(), QString(10, QChar(0x2022))) << "back to bullets at the first tick 30 s on";
    EXPECT_FALSE(card("r1")->isRevealed());
    EXPECT_EQ(button(card("r1"), "showButton")->text(), "Show");

    // Hide before the 30 seconds are up.
    here.ownerCheck.answer(true);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return box->text() == "hunter2"; }));
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    EXPECT_EQ(box->text(), QString(10, QChar(0x2022)));
    EXPECT_EQ(here.ownerCheck.count(), 3u);
}

TEST_F(PasswordsPanel, CopyPutsItOnTheClipboardAndCountsDownTheClear)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600)});
    auto* note = child<QLabel>(card("r1"), "copiedNote");

    here.ownerCheck.answer(false);
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(card("r1"), "cardProblem") == "Not copied."; }));
    EXPECT_EQ(here.ownerCheck.reasons().back(), "copy the Wi-Fi password from Anna");

    here.ownerCheck.answer(true);
    here.now = T + 0.4; // the panel's clock still says T
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return note->isVisible(); }));
    EXPECT_EQ(clipboardText(), "hunter2");
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("x-kde-passwordManagerHint"), "secret");
    EXPECT_EQ(textOf(card("r1"), "cardProblem"), "<hidden>") << "a successful copy clears the problem";
    EXPECT_EQ(note->text().toStdString(),
              "Copied. Paste it where it's needed; the clipboard clears in\u00a01\u00a0min.");
    EXPECT_EQ(child<QLabel>(card("r1"), "passwordBox")->text(), QString(10, QChar(0x2022))) << "Copy shows nothing";
    ASSERT_EQ(timers.delays().size(), 1u);
    EXPECT_EQ(timers.delays().back(), std::chrono::milliseconds(60000));
    at(1);
    EXPECT_EQ(note->text().toStdString(),
              "Copied. Paste it where it's needed; the clipboard clears in\u00a059\u00a0s.");
    // Wrapped at any width, its own among them, the note never ends in the unit alone.
    std::vector<int> widths{note->contentsRect().width()};
    for (int width = 120; width <= 520; width += 2)
        widths.push_back(width);
    for (int width : widths) {
        QTextLayout layout(note->text(), note->font());
        QTextOption wrapping;
        wrapping.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(wrapping);
        layout.beginLayout();
        QString last;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            last = note->text().mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        EXPECT_TRUE(last.contains(QStringLiteral("59"))) << width << ": " << last.toStdString();
    }
    at(60.3);
    EXPECT_EQ(note->text().toStdString(), "Copied. Paste it where it's needed; the clipboard clears in\u00a00\u00a0s.");
    at(60.4);
    EXPECT_FALSE(note->isVisible()) << "gone at the first tick 60 s after the copy";

    // The clear that was scheduled empties the clipboard while it still holds the copy.
    ASSERT_TRUE(timers.fireNext(std::chrono::milliseconds(60000)));
    EXPECT_EQ(clipboardText(), "");
}

TEST_F(PasswordsPanel, CopyWhileShownSkipsTheOwnerCheckButNotTheExpiry)
{
    open({here.receivedPassword(anna, "r1", std::nullopt, "fifteenMinutes", T + 40)});
    here.ownerCheck.answer(false);
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return here.ownerCheck.count() == 1; }));
    EXPECT_EQ(here.ownerCheck.reasons().back(), "copy the password from Anna") << "no double space";
    ASSERT_TRUE(waitUntil([&] { return textOf(card("r1"), "cardProblem") == "Not copied."; }));
    here.ownerCheck.answer(true);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return card("r1")->isRevealed(); }));
    EXPECT_EQ(here.ownerCheck.reasons().back(), "show the password from Anna");
    EXPECT_EQ(textOf(card("r1"), "cardProblem"), "<hidden>") << "a successful Show clears the problem";

    at(10);
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    EXPECT_EQ(clipboardText(), "hunter2");
    EXPECT_EQ(here.ownerCheck.count(), 2u) << "no further owner check";
    EXPECT_TRUE(child<QLabel>(card("r1"), "copiedNote")->isVisible());

    // Still on screen (the clock has not ticked) but no longer working: refused.
    QGuiApplication::clipboard()->setText("something else");
    here.now = T + 40;
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    EXPECT_EQ(textOf(card("r1"), "cardProblem"), "It has expired.");
    EXPECT_EQ(clipboardText(), "something else");
    EXPECT_FALSE(card("r1")->isRevealed());
}

TEST_F(PasswordsPanel, ExpiryAtItsBoundary)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "fifteenMinutes", T + 900)});
    // A moment before: the owner is asked and the copy goes through.
    here.ownerCheck.answer(true);
    at(899.5);
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return clipboardText() == "hunter2"; }));
    EXPECT_EQ(here.ownerCheck.count(), 1u);

    // At the expiry: "It has expired." for both buttons, and nobody is asked.
    at(900);
    EXPECT_EQ(textOf(card("r1"), "cardFrom"), "From Anna \u00b7 gone in 0 s");
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(card("r1"), "cardProblem") == "It has expired."; }));
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitForNextTurn()) << "an owner check would have been answered";
    EXPECT_EQ(textOf(card("r1"), "cardProblem"), "It has expired.");
    EXPECT_EQ(here.ownerCheck.count(), 1u);
}

TEST_F(PasswordsPanel, AnOpenedOncePasswordDropsItsMarkerAndCountsDownItsMinute)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "once", T + 900)});
    here.ownerCheck.answer(true);
    at(10);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return card("r1")->isRevealed(); }));
    at(11);
    EXPECT_EQ(textOf(card("r1"), "cardFrom"), "From Anna \u00b7 gone in 59 s");
}

TEST_F(PasswordsPanel, APasswordArrivingJoinsTheOpenPanel)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600)});
    here.ownerCheck.answer(true);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return card("r1")->isRevealed(); }));
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(child<QLabel>(card("r1"), "copiedNote")->isVisible());
    ReceivedPasswordCard* before = card("r1");

    // Bo's password comes in through the mailbox as any mail does.
    MailContent content;
    content.kind = MailContent::Kind::password;
    content.sentAt = T;
    content.label = "Door";
    content.secret = "open sesame";
    content.lifetime = "fifteenMinutes";
    content.expiresAt = T + 900;
    const auto envelope = MailEnvelope::seal(content, bo.device, here.self.id(), here.self.mail.publicKeyBase64());
    here.messenger->receiveFrame(envelope.encode());
    ASSERT_TRUE(waitUntil([&] { return card(envelope.id) != nullptr; }));
    EXPECT_EQ(textOf(card(envelope.id), "cardTitle"), "Door");
    EXPECT_EQ(card("r1"), before) << "the same card, with its state";
    EXPECT_TRUE(card("r1")->isRevealed());
    EXPECT_EQ(child<QLabel>(card("r1"), "passwordBox")->text(), "hunter2");
    EXPECT_TRUE(child<QLabel>(card("r1"), "copiedNote")->isVisible());
}

TEST_F(PasswordsPanel, ReturnCopiesFromTheFirstCard)
{
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600),
          here.receivedPassword(bo, "r2", "Door", "oneHour", T + 3600, "open sesame")});
    here.ownerCheck.answer(true);
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return clipboardText() == "hunter2"; }));
    EXPECT_EQ(here.ownerCheck.reasons(), (std::vector<std::string>{"copy the Wi-Fi password from Anna"}));
}

TEST_F(PasswordsPanel, SentRowsFollowThePasswordCentre)
{
    auto delivered = Installation::sentPassword(anna, "s1", "Wi-Fi", "fifteenMinutes", T + 600);
    auto onceOpened = Installation::sentPassword(anna, "s2", "Door", "once", T + 900);
    auto hourOpened = Installation::sentPassword(bo, "s3", std::nullopt, "oneHour", T + 3000);
    auto over = Installation::sentPassword(bo, "s4", "Old", "fifteenMinutes", T - 1);
    auto fresh = Installation::sentPassword(anna, "s5", "Bank", "oneHour", T + 59);
    auto withdrawn = Installation::sentPassword(anna, "s6", "Alarm", "oneHour", T + 3000);
    StoredMessage cancel;
    cancel.id = "c6";
    cancel.peerId = anna.id();
    cancel.peerName = "Anna";
    cancel.outgoing = true;
    cancel.content.kind = MailContent::Kind::cancel;
    cancel.content.sentAt = T;
    cancel.content.replyTo = "s6";
    cancel.at = T;
    open({delivered, onceOpened, hourOpened, over, fresh, withdrawn, cancel,
          Installation::receipt(anna, "k1", "s1", "delivered"), Installation::receipt(anna, "k2", "s2", "opened"),
          Installation::receipt(bo, "k3", "s3", "opened"), Installation::receipt(bo, "k4", "s4", "opened")});
    auto row = [&](const char* id) { return child<QWidget>(view, id); };
    EXPECT_EQ(textOf(row("sent.s1"), "rowTitle"), "Wi-Fi \u00b7 to Anna");
    EXPECT_EQ(textOf(row("sent.s1"), "rowStatus"), "Delivered \u00b7 works for 10 min more");
    ASSERT_NE(button(row("sent.s1"), "unsendButton"), nullptr);
    EXPECT_EQ(button(row("sent.s1"), "unsendButton")->toolTip(), "Remove it from their Mac");
    EXPECT_EQ(textOf(row("sent.s2"), "rowStatus"), "Opened");
    EXPECT_EQ(button(row("sent.s2"), "unsendButton"), nullptr);
    EXPECT_EQ(textOf(row("sent.s3"), "rowTitle"), "Password \u00b7 to Bo");
    EXPECT_EQ(textOf(row("sent.s3"), "rowStatus"), "Opened \u00b7 works for 50 min more");
    EXPECT_NE(button(row("sent.s3"), "unsendButton"), nullptr);
    EXPECT_EQ(textOf(row("sent.s4"), "rowStatus"), "Expired");
    EXPECT_EQ(button(row("sent.s4"), "unsendButton"), nullptr);
    EXPECT_EQ(textOf(row("sent.s5"), "rowStatus"), "Sent \u00b7 works for 59 s more");
    EXPECT_NE(button(row("sent.s5"), "unsendButton"), nullptr);
    EXPECT_EQ(textOf(row("sent.s6"), "rowStatus"), "Unsent");
    EXPECT_EQ(button(row("sent.s6"), "unsendButton"), nullptr);
    at(-1);
    EXPECT_EQ(textOf(row("sent.s5"), "rowStatus"), "Sent \u00b7 works for 1 min more");

    // An opened once-password stays "Opened" after its time is up: the centre says so.
    at(1000);
    EXPECT_EQ(here.passwords->status(onceOpened, here.now), SentPasswordState::opened);
    EXPECT_EQ(textOf(row("sent.s2"), "rowStatus"), "Opened");
    EXPECT_EQ(textOf(row("sent.s1"), "rowStatus"), "Expired");
    EXPECT_EQ(button(row("sent.s1"), "unsendButton"), nullptr);
}

TEST_F(PasswordsPanel, AnUnsendPressSpansTheClocksTicksAndAFailedUnsendIsShownInTheRowAndLogged)
{
    auto sent = Installation::sentPassword(anna, "s1", "Wi-Fi", "fifteenMinutes", T + 600);
    auto gone = Installation::sentPassword(Computer{"Cy Gone"}, "s2", "Door", "fifteenMinutes", T + 600);
    open({sent, gone});
    CapturedLog log;
    // The clock ticks between press and release: the row, its button and the press stay.
    QWidget* row = child<QWidget>(view, "sent.s1");
    QPointer<QPushButton> unsend = button(row, "unsendButton");
    ASSERT_NE(unsend, nullptr);
    QTest::mousePress(unsend, Qt::LeftButton);
    at(1);
    EXPECT_EQ(child<QWidget>(view, "sent.s1"), row);
    EXPECT_EQ(button(row, "unsendButton"), unsend.data());
    EXPECT_EQ(textOf(row, "rowStatus"), "Sent \u00b7 works for 10 min more");
    ASSERT_NE(unsend, nullptr);
    QTest::mouseRelease(unsend, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(child<QWidget>(view, "sent.s1"), "rowProblem") != "<missing>"; }, 15000));
    EXPECT_EQ(textOf(child<QWidget>(view, "sent.s1"), "rowProblem"),
              "Not unsent. Couldn't reach the Wickerlane service. Check the internet connection.");
    EXPECT_TRUE(log.contains("Wickerlane: the password couldn't be withdrawn: Couldn't reach"));
    EXPECT_EQ(textOf(child<QWidget>(view, "sent.s1"), "rowStatus"), "Sent \u00b7 works for 10 min more")
        << "still live: the withdrawal did not go out";

    QTest::mouseClick(button(child<QWidget>(view, "sent.s2"), "unsendButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(child<QWidget>(view, "sent.s2"), "rowProblem") != "<missing>"; }));
    EXPECT_EQ(textOf(child<QWidget>(view, "sent.s2"), "rowProblem"),
              "Not unsent. Cy is no longer paired with this Mac.");
}

// PAM services written for the test: one that allows anyone, one that refuses everyone.
class PamServices {
public:
    PamServices()
    {
        write("wickerlane-test-allow", "auth required pam_permit.so\naccount required pam_permit.so\n");
        write("wickerlane-test-refuse", "auth required pam_deny.so\naccount required pam_deny.so\n");
    }
    std::string dir() const { return dir_.str(); }

private:
    void write(const std::string& name, const std::string& text) { std::ofstream(dir_.path() / name) << text; }
    TempDir dir_;
};

TEST_F(PasswordsPanel, TheRealPamBackendAllowsAndRefuses)
{
    PamServices services;
    std::vector<std::string> asked;
    auto typePassword = [&](const std::string& reason, auto answer) {
        asked.push_back(reason);
        answer(std::string("typed into the dialog"));
    };
    PamOwnerCheck allow("wickerlane-test-allow", typePassword, services.dir());
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600)}, &allow);
    QTest::mouseClick(button(card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return card("r1") && card("r1")->isRevealed(); }, 15000));
    EXPECT_EQ(child<QLabel>(card("r1"), "passwordBox")->text(), "hunter2");

    PamOwnerCheck refuse("wickerlane-test-refuse", typePassword, services.dir());
    open({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", T + 3600)}, &refuse);
    QTest::mouseClick(button(card("r1"), "copyButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(card("r1"), "cardProblem") == "Not copied."; }, 15000));
    EXPECT_EQ(asked,
              (std::vector<std::string>{"show the Wi-Fi password from Anna", "copy the Wi-Fi password from Anna"}));
}

} // namespace
} // namespace wl::test
