// Passwords between two Macs through the real service: send, the delivered receipt,
// reveal behind the owner check, the opened receipt (once), unsend, withdrawal only by
// the sender, and expiry with a moved clock.
#include "MailTestKit.h"

#include "mail/PasswordLifetime.h"
#include "mail/PasswordsPanelController.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace wl::test {
namespace {

class PasswordFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.start()) << service.log();
        for (auto* mac : {&a, &b, &c})
            mac->make(service.httpUrl());
        a.pairWith(b);
        b.pairWith(a);
        b.pairWith(c);
        c.pairWith(b);
        ASSERT_TRUE(a.start(service));
        ASSERT_TRUE(b.start(service));
        ASSERT_TRUE(c.start(service));
        b.passwords->onActivity = [this](const std::string& line) { activityAtB.push_back(line); };
        a.passwords->onActivity = [this](const std::string& line) { activityAtA.push_back(line); };
    }

    StoredMessage sendPassword(PasswordLifetime lifetime)
    {
        MailContent content;
        content.kind = MailContent::Kind::password;
        content.sentAt = a.messenger->now();
        content.label = "Wi-Fi";
        content.secret = "  hunter2 ";
        content.lifetime = rawValue(lifetime);
        content.expiresAt = a.messenger->now() + interval(lifetime);
        auto result = sendAndWait(*a.messenger, content, b.record());
        EXPECT_TRUE(result.ok());
        a.passwords->didSend(b.record(), "Wi-Fi");
        return *result.message;
    }

    std::optional<std::string> reveal(Mac& mac, const StoredMessage& message)
    {
        std::optional<std::optional<std::string>> outcome;
        mac.passwords->reveal(message, "show the Wi-Fi password from Anna",
                              [&](std::optional<std::string> secret) { outcome = secret; });
        waitUntil([&] { return outcome.has_value(); });
        return outcome.value_or(std::nullopt);
    }

    int receiptsAtA(const std::string& id, const std::string& text)
    {
        return static_cast<int>(
            std::count_if(a.messenger->messages().begin(), a.messenger->messages().end(), [&](const StoredMessage& m) {
                return !m.outgoing && m.content.kind == MailContent::Kind::receipt && m.content.replyTo == id &&
                    m.content.text == text;
            }));
    }

    // A message from B to A after everything B sent before it.
    void syncBtoA(const std::string& text)
    {
        ASSERT_TRUE(sendAndWait(*b.messenger, textMail(text), a.record()).ok());
        ASSERT_TRUE(waitUntil(
            [&] {
                return std::any_of(a.received.begin(), a.received.end(),
                                   [&](const StoredMessage& m) { return m.content.text == text; });
            },
            10000));
    }

    ServiceProcess service;
    Mac a{"Anna's Mac"}, b{"Ben's Mac"}, c{"Carl's Mac"};
    std::vector<std::string> activityAtA, activityAtB;
};

