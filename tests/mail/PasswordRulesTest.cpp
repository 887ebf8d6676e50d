// The rules of the history and of passwords that need no network: expiry caps, the
// status of a sent password, the lists of the password centre, open help requests,
// replies, and the tables of help topics and lifetimes. Each case seeds the stored
// history and reads it through a messenger with a fixed clock.
#include "MailTestKit.h"

#include "mail/HelpTopic.h"
#include "mail/PasswordLifetime.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

constexpr Date T = 700000000; // a fixed "now"

StoredMessage password(const std::string& id, bool outgoing, Date at, std::optional<Date> expiresAt,
                       std::optional<std::string> lifetime = std::string("fifteenMinutes"), std::string peer = "peer-1")
{
    StoredMessage m;
    m.id = id;
    m.peerId = std::move(peer);
    m.peerName = "Peer";
    m.outgoing = outgoing;
    m.content.kind = MailContent::Kind::password;
    m.content.sentAt = at;
    m.content.label = "Wi-Fi";
    m.content.lifetime = lifetime;
    m.content.expiresAt = expiresAt;
    m.at = at;
    return m;
}

StoredMessage about(const std::string& id, MailContent::Kind kind, const std::string& replyTo, bool outgoing,
                    std::optional<std::string> text = std::nullopt, std::string peer = "peer-1", Date at = T)
{
    StoredMessage m;
    m.id = id;
    m.peerId = std::move(peer);
    m.peerName = "Peer";
    m.outgoing = outgoing;
    m.content.kind = kind;
    m.content.sentAt = at;
    m.content.replyTo = replyTo;
    m.content.text = std::move(text);
    m.at = at;
    return m;
}

class Rules : public ::testing::Test {
protected:
    void load(const std::vector<StoredMessage>& history)
    {
        mac.destroy();
        mac.defaults->setData("WLMessages", StoredMessage::encodeList(history));
        mac.make({}); // no service
        mac.clockOffset = T - dateNow();
    }
    Messenger& messenger() { return *mac.messenger; }
    PasswordCenter& center() { return *mac.passwords; }
    Mac mac{"This Mac"};
};

TEST_F(Rules, ExpiryIsCappedAtAnHourAndAMinuteAndAMinuteAfterOpeningOnce)
{
    load({});
    auto p = password("p", false, T, T + 900);
    EXPECT_EQ(center().expiry(p), T + 900);
    p.content.expiresAt = T + 100000;
    EXPECT_EQ(center().expiry(p), T + 3660);
    p.content.expiresAt.reset();
    EXPECT_EQ(center().expiry(p), T);

    auto once = password("o", false, T, T + 900, std::string("once"));
    once.openedAt = T + 10;
    EXPECT_EQ(center().expiry(once), T + 70);
    once.openedAt = T + 890;
    EXPECT_EQ(center().expiry(once), T + 900); // the earlier of the two
    auto longer = password("l", false, T, T + 900);
    longer.openedAt = T + 10;
    EXPECT_EQ(center().expiry(longer), T + 900); // only "once" shortens
}

TEST_F(Rules, SentPasswordStatusFollowsTheRulesInOrder)
{
    auto sent = password("s", true, T, T + 900);
    auto once = password("o", true, T, T + 900, std::string("once"));
    auto noExpiry = password("n", true, T, std::nullopt);
    load({sent, once, noExpiry});
    EXPECT_EQ(center().status(sent, T), SentPasswordState::sent);
    EXPECT_EQ(center().status(sent, T + 899.999), SentPasswordState::sent);
    EXPECT_EQ(center().status(sent, T + 900), SentPasswordState::expired);
    EXPECT_EQ(center().status(noExpiry, T), SentPasswordState::expired);

    load({sent, once, about("d", MailContent::Kind::receipt, "s", false, "delivered")});
    EXPECT_EQ(center().status(sent, T + 1), SentPasswordState::delivered);
    EXPECT_EQ(center().status(sent, T + 900), SentPasswordState::expired);

    load({sent, once, about("d", MailContent::Kind::receipt, "s", false, "delivered"),
          about("r", MailContent::Kind::receipt, "s", false, "opened"),
          about("r2", MailContent::Kind::receipt, "o", false, "opened")});
    EXPECT_EQ(center().status(sent, T + 899), SentPasswordState::opened);
    EXPECT_EQ(center().status(sent, T + 900), SentPasswordState::expired);
    EXPECT_EQ(center().status(once, T + 5000), SentPasswordState::opened); // a once-password stays opened

    load({sent, about("r", MailContent::Kind::receipt, "s", false, "opened"),
          about("c", MailContent::Kind::cancel, "s", true)});
    EXPECT_EQ(center().status(sent, T + 1), SentPasswordState::unsent);
    EXPECT_EQ(center().status(sent, T + 5000), SentPasswordState::unsent);
}

