// The "Send a Password" panel, opened through the password centre's controller: its
// texts and when Send may be pressed, the eye and the lifetimes, Return and Escape, a
// failure that keeps what was typed, and, through the real introduction service, a send
// that closes the panel (sealed as typed, for the chosen time) and a send that finishes
// after its form was cancelled and replaced, which leaves the newer form alone.
#include "PanelTestKit.h"
#include "ServiceProcess.h"

#include "app/SendPasswordView.h"
#include "app/ShellPanel.h"
#include "platform/CaptureExclusion.h"
#include "host/AskForHelpPanelController.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

class SendPasswordPanelTest : public ::testing::Test {
protected:
    void SetUp() override { here.contacts = {anna.record(), bo.record()}; }
    void TearDown() override
    {
        if (auto* p = panel())
            p->hide();
        EXPECT_TRUE(waitForNextTurn()) << "what the panel queued has run";
    }

    void make(const std::string& serviceURL = {})
    {
        here.make({}, serviceURL);
        installShellPanels(*here.passwords, askForHelp, std::make_shared<CaptureExclusion>(), qtTimerFactory());
    }
    void show(const PairedDevice& device, const std::optional<StoredMessage>& request = std::nullopt)
    {
        here.passwords->composer().show(device, request);
        ASSERT_TRUE(waitForNextTurn()) << "what showing it queued has run";
    }
    SendPasswordPanel* window() { return dynamic_cast<SendPasswordPanel*>(here.passwords->composer().panel()); }
    ShellPanel* panel() { return window() ? window()->window() : nullptr; }
    SendPasswordView* form() { return window() ? window()->form() : nullptr; }
    QLineEdit* field(const char* name) { return child<QLineEdit>(form(), name); }
    QPushButton* button(const char* name) { return child<QPushButton>(form(), name); }
    void type(const char* name, const QString& text)
    {
        field(name)->setFocus();
        field(name)->clear();
        QTest::keyClicks(field(name), text);
    }

    Computer anna{"Anna Berg"};
    Computer bo{"Bo Lind"};
    Installation here;
    AskForHelpPanelController askForHelp;
};