TEST_F(PasswordFlow, SendDeliverRevealOnceAndUnsend)
{
    auto sent = sendPassword(PasswordLifetime::once);
    EXPECT_FALSE(sent.content.secret.has_value()); // the sender's history never keeps the secret
    EXPECT_FALSE(a.messenger->messages().back().content.secret.has_value());
    EXPECT_EQ(activityAtA, (std::vector<std::string>{"Sent Ben's Mac a password for Wi-Fi"}));
    EXPECT_EQ(a.passwords->status(sent, a.messenger->now()), SentPasswordState::sent);

    // B stores it sealed, answers "delivered" and shows the panel.
    ASSERT_TRUE(waitUntil([&] { return b.passwords->received().size() == 1; }, 10000));
    auto got = b.passwords->received()[0];
    EXPECT_FALSE(got.content.secret.has_value());
    ASSERT_TRUE(got.sealed.has_value());
    EXPECT_EQ(b.passwords->panel().shownCount(), 1);
    EXPECT_EQ(b.notifier.posted.back().title, "Anna's Mac sent you a password");
    ASSERT_TRUE(waitUntil([&] { return receiptsAtA(sent.id, "delivered") == 1; }, 10000));
    EXPECT_EQ(a.passwords->status(sent, a.messenger->now()), SentPasswordState::delivered);

    // The owner declines: nothing.
    b.ownerCheck.answer(false);
    EXPECT_FALSE(reveal(b, got).has_value());
    EXPECT_FALSE(b.messenger->message(got.id)->openedAt.has_value());

    // The owner confirms: the secret as typed, openedAt set, "opened" sent.
    b.ownerCheck.answer(true);
    EXPECT_EQ(reveal(b, got), "  hunter2 ");
    EXPECT_EQ(b.ownerCheck.reasons().back(), "show the Wi-Fi password from Anna");
    auto openedAt = b.messenger->message(got.id)->openedAt;
    ASSERT_TRUE(openedAt.has_value());
    ASSERT_TRUE(waitUntil([&] { return receiptsAtA(sent.id, "opened") == 1; }, 10000));
    EXPECT_EQ(a.passwords->status(sent, a.messenger->now()), SentPasswordState::opened);

    // Revealing again within the minute: no new openedAt, no second receipt.
    b.clockOffset += 30;
    b.ownerCheck.answer(true);
    EXPECT_EQ(reveal(b, got), "  hunter2 ");
    EXPECT_EQ(b.messenger->message(got.id)->openedAt, openedAt);
    syncBtoA("after second reveal");
    EXPECT_EQ(receiptsAtA(sent.id, "opened"), 1);

    // A minute after opening it is gone without asking.
    b.clockOffset += 30;
    auto asked = b.ownerCheck.count();
    EXPECT_FALSE(reveal(b, got).has_value());
    EXPECT_EQ(b.ownerCheck.count(), asked);
    b.passwords->sweep();
    EXPECT_TRUE(b.passwords->received().empty());
    // A once-password that was opened stays "opened" for its sender.
    EXPECT_EQ(a.passwords->status(sent, a.messenger->now() + 5000), SentPasswordState::opened);
}

TEST_F(PasswordFlow, UnsendWithdrawsOnlyWhenTheSenderAsks)
{
    auto sent = sendPassword(PasswordLifetime::oneHour);
    ASSERT_TRUE(waitUntil([&] { return b.passwords->received().size() == 1; }, 10000));

    // Another Mac paired with B names A's password in a cancel: dropped.
    MailContent fake;
    fake.kind = MailContent::Kind::cancel;
    fake.sentAt = dateNow();
    fake.replyTo = sent.id;
    ASSERT_TRUE(sendAndWait(*c.messenger, fake, b.record()).ok());
    ASSERT_TRUE(sendAndWait(*c.messenger, textMail("after the fake"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return b.received.size() == 2; }, 10000));
    EXPECT_EQ(b.received.back().content.text, "after the fake");
    EXPECT_EQ(b.passwords->received().size(), 1u);

    // The sender withdraws it.
    bool changed = false;
    QObject::connect(a.passwords.get(), &PasswordCenter::changed, [&] { changed = true; });
    a.passwords->unsend(sent);
    // B can take the cancel from its mailbox before A has read the service's answer to
    // the post, so wait for both sides.
    ASSERT_TRUE(waitUntil([&] { return b.passwords->received().empty() && changed; }, 10000));
    EXPECT_EQ(a.passwords->status(sent, a.messenger->now()), SentPasswordState::unsent);
    // Nothing was removed on the sender's side.
    EXPECT_EQ(a.passwords->sent().size(), 1u);
    // It can no longer be revealed.
    b.ownerCheck.answer(true);
    EXPECT_FALSE(reveal(b, sent).has_value());
}

TEST_F(PasswordFlow, ExpiryEndsAPasswordAtItsCap)
{
    auto sent = sendPassword(PasswordLifetime::fifteenMinutes);
    ASSERT_TRUE(waitUntil([&] { return b.passwords->received().size() == 1; }, 10000));
    auto got = b.passwords->received()[0];
    auto end = b.passwords->expiry(got);
    EXPECT_NEAR(end - got.at, 900, 5); // its expiresAt; well inside the cap

    b.clockOffset = end - dateNow() - 1;
    b.ownerCheck.answer(true);
    EXPECT_TRUE(reveal(b, got).has_value()); // before the end
    b.clockOffset = end - dateNow();
    EXPECT_FALSE(reveal(b, got).has_value()); // at the end: no prompt, no secret
    b.passwords->sweep();
    EXPECT_TRUE(b.passwords->received().empty());
    EXPECT_EQ(a.passwords->status(sent, sent.content.expiresAt.value()), SentPasswordState::expired);
}

} // namespace
} // namespace wl::test
