// The PAM owner check: the password dialog's answer goes to a real PAM conversation run
// off the main thread, and the answer comes back on the main thread.
#include "TestDirs.h"
#include "WaitUntil.h"

#include "platform/linux/PamOwnerCheck.h"

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
    EXPECT_TRUE(
        PamOwnerCheck::authenticate("wickerlane-test-allow", PamOwnerCheck::currentUser(), "x", &error, pam.str()));
    EXPECT_TRUE(error.empty()) << error;
}

TEST(PamOwnerCheckTest, TheStandardCheckRefusesUntilOneIsInstalled)
{
    std::optional<bool> result;
    OwnerCheck::standard().check("reason", [&](bool ok) { result = ok; });
    EXPECT_EQ(result, false);
}

} // namespace
} // namespace wl::test
