// My Macs between two real messengers: asking, joining and adopting the person key,
// then the rosters that must be ignored, and removal.
#include "MailTestKit.h"

#include "identity/Base64.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

SigningKey personOf(const Mac& mac)
{
    return *mac.messenger->identity().personKey();
}

struct Change {
    std::vector<PairedDevice> macs;
    std::vector<std::string> removed;
};

class MyMacsFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.start()) << service.log();
        a.make(service.httpUrl());
        b.make(service.httpUrl());
        a.pairWith(b);
        b.pairWith(a);
        a.myMacs->onChange.push_back([this](auto& macs, auto& removed) { changesAtA.push_back({macs, removed}); });
        b.myMacs->onChange.push_back([this](auto& macs, auto& removed) { changesAtB.push_back({macs, removed}); });
        ASSERT_TRUE(a.start(service));
        ASSERT_TRUE(b.start(service));
    }

    // A asks B, B says yes, B adopts A's roster.
    void join()
    {
        a.myMacs->ask(b.record());
        ASSERT_TRUE(a.myMacs->asking().count(b.id()));
        EXPECT_EQ(a.defaults->stringList("WLMyMacsAsking"), std::vector<std::string>{b.id()});
        ASSERT_TRUE(waitUntil([&] { return b.myMacs->roster().has_value(); }, 10000));
        EXPECT_TRUE(a.myMacs->asking().empty());
    }

    MailContent rosterMail(const MyMacsRoster& roster, const SigningKey& key)
    {
        MailContent content;
        content.kind = MailContent::Kind::myMacs;
        content.sentAt = dateNow();
        content.roster = SignedRoster::sign(roster, key);
        return content;
    }

    ServiceProcess service;
    Mac a{"Anna's Mac"}, b{"Anna's Laptop"};
    std::vector<Change> changesAtA, changesAtB;
};

TEST_F(MyMacsFlow, JoiningSharesTheSignedRosterAndThePersonKey)
{
    join();
    EXPECT_EQ(a.confirmations, (std::vector<std::string>{"Add Anna's Laptop to your Macs?"}));
    EXPECT_EQ(b.confirmations, (std::vector<std::string>{"Join Anna's Mac's Macs?"}));
    ASSERT_TRUE(a.myMacs->roster().has_value());
    EXPECT_EQ(a.myMacs->roster()->version, 1);
    EXPECT_EQ(a.myMacs->roster()->person, a.person.publicKeyBase64());
    EXPECT_EQ(*b.myMacs->roster(), *a.myMacs->roster());
    EXPECT_EQ(personOf(b), a.person); // adopted
    EXPECT_TRUE(a.myMacs->isMine(b.id()));
    EXPECT_TRUE(b.myMacs->isMine(a.id()));
    EXPECT_FALSE(a.myMacs->isMine(a.id()));
    ASSERT_FALSE(changesAtB.empty());
    ASSERT_EQ(changesAtB.back().macs.size(), 1u);
    EXPECT_EQ(changesAtB.back().macs[0].id, a.id());
    EXPECT_EQ(changesAtB.back().macs[0].publicKey, a.device.publicKeyBase64());
    // Quiet mail stays out of the history.
    EXPECT_TRUE(a.messenger->messages().empty());
    EXPECT_TRUE(b.messenger->messages().empty());

    // A fresh My Macs on the same settings reads the roster back.
    MyMacs again(*b.messenger);
    EXPECT_EQ(again.roster(), b.myMacs->roster());
}

TEST_F(MyMacsFlow, DeclinedOrUnaskedAnswersChangeNothing)
{
    b.confirmAnswer = false;
    a.myMacs->ask(b.record());
    ASSERT_TRUE(waitUntil([&] { return a.myMacs->asking().empty(); }, 10000));
    EXPECT_FALSE(a.myMacs->roster().has_value());

    // An "accepted" nobody asked for.
    MailContent reply;
    reply.kind = MailContent::Kind::linkReply;
    reply.text = "accepted";
    a.myMacs->handleLinkReply(reply, b.record());
    EXPECT_FALSE(a.myMacs->roster().has_value());
}

TEST_F(MyMacsFlow, BadSignatureOtherPersonOrOlderVersionIsIgnored)
{
    join();
    auto held = *b.myMacs->roster();
    auto changes = changesAtB.size();

    auto newer = held;
    newer.version += 1;
    newer.macs.push_back(RosterMac{"f00d", SigningKey::generate().publicKeyBase64(), "Intruder"});

    auto tampered = rosterMail(newer, a.person);
    tampered.roster->roster.replace(tampered.roster->roster.find("Intruder"), 8, "Intrudex");
    b.myMacs->handleRoster(tampered, a.record());

    auto stranger = SigningKey::generate();
    auto other = newer;
    other.person = stranger.publicKeyBase64();
    auto otherMail = rosterMail(other, stranger);
    otherMail.personKey = base64Encode(stranger.raw());
    b.myMacs->handleRoster(otherMail, a.record());

    auto older = held;
    older.macs.push_back(RosterMac{"f00d", SigningKey::generate().publicKeyBase64(), "Intruder"});
    b.myMacs->handleRoster(rosterMail(older, a.person), a.record());

    EXPECT_EQ(*b.myMacs->roster(), held);
    EXPECT_EQ(changesAtB.size(), changes);
    EXPECT_EQ(personOf(b), a.person);

    // The same person key with a higher version is taken.
    b.myMacs->handleRoster(rosterMail(newer, a.person), a.record());
    EXPECT_EQ(b.myMacs->roster()->version, held.version + 1);
}

TEST_F(MyMacsFlow, RemoveRaisesTheVersionAndTellsTheListeners)
{
    join();
    auto version = a.myMacs->roster()->version;
    a.myMacs->remove(b.record());
    EXPECT_EQ(a.myMacs->roster()->version, version + 1);
    EXPECT_FALSE(a.myMacs->isMine(b.id()));
    ASSERT_FALSE(changesAtA.empty());
    EXPECT_EQ(changesAtA.back().removed, std::vector<std::string>{b.id()});
    EXPECT_TRUE(changesAtA.back().macs.empty());

    // The removed Mac hears of it, forgets the roster and lets go of the person key.
    ASSERT_TRUE(waitUntil([&] { return !b.myMacs->roster().has_value(); }, 10000));
    EXPECT_EQ(changesAtB.back().removed, std::vector<std::string>{a.id()});
    EXPECT_FALSE(personOf(b) == a.person);
    EXPECT_FALSE(b.myMacs->isMine(a.id()));

    // Announcing calls every listener with no removed ids.
    a.myMacs->notifyChange();
    EXPECT_TRUE(changesAtA.back().removed.empty());
}

} // namespace
} // namespace wl::test
