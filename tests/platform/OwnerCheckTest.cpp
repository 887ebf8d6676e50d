// The PAM owner check: the password dialog's answer goes to a real PAM conversation run
// off the main thread, and the answer comes back on the main thread.
#include "TestDirs.h"
#include "WaitUntil.h"

#include "platform/Log.h"
#include "platform/linux/PamOwnerCheck.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <fstream>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

TEST(PamOwnerCheckTest, CancelOrAWrongPasswordIsARefusal)
{
    std::vector<std::string> asked;
    std::optional<std::string> typed; // what the stand-in dialog answers
    PamOwnerCheck check("login", [&](const std::string& reason, auto answer) {
        asked.push_back(reason);
        answer(typed);
    });

    std::optional<bool> result;
    check.check("show the Wi-Fi password from Anna", [&](bool ok) { result = ok; });
    ASSERT_TRUE(result.has_value()); // a cancel answers at once
    EXPECT_FALSE(*result);

    typed = "certainly not the password";
    result.reset();
    QThread* answeredOn = nullptr;
    check.check("copy the Wi-Fi password from Anna", [&](bool ok) {
        result = ok;
        answeredOn = QThread::currentThread();
    });
    EXPECT_FALSE(result.has_value()); // PAM runs elsewhere
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }, 15000));
    EXPECT_FALSE(*result);
    EXPECT_EQ(answeredOn, QThread::currentThread());
    EXPECT_EQ(asked,
              (std::vector<std::string>{"show the Wi-Fi password from Anna", "copy the Wi-Fi password from Anna"}));
}

// PAM services of the test's own, in a folder of its own: one whose stack allows anyone,
// one whose stack refuses everyone. The real conversation runs against them.
TEST(PamOwnerCheckTest, AStackThatAllowsConfirmsAndOneThatRefusesDoesNot)
{
    TempDir pam;
    std::ofstream(pam.path() / "wickerlane-test-allow") << "auth required pam_permit.so\n";
    std::ofstream(pam.path() / "wickerlane-test-refuse") << "auth required pam_deny.so\n";
    auto typed = [](const std::string&, auto answer) { answer(std::string("whatever was typed")); };

    for (auto [service, expected] : {std::pair{"wickerlane-test-allow", true}, {"wickerlane-test-refuse", false}}) {
        PamOwnerCheck check(service, typed, pam.str());
        std::optional<bool> result;
        check.check("show the Wi-Fi password from Anna", [&](bool ok) { result = ok; });
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }, 15000)) << service;
        EXPECT_EQ(*result, expected) << service;
    }
    std::string error;
    EXPECT_EQ(
        PamOwnerCheck::authenticate("wickerlane-test-allow", PamOwnerCheck::currentUser(), "x", &error, pam.str()),
        PamOwnerCheck::Verdict::confirmed);
    EXPECT_TRUE(error.empty()) << error;
}

QWidget* shownDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "ownerPasswordDialog" && widget->isVisible())
            return widget;
    return nullptr;
}

// The real dialog against a stack that refuses every password: a wrong password keeps the
// dialog open and says so, Cancel then answers false; a service PAM can't start answers
// false without asking. Each refusal leaves a log line, never the password.
TEST(PamOwnerCheckTest, TheDialogSaysAWrongPasswordAndOnlyCancelOrNoWayToCheckRefuses)
{
    TempDir pam;
    std::ofstream(pam.path() / "wickerlane-test-refuse") << "auth required pam_deny.so\n";
    CapturedLog log;
    PamOwnerCheck check("wickerlane-test-refuse", {}, pam.str());
    std::optional<bool> result;
    check.check("show the Wi-Fi password from Anna", [&](bool ok) { result = ok; });

    ASSERT_TRUE(waitUntil([] { return shownDialog() != nullptr; }));
    QWidget* dialog = shownDialog();
    auto* field = dialog->findChild<QLineEdit*>("passwordField");
    auto* problem = dialog->findChild<QLabel*>("problemLabel");
    ASSERT_TRUE(field && problem);
    EXPECT_FALSE(problem->isVisible());
    QTest::keyClicks(field, "hunter2-not-it");
    QTest::mouseClick(dialog->findChild<QPushButton*>("allowButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return problem->isVisible(); }, 15000));
    EXPECT_EQ(problem->text(), "That password isn't right. Try again.");
    EXPECT_EQ(shownDialog(), dialog);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(field->isEnabled());
    // The field takes the focus back (the window itself may not be active on a bare X server).
    EXPECT_EQ(dialog->focusWidget(), field);
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(log.contains("Wickerlane: the owner wasn't confirmed: the password was wrong"));

    QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return result.has_value() && !shownDialog(); }));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(log.contains("Wickerlane: the owner wasn't confirmed: the password dialog was cancelled"));

    PamOwnerCheck noService("wickerlane-test-no-such-service", {}, pam.str());
    auto before = log.lines().size();
    result.reset();
    noService.check("copy the Wi-Fi password from Anna", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
    EXPECT_EQ(shownDialog(), nullptr);
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().rfind("Wickerlane: can't confirm the owner: ", 0), 0u) << lines.back();
    for (const auto& line : lines)
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
}

TEST(PamOwnerCheckTest, TheStandInRefuses)
{
    std::optional<bool> result;
    OwnerCheck::none()->check("reason", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
}

} // namespace
} // namespace wl::test
