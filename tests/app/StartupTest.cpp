// Start-up's check of this computer's key.
#include "ScriptedPrompts.h"

#include "app/DesktopStartup.h"
#include "identity/DeviceIdentity.h"
#include "platform/KeyStore.h"
#include "platform/Log.h"
#include "platform/linux/DesktopPlatform.h"

#include <gtest/gtest.h>

namespace wl {
namespace {

// Start-up never makes new keys in place of ones it can't read: it says so and offers Quit.
TEST(StartupTest, AnUnreadableKeyAsksToQuitAndMakesNoNewKey)
{
    auto unreadable = std::make_shared<UnreadableKeyStore>();
    KeyStore::setStandard(unreadable);
    resetIdentityCache();
    test::ScriptedPrompts prompts;
    {
        CapturedLog log;
        prompts.answerAlert(0);
        EXPECT_FALSE(identityReadableOrQuit(prompts));
        EXPECT_TRUE(log.contains("Wickerlane: this computer's device key can't be read"));
    }
    ASSERT_EQ(prompts.count(), 1u);
    auto question = prompts.questions()[0];
    EXPECT_EQ(question.title, kKeyUnreadableTitle);
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Quit", "Continue"}));
    prompts.answerAlert(1);
    EXPECT_TRUE(identityReadableOrQuit(prompts));
    EXPECT_EQ(ownDeviceId(), "");

    // A store that can be read makes the key on first use and asks nothing.
    KeyStore::setStandard(std::make_shared<MemoryKeyStore>());
    resetIdentityCache();
    EXPECT_TRUE(identityReadableOrQuit(prompts));
    EXPECT_EQ(prompts.count(), 2u);
    EXPECT_FALSE(ownDeviceId().empty());
    KeyStore::setStandard(nullptr);
    resetIdentityCache();
}

} // namespace
} // namespace wl
