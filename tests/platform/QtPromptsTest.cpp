#include "platform/linux/QtPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace wl;

namespace {

// Waits for the modal dialog, lets act() answer it, and records what it saw.
void whenModal(std::function<void(QWidget*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start(10);
}

QPushButton* buttonTitled(QWidget* dialog, const QString& title)
{
    for (auto* button : dialog->findChildren<QPushButton*>())
        if (button->text() == title)
            return button;
    return nullptr;
}

} // namespace

TEST(QtPrompts, AlertAnswersTheIndexOfTheChosenButton)
{
    QtPrompts prompts;
    bool sawTexts = false;
    whenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        sawTexts = box->text() == "Allow help?" && box->informativeText() == "Ada wants to see your screen.";
        EXPECT_TRUE(box->isVisible());
        buttonTitled(box, "Not Now")->click();
    });
    int answer = prompts.alert({"Allow help?", "Ada wants to see your screen.", {"Allow", "Not Now", "Cancel"}});
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(sawTexts);

    whenModal([&](QWidget* modal) { buttonTitled(modal, "OK")->click(); });
    EXPECT_EQ(prompts.alert({"Done", "", {}}), 0);
}

TEST(QtPrompts, TextPromptTrimsAndCancels)
{
    QtPrompts prompts;
    whenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->textValue(), "initial");
        dialog->setTextValue("  123456 \n");
        buttonTitled(dialog, "Unlock")->click();
    });
    TextRequest request{"Enter the PIN", "The Mac asks for its PIN.", "initial", "Unlock"};
    EXPECT_EQ(prompts.askForText(request), "123456");

    whenModal([](QWidget* modal) { buttonTitled(modal, "Cancel")->click(); });
    EXPECT_EQ(prompts.askForText(request), std::nullopt);
}

TEST(QtPrompts, AnotherThreadWaitsForTheMainThreadsDialog)
{
    QtPrompts prompts;
    whenModal([](QWidget* modal) { buttonTitled(modal, "Second")->click(); });
    std::atomic<int> answer{-2};
    std::thread worker([&] { answer = prompts.alert({"From a worker", "", {"First", "Second"}}); });
    while (answer == -2)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(answer, 1);
}

TEST(QtPrompts, AnAlertWithACheckboxAnswersItsState)
{
    QtPrompts prompts;
    AlertRequest request{"Ada wants to help", "Show me or take over.", {"Show me", "Take over", "Not now"}};
    request.checkbox = "Start with my microphone on";
    request.floating = true;
    bool stayedOnTop = false;
    whenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        ASSERT_NE(box->checkBox(), nullptr);
        EXPECT_EQ(box->checkBox()->text(), "Start with my microphone on");
        EXPECT_FALSE(box->checkBox()->isChecked());
        stayedOnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        box->checkBox()->setChecked(true);
        buttonTitled(box, "Take over")->click();
    });
    AlertAnswer answer = prompts.alertWithCheckbox(request);
    EXPECT_EQ(answer.button, 1);
    EXPECT_TRUE(answer.checked);
    EXPECT_TRUE(stayedOnTop);
}

TEST(QtPrompts, TwoSecretsComeBackAsTypedOrNotAtAllOnCancel)
{
    QtPrompts prompts;
    TwoSecretsRequest request{"Set a PIN for Ada?",
                              "Leave both boxes empty for no PIN.",
                              "PIN (6 or more digits)",
                              "Same PIN again",
                              "Turn On",
                              "Cancel",
                              true};
    whenModal([&](QWidget* modal) {
        auto* first = modal->findChild<QLineEdit*>("first");
        auto* second = modal->findChild<QLineEdit*>("second");
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->echoMode(), QLineEdit::Password);
        EXPECT_EQ(second->placeholderText(), "Same PIN again");
        first->setText("123456");
        second->setText("123457");
        buttonTitled(modal, "Turn On")->click();
    });
    auto answer = prompts.askForTwoSecrets(request);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->first, "123456");
    EXPECT_EQ(answer->second, "123457");

    whenModal([&](QWidget* modal) { buttonTitled(modal, "Cancel")->click(); });
    EXPECT_EQ(prompts.askForTwoSecrets(request), std::nullopt);
}