TEST_F(Rules, ReceiptsCountOnlyFromTheMacThePasswordWentTo)
{
    auto sent = password("s", true, T, T + 900);
    load({sent, about("r", MailContent::Kind::receipt, "s", false, "opened", "peer-2"),
          about("d", MailContent::Kind::receipt, "s", false, "delivered", "peer-2")});
    EXPECT_EQ(center().status(sent, T + 1), SentPasswordState::sent);
}

TEST_F(Rules, PasswordListsOfTheCentre)
{
    auto received = password("in", false, T - 10, T + 900);
    received.sealed = MailEnvelope{"in", "a", "b", "k", "n", "box", "sig"};
    auto wiped = password("gone", false, T - 20, T + 900);
    auto old = password("old", true, T - 86400, T);
    auto recent = password("recent", true, T - 86399, T);
    auto newest = password("newest", true, T - 5, T + 900);
    newest.content.replyTo = "request-1";
    load({received, wiped, old, recent, newest});
    auto in = center().received();
    ASSERT_EQ(in.size(), 1u);
    EXPECT_EQ(in[0].id, "in");
    auto out = center().sent();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].id, "newest");
    EXPECT_EQ(out[1].id, "recent");
    ASSERT_EQ(center().sentTo("request-1").size(), 1u);
    EXPECT_TRUE(center().sentTo("nothing").empty());

    // The sweep wipes the envelope once the expiry has come, not before.
    mac.clockOffset = T + 899.9 - dateNow();
    center().sweep();
    EXPECT_EQ(center().received().size(), 1u);
    mac.clockOffset = T + 900 - dateNow();
    center().sweep();
    EXPECT_TRUE(center().received().empty());
    EXPECT_FALSE(messenger().message("in")->sealed.has_value());
}

TEST_F(Rules, OpenHelpRequestsLeaveOutWithdrawnOldAndExcluded)
{
    auto request = [](const std::string& id, Date at, std::string peer = "peer-1") {
        StoredMessage m;
        m.id = id;
        m.peerId = std::move(peer);
        m.peerName = "Peer";
        m.content.kind = MailContent::Kind::helpRequest;
        m.content.topic = rawValue(HelpTopic::printer);
        m.at = at;
        return m;
    };
    auto mine = request("mine", T);
    mine.outgoing = true;
    load({request("old", T - 172800), request("young", T - 172799.5), request("withdrawn", T - 10),
          request("faked", T - 20), request("done", T - 30), request("newest", T - 1), mine,
          about("c1", MailContent::Kind::cancel, "withdrawn", false),
          about("c2", MailContent::Kind::cancel, "faked", false, std::nullopt, "peer-2")});
    auto open = messenger().openHelpRequests({"done"}, T);
    std::vector<std::string> ids;
    for (auto& m : open)
        ids.push_back(m.id);
    // A cancel from another Mac withdraws nothing.
    EXPECT_EQ(ids, (std::vector<std::string>{"newest", "faked", "young"}));
}

TEST_F(Rules, RepliesInHistoryOrderBothWays)
{
    load({about("r1", MailContent::Kind::reply, "m1", false), about("x", MailContent::Kind::reply, "m9", false),
          about("r2", MailContent::Kind::reply, "m2", true), about("c", MailContent::Kind::cancel, "m1", false)});
    auto replies = messenger().replies({"m1", "m2"});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].id, "r1");
    EXPECT_EQ(replies[1].id, "r2");
}

TEST_F(Rules, StoredHistoryKeepsTheNewest200AndSkipsBrokenEntries)
{
    std::vector<StoredMessage> many;
    for (int i = 0; i < 205; ++i)
        many.push_back(about("m" + std::to_string(i), MailContent::Kind::message, "", false, "x", "p", i));
    load(many);
    ASSERT_EQ(messenger().messages().size(), 200u);
    EXPECT_EQ(messenger().messages().front().id, "m5");
    mac.destroy();
    mac.defaults->setData("WLMessages", "not json");
    mac.make({}); // no service
    EXPECT_TRUE(mac.messenger->messages().empty());
}

TEST(Tables, TopicsAndLifetimes)
{
    std::vector<std::string> titles;
    for (auto topic : kAllHelpTopics)
        titles.push_back(rawValue(topic));
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Printer", "Email", "Wi-Fi or internet", "A password", "Something looks wrong",
                                        "Something else"}));
    EXPECT_EQ(helpTopicFromRaw("A password"), HelpTopic::password);
    EXPECT_FALSE(helpTopicFromRaw("a password").has_value());
    EXPECT_EQ(interval(PasswordLifetime::once), 900);
    EXPECT_EQ(interval(PasswordLifetime::fifteenMinutes), 900);
    EXPECT_EQ(interval(PasswordLifetime::oneHour), 3600);
    EXPECT_EQ(passwordLifetimeFromRaw("fifteenMinutes"), PasswordLifetime::fifteenMinutes);
    EXPECT_FALSE(passwordLifetimeFromRaw("forever").has_value());
    EXPECT_EQ(title(PasswordLifetime::oneHour), "1 hour");
}

} // namespace
} // namespace wl::test