TEST_F(SendPasswordPanelTest, TextsAndWhenSendMayBePressed)
{
    make();
    StoredMessage request;
    request.id = "q1";
    request.content.kind = MailContent::Kind::helpRequest;
    request.content.text = "Can you send the Wi-Fi password?";
    show(anna.record(), request);
    ASSERT_NE(form(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel()));
    EXPECT_EQ(panel()->windowTitle(), "Send a Password");
    EXPECT_TRUE(panel()->isExcludedFromCapture());
    EXPECT_EQ(form()->width(), 380);
    EXPECT_EQ(panel()->width(), 380);
    EXPECT_EQ(textOf(form(), "askedLine"), "They asked: \u201cCan you send the Wi-Fi password?\u201d");
    EXPECT_EQ(textOf(form(), "formTitle"), "Send a password to Anna Berg");
    EXPECT_EQ(textOf(form(), "lockedLine"),
              "Locked so only Anna Berg can open it, after Touch ID or their Mac's password.");
    EXPECT_EQ(field("labelField")->placeholderText(), "Wi-Fi, Apple Account, email\u2026");
    EXPECT_EQ(button("sendButton")->text(), "Send");
    EXPECT_FALSE(button("sendButton")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(form(), "lifetime.once")->isChecked());
    EXPECT_EQ(textOf(form(), "lifetimeExplanation"),
              "Works once, then it's gone. Expires in 15 minutes if it isn't opened.");
    EXPECT_EQ(textOf(form(), "problemText"), "<hidden>");

    type("labelField", "   ");
    type("secretField", "hunter2");
    EXPECT_FALSE(button("sendButton")->isEnabled()) << "a label of spaces says nothing";
    type("labelField", " Wi-Fi ");
    type("secretField", "   ");
    EXPECT_TRUE(button("sendButton")->isEnabled()) << "a password of spaces may be sent";
    type("secretField", "");
    EXPECT_FALSE(button("sendButton")->isEnabled());

    // The eye changes how the password shows, never what it is.
    type("secretField", "s3cret");
    auto* eye = button("eyeButton");
    EXPECT_EQ(field("secretField")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(eye->toolTip(), "Show the password");
    EXPECT_EQ(eye->accessibleName(), "Show password");
    QTest::mouseClick(eye, Qt::LeftButton);
    EXPECT_EQ(field("secretField")->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(eye->toolTip(), "Hide the password");
    EXPECT_EQ(eye->accessibleName(), "Hide password");
    EXPECT_EQ(field("secretField")->text(), "s3cret");

    QTest::mouseClick(child<QPushButton>(form(), "lifetime.fifteenMinutes"), Qt::LeftButton);
    EXPECT_EQ(form()->lifetime(), PasswordLifetime::fifteenMinutes);
    EXPECT_EQ(textOf(form(), "lifetimeExplanation"), "Can be copied as often as needed for 15 minutes.");
    QTest::mouseClick(child<QPushButton>(form(), "lifetime.oneHour"), Qt::LeftButton);
    EXPECT_EQ(textOf(form(), "lifetimeExplanation"), "Can be copied as often as needed for an hour.");
    EXPECT_FALSE(child<QPushButton>(form(), "lifetime.once")->isChecked());

    // Without a request, or a request without text: no quoted line.
    show(bo.record());
    EXPECT_EQ(textOf(form(), "askedLine"), "<missing>");
    EXPECT_EQ(textOf(form(), "formTitle"), "Send a password to Bo Lind");
    EXPECT_EQ(field("labelField")->text(), "") << "every show starts an empty form";
}

TEST_F(SendPasswordPanelTest, AFailureStaysInTheFormWithWhatWasTyped)
{
    make();
    show(anna.record());
    type("labelField", "Wi-Fi");
    type("secretField", "hunter2");
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    EXPECT_TRUE(form()->sending());
    EXPECT_EQ(button("sendButton")->text(), "Sending\u2026");
    EXPECT_FALSE(button("sendButton")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !form()->sending(); }, 15000));
    EXPECT_EQ(textOf(form(), "problemText"),
              "Not sent. Couldn't reach the Wickerlane service. Check the internet connection.");
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(field("labelField")->text(), "Wi-Fi");
    EXPECT_EQ(field("secretField")->text(), "hunter2");
    EXPECT_TRUE(button("sendButton")->isEnabled());

    form()->sendErrorText(Messenger::SendError::refused(429));
    EXPECT_EQ(textOf(form(), "problemText"), "Not sent. Too many messages for now. Try again in a few minutes.");
    form()->sendErrorText(Messenger::SendError::refused(500));
    EXPECT_EQ(textOf(form(), "problemText"), "Not sent. The message wasn't accepted.");
    form()->sendErrorText(Messenger::SendError::noKey());
    EXPECT_EQ(textOf(form(), "problemText"),
              "Not sent. Their Wickerlane needs updating before it can receive messages.");
}

TEST_F(SendPasswordPanelTest, ReturnSendsAndEscapeCancels)
{
    make();
    show(anna.record());
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel()));
    type("labelField", "Wi-Fi");
    QTest::keyClick(field("labelField"), Qt::Key_Return);
    EXPECT_FALSE(form()->sending()) << "nothing to send yet";
    type("secretField", "hunter2");
    QTest::keyClick(field("secretField"), Qt::Key_Return);
    EXPECT_TRUE(form()->sending());
    QTest::keyClick(field("secretField"), Qt::Key_Escape);
    EXPECT_FALSE(panel()->isVisible());
}

class SendPasswordThroughTheService : public SendPasswordPanelTest {
protected:
    void SetUp() override
    {
        SendPasswordPanelTest::SetUp();
        ASSERT_TRUE(service.start()) << service.log();
        here.frozen = false;
        other.frozen = false;
        other.self = anna; // Anna's computer, running
        other.contacts = {here.self.record()};
        other.make({}, service.httpUrl());
        make(service.httpUrl());
        for (auto* installation : {&here, &other}) {
            installation->messenger->start();
            ASSERT_TRUE(waitUntil([&] {
                return ServiceProcess::httpRequest(service.port(), "GET", "/v1/keys/" + installation->self.id()) == 200;
            }));
        }
    }
    void TearDown() override
    {
        SendPasswordPanelTest::TearDown();
        other.messenger.reset();
    }
    std::vector<StoredMessage> outgoingPasswords()
    {
        std::vector<StoredMessage> out;
        for (const auto& message : here.messenger->messages())
            if (message.outgoing && message.content.kind == MailContent::Kind::password)
                out.push_back(message);
        return out;
    }

