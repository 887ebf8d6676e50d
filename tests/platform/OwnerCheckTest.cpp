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

// Types a password into the shown dialog and presses Allow.
void typeAndAllow(QWidget* dialog, const QString& password)
{
    QTest::keyClicks(dialog->findChild<QLineEdit*>("passwordField"), password);
    QTest::mouseClick(dialog->findChild<QPushButton*>("allowButton"), Qt::LeftButton);
}

// The real dialog against stacks of the test's own. A wrong password (refused, or answered
// as an unknown user) keeps the dialog open and says so; Cancel then answers false with no
// log line. A stack that can't judge the password (a module missing or failing) closes the
// dialog and answers false with one log line in PAM's words; a service PAM can't start
// answers false without asking. No line holds the password.
TEST(PamOwnerCheckTest, TheDialogSaysAWrongPasswordAndAStackThatCantCheckSaysWhy)
{
    TempDir pam;
    std::ofstream(pam.path() / "wickerlane-test-refuse") << "auth required pam_deny.so\n";
    std::ofstream(pam.path() / "wickerlane-test-unknown") << "auth required pam_debug.so auth=user_unknown\n";
    CapturedLog log;
    for (const char* service : {"wickerlane-test-refuse", "wickerlane-test-unknown"}) {
        SCOPED_TRACE(service);
        PamOwnerCheck check(service, {}, pam.str());
        std::optional<bool> result;
        check.check("show the Wi-Fi password from Anna", [&](bool ok) { result = ok; });

        ASSERT_TRUE(waitUntil([] { return shownDialog() != nullptr; }));
        QWidget* dialog = shownDialog();
        auto* field = dialog->findChild<QLineEdit*>("passwordField");
        auto* problem = dialog->findChild<QLabel*>("problemLabel");
        ASSERT_TRUE(field && problem);
        EXPECT_FALSE(problem->isVisible());
        typeAndAllow(dialog, "hunter2-not-it");
        ASSERT_TRUE(waitUntil([&] { return !shownDialog() || problem->isVisible(); }, 15000));
        ASSERT_EQ(shownDialog(), dialog);
        EXPECT_EQ(problem->text(), "That password isn't right. Try again.");
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_TRUE(field->isEnabled());
        // The field takes the focus back (the window itself may not be active on a bare X server).
        EXPECT_EQ(dialog->focusWidget(), field);
        EXPECT_FALSE(result.has_value());
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines().back(), "Wickerlane: the owner wasn't confirmed: the password was wrong");

        const auto before = log.lines().size();
        QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return result.has_value() && !shownDialog(); }));
        EXPECT_FALSE(*result);
        EXPECT_EQ(log.lines().size(), before) << "a cancel is the person's choice, not a fault";
    }

    const std::vector<std::pair<std::string, std::string>> cannotCheck = {
        {"auth required pam_wickerlane_no_such_module.so", "Module is unknown (PAM error 28)"},
        {"auth required pam_debug.so auth=system_err", "System error (PAM error 4)"},
        {"auth required pam_debug.so auth=authinfo_unavail", "(PAM error 9)"},
        {"auth required pam_debug.so auth=maxtries", "(PAM error 11)"},
        {"auth required pam_debug.so auth=cred_insufficient", "(PAM error 8)"},
        {"auth required pam_debug.so auth=abort", "(PAM error 26)"},
    };
    for (const auto& [stack, said] : cannotCheck) {
        SCOPED_TRACE(stack);
        std::ofstream(pam.path() / "wickerlane-test-broken") << stack << "\n";
        PamOwnerCheck check("wickerlane-test-broken", {}, pam.str());
        std::optional<bool> result;
        check.check("show the Wi-Fi password from Anna", [&](bool ok) { result = ok; });
        ASSERT_TRUE(waitUntil([] { return shownDialog() != nullptr; }));
        const auto before = log.lines().size();
        typeAndAllow(shownDialog(), "hunter2-maybe");
        ASSERT_TRUE(waitUntil([&] { return result.has_value() && !shownDialog(); }, 15000));
        EXPECT_FALSE(*result);
        // Besides what the stack's modules say (pam_debug says which answer it gives).
        auto lines = log.lines();
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
        std::erase_if(lines, [](const std::string& line) { return line.rfind("Wickerlane: owner check: ", 0) == 0; });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("Wickerlane: can't confirm the owner: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(said), std::string::npos) << lines[0];
    }

    PamOwnerCheck noService("wickerlane-test-no-such-service", {}, pam.str());
    auto before = log.lines().size();
    std::optional<bool> result;
    noService.check("copy the Wi-Fi password from Anna", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
    EXPECT_EQ(shownDialog(), nullptr);
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().rfind("Wickerlane: can't confirm the owner: ", 0), 0u) << lines.back();
    for (const auto& line : lines)
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
}

} // namespace
} // namespace wl::test
