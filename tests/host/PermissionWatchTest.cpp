// The host's permission watch against the real introduction service, its helpers being
// messengers of their own: Screen Recording going off is told once per period while
// help requests are accepted, and each helper is told whether it holds unattended
// access when that changes, and again after 7 days. The permission checks are
// switchable and the host's clock stands still where the test says.
#include "../mail/MailTestKit.h"
#include "HostTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

const char* const kNoScreenText = "Wickerlane on this Mac can't share the screen right now: its Screen Recording "
                                  "permission is off. Someone here needs to turn it back on.";

class HostWatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.started);
        for (Mac* mac : {&ann, &bo, &cy}) {
            mac->make(rig.service.httpUrl());
            mac->contacts.push_back(PairedDevice{rig.hostId(), "The Host", rig.hostKey(), dateNow(), {}, {}});
        }
        ASSERT_TRUE(ann.start(rig.service));
        ASSERT_TRUE(bo.start(rig.service));
        ASSERT_NO_FATAL_FAILURE(publishHostKey());
    }

    // The host's mail key is out before the host under test starts, as an earlier run
    // of the program left it: helpers can open what it mails at start-up.
    void publishHostKey()
    {
        rig.make();
        rig.services->messenger->start();
        ASSERT_TRUE(waitUntil(
            [&] { return ServiceProcess::httpRequest(rig.service.port(), "GET", "/v1/keys/" + rig.hostId()) == 200; }));
        rig.destroy();
    }

    void tick() { ASSERT_TRUE(rig.timers.fireNext(HostController::kPermissionInterval)); }

    // Lets mail that is on its way arrive: a message the host sends after it has reached
    // Ann and Bo.
    void settle()
    {
        MailContent mark;
        mark.kind = MailContent::Kind::message;
        mark.text = "settled " + std::to_string(++settles_);
        mark.sentAt = dateNow();
        for (Mac* mac : {&ann, &bo})
            rig.services->messenger->send(mark, mac->record());
        auto got = [&](const Mac& mac) {
            return std::any_of(mac.received.begin(), mac.received.end(),
                               [&](const StoredMessage& message) { return message.content.text == mark.text; });
        };
        ASSERT_TRUE(waitUntil([&] { return got(ann) && got(bo); }, 15000)) << *mark.text;
    }

    static int noScreenMails(const Mac& mac)
    {
        int count = 0;
        for (const auto& message : mac.received)
            count += message.content.kind == MailContent::Kind::message && message.content.text == kNoScreenText;
        return count;
    }

    // The access notices a helper got, in order.
    static std::vector<bool> accessMails(const Mac& mac)
    {
        std::vector<bool> told;
        for (const auto& content : mac.quiet)
            if (content.kind == MailContent::Kind::access)
                told.push_back(content.unattended.value_or(false));
        return told;
    }

    nlohmann::json storedObject(const char* key) const
    {
        auto bytes = rig.defaults->data(key);
        return bytes ? nlohmann::json::parse(*bytes, nullptr, false) : nlohmann::json();
    }

    // The helper's record with unattended access given.
    static PairedDevice granted(const Mac& mac, int failedAttempts = 0)
    {
        PairedDevice record = mac.record();
        UnattendedGrant grant;
        grant.enabledAt = dateNow();
        grant.failedAttempts = failedAttempts;
        record.unattended = grant;
        return record;
    }

    HostRig rig;
    Mac ann{"Ann Example"};
    Mac bo{"Bo Example"};
    Mac cy{"Cy Nokey"}; // never publishes a mail key
    int settles_ = 0;
};

TEST_F(HostWatch, ScreenRecordingOffIsToldOncePerPeriodWhileAccepting)
{
    rig.pair({ann.record(), bo.record()});
    rig.defaults->setBool(HostController::kAcceptHelpRequestsKey, true);
    rig.permissions->recordScreen = false;
    rig.permissions->control = false;
    rig.make();
    // The check at start-up comes before accepting is applied: flags, but no mail.
    EXPECT_FALSE(rig.host->canRecordScreen());
    EXPECT_FALSE(rig.host->canControl());
    EXPECT_TRUE(rig.host->isListening());
    settle();
    EXPECT_EQ(noScreenMails(ann), 0);
    EXPECT_FALSE(rig.defaults->boolValue(HostController::kToldNoScreenRecordingKey));

    // The first tick tells every helper, once.
    tick();
    EXPECT_TRUE(rig.defaults->boolValue(HostController::kToldNoScreenRecordingKey));
    EXPECT_TRUE(rig.historyHas("Screen Recording permission is off; helpers told"));
    ASSERT_TRUE(waitUntil([&] { return noScreenMails(ann) == 1 && noScreenMails(bo) == 1; }));
    tick();
    settle();
    EXPECT_EQ(noScreenMails(ann), 1);

    // On again, then off again: a second period, a second mail.
    rig.permissions->recordScreen = true;
    rig.permissions->control = true;
    tick();
    EXPECT_TRUE(rig.host->canRecordScreen());
    EXPECT_TRUE(rig.host->canControl());
    EXPECT_FALSE(rig.defaults->contains(HostController::kToldNoScreenRecordingKey));
    rig.permissions->recordScreen = false;
    tick();
    ASSERT_TRUE(waitUntil([&] { return noScreenMails(ann) == 2 && noScreenMails(bo) == 2; }));

    // Off while help requests are refused: the flag follows, nothing is told or written.
    rig.permissions->recordScreen = true;
    tick();
    rig.host->setAcceptingHelpRequests(false);
    rig.permissions->recordScreen = false;
    const auto lines = rig.history().size();
    tick();
    EXPECT_FALSE(rig.host->canRecordScreen());
    EXPECT_FALSE(rig.defaults->boolValue(HostController::kToldNoScreenRecordingKey));
    EXPECT_EQ(rig.history().size(), lines);
    EXPECT_TRUE(waitUntil([&] { return noScreenMails(ann) == 2; }));
    settle();
    EXPECT_EQ(noScreenMails(ann), 2);
}