    ServiceProcess service;
    Installation other{"Anna Berg"};
};

TEST_F(SendPasswordThroughTheService, ASentPasswordClosesThePanelAndTheNextFormIsEmpty)
{
    std::vector<std::string> activity;
    here.passwords->onActivity = [&](const std::string& line) { activity.push_back(line); };
    show(anna.record());
    type("labelField", "  Wi-Fi ");
    type("secretField", " hunter2 ");
    QTest::mouseClick(child<QPushButton>(form(), "lifetime.oneHour"), Qt::LeftButton);
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !panel()->isVisible(); }, 15000)) << textOf(form(), "problemText");
    ASSERT_EQ(activity.size(), 1u) << "the centre heard of it";

    // Anna got it sealed, as typed, for an hour.
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& m : other.messenger->messages())
                if (!m.outgoing && m.content.kind == MailContent::Kind::password)
                    return true;
            return false;
        },
        15000));
    for (const auto& m : other.messenger->messages()) {
        if (m.outgoing || m.content.kind != MailContent::Kind::password)
            continue;
        ASSERT_TRUE(m.sealed.has_value());
        auto opened = m.sealed->open(anna.mail, anna.id(), here.self.device.publicKeyBase64());
        ASSERT_TRUE(opened.has_value());
        EXPECT_EQ(opened->label, std::optional<std::string>("Wi-Fi"));
        EXPECT_EQ(opened->secret, std::optional<std::string>(" hunter2 "));
        EXPECT_EQ(opened->lifetime, std::optional<std::string>("oneHour"));
        ASSERT_TRUE(opened->expiresAt && opened->sentAt);
        EXPECT_DOUBLE_EQ(*opened->expiresAt - opened->sentAt, 3600);
    }

    // Its row in the Passwords panel, withdrawn from there.
    here.passwords->panel().show();
    auto* passwords = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
    ASSERT_NE(passwords, nullptr);
    ASSERT_EQ(here.passwords->sent().size(), 1u);
    const std::string rowName = "sent." + here.passwords->sent().front().id;
    auto row = [&] { return child<QWidget>(passwords->view(), rowName.c_str()); };
    ASSERT_NE(row(), nullptr);
    EXPECT_EQ(textOf(row(), "rowTitle"), "Wi-Fi \u00b7 to Anna Berg");
    QTest::mouseClick(child<QPushButton>(row(), "unsendButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return textOf(row(), "rowStatus") == "Unsent"; }, 15000));
    EXPECT_EQ(child<QPushButton>(row(), "unsendButton"), nullptr);
    EXPECT_EQ(textOf(row(), "rowProblem"), "<missing>");
    passwords->hide();

    show(anna.record());
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(field("labelField")->text(), "");
    EXPECT_EQ(field("secretField")->text(), "");
    EXPECT_TRUE(child<QPushButton>(form(), "lifetime.once")->isChecked());
}

TEST_F(SendPasswordThroughTheService, ASendFinishingAfterItsFormWasReplacedLeavesTheNewFormAlone)
{
    show(anna.record());
    type("labelField", "Wi-Fi");
    type("secretField", "hunter2");
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    // Cancelled while sending, and the panel opened again for Bo, who gets typed into.
    QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(panel()->isVisible());
    here.passwords->composer().show(bo.record()); // without a turn of the event loop
    SendPasswordView* newer = form();
    field("labelField")->setText("Door");
    ASSERT_TRUE(outgoingPasswords().empty()) << "the first send is still under way";

    ASSERT_TRUE(waitUntil([&] { return outgoingPasswords().size() == 1; }, 15000));
    ASSERT_TRUE(waitForNextTurn()) << "the send's end has reached the composer";
    EXPECT_TRUE(panel()->isVisible()) << "the late send did not close Bo's form";
    EXPECT_EQ(form(), newer);
    EXPECT_EQ(field("labelField")->text(), "Door");
    EXPECT_EQ(outgoingPasswords().front().peerId, anna.id());
}

} // namespace
} // namespace wl::test