TEST_F(HostWatch, WithoutHelpersTheFlagAndTheLineButNoMail)
{
    rig.defaults->setBool(HostController::kAcceptHelpRequestsKey, true);
    rig.permissions->recordScreen = false;
    rig.make();
    tick();
    EXPECT_TRUE(rig.defaults->boolValue(HostController::kToldNoScreenRecordingKey));
    EXPECT_TRUE(rig.historyHas("Screen Recording permission is off; helpers told"));
    settle();
    EXPECT_EQ(noScreenMails(ann), 0);
}

TEST_F(HostWatch, UnattendedAccessIsToldOnChangeAndAfterSevenDays)
{
    const Date now = dateNow();
    rig.fixedNow = now;
    // Ann holds access and was never told; Bo never had it.
    rig.pair({granted(ann), bo.record()});
    rig.make();
    // Told at start-up, one mail however often it is checked while on its way.
    rig.host->checkPermissions();
    rig.host->checkPermissions();
    ASSERT_TRUE(waitUntil([&] { return accessMails(ann).size() == 1; }));
    settle();
    EXPECT_EQ(accessMails(ann), std::vector<bool>{true});
    EXPECT_TRUE(accessMails(bo).empty()) << "a helper that never had access is never mailed";
    EXPECT_EQ(storedObject(PairedHelpers::kToldAccessKey)[ann.id()], true);
    EXPECT_EQ(storedObject(PairedHelpers::kToldAccessAtKey)[ann.id()], now);

    // Exactly 7 days ago is not again; 7 days and a second is.
    nlohmann::json at = storedObject(PairedHelpers::kToldAccessAtKey);
    at[ann.id()] = now - 604800;
    rig.defaults->setData(PairedHelpers::kToldAccessAtKey, at.dump());
    tick();
    settle();
    EXPECT_EQ(accessMails(ann).size(), 1u);
    at[ann.id()] = now - 604801;
    rig.defaults->setData(PairedHelpers::kToldAccessAtKey, at.dump());
    tick();

    // Turning it off while that notice is still on its way tells false right after it,
    // not at the next check.
    rig.host->pairedHelpers().turnOffUnattendedAccess(rig.host->helpers()[0]);
    ASSERT_TRUE(waitUntil([&] { return accessMails(ann).size() == 3; }));
    EXPECT_EQ(accessMails(ann), (std::vector<bool>{true, true, false}));
    // The host writes what it told once the service has taken the mail, which can be
    // after Ann already holds it.
    EXPECT_TRUE(waitUntil([&] { return storedObject(PairedHelpers::kToldAccessKey)[ann.id()] == false; }));
    tick();
    settle();
    EXPECT_EQ(accessMails(ann).size(), 3u);
}

TEST_F(HostWatch, ALockedOutHelperIsToldAndAFailedNoticeIsTriedAgain)
{
    // Ann was told she has access; five wrong PINs since lock her out.
    nlohmann::json told = {{ann.id(), true}};
    nlohmann::json at = {{ann.id(), dateNow()}};
    rig.defaults->setData(PairedHelpers::kToldAccessKey, told.dump());
    rig.defaults->setData(PairedHelpers::kToldAccessAtKey, at.dump());
    // Cy holds access but has no mail key yet: the notice can't go.
    rig.pair({granted(ann, PairedHelpers::kMaxWrongPINs), granted(cy)});
    rig.make();
    ASSERT_TRUE(waitUntil([&] { return accessMails(ann).size() == 1; }));
    EXPECT_EQ(accessMails(ann), std::vector<bool>{false});
    settle();
    EXPECT_FALSE(storedObject(PairedHelpers::kToldAccessKey).contains(cy.id()));
    EXPECT_FALSE(storedObject(PairedHelpers::kToldAccessAtKey).contains(cy.id()));

    // Once Cy can receive mail, the next check tells it.
    ASSERT_TRUE(cy.start(rig.service));
    tick();
    ASSERT_TRUE(waitUntil([&] { return accessMails(cy).size() == 1; }));
    EXPECT_EQ(accessMails(cy), std::vector<bool>{true});
    EXPECT_TRUE(waitUntil([&] { return storedObject(PairedHelpers::kToldAccessKey).contains(cy.id()); }));
}

} // namespace
} // namespace wl::test
