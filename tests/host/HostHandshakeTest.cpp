// The host's handshake against the real introduction service with a scripted helper:
// every refusal word with the path it takes and the bye that follows it, the order of
// the checks, the challenge, unattended access with wrong PINs across a restart, and
// the time limit that frees the host.
#include "HostTestKit.h"

#include "identity/Base64.h"
#include "platform/Log.h"

using namespace std::chrono_literals;

namespace wl::test {

UnattendedGrant grantWithPIN(const std::optional<std::string>& pin, int failedAttempts)
{
    UnattendedGrant grant;
    grant.enabledAt = 1000;
    grant.failedAttempts = failedAttempts;
    if (pin) {
        std::string salt = makePINSalt();
        grant.pinSalt = base64Encode(salt);
        grant.pinKey = base64Encode(derivePINKey(*pin, salt));
    }
    return grant;
}

namespace {

using Kind = SignalMessage::Kind;
using Route = HostHandshake::Route;

// A refusal at the hello: the declined goes on the relay link's channel, nothing
// follows it, and the host stays free.
void expectRefusedAtHello(HostRig& rig, ScriptedHelper& helper, const std::string& reason)
{
    auto declined = helper.waitFor(Kind::declined);
    ASSERT_TRUE(declined) << reason;
    EXPECT_EQ(declined->reason, reason);
    EXPECT_TRUE(helper.waitClosed()) << "the service ends the binding after a refusal";
    auto refusals = rig.sentOf(Kind::declined);
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0].message.reason, reason);
    EXPECT_EQ(refusals[0].route, Route::relayChannel);
    EXPECT_TRUE(rig.sentOf(Kind::bye).empty());
    EXPECT_TRUE(rig.sentOf(Kind::challenge).empty());
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_FALSE(rig.host->handshake().attempt());
}

// A refusal after the hello: the declined goes through the session transport and is
// followed by bye "stopped" on the same path; the host is free again.
void expectRefusedAfterHello(HostRig& rig, ScriptedHelper& helper, const std::string& reason)
{
    auto declined = helper.waitFor(Kind::declined);
    ASSERT_TRUE(declined) << reason;
    EXPECT_EQ(declined->reason, reason);
    auto refusals = rig.sentOf(Kind::declined);
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0].message.reason, reason);
    EXPECT_EQ(refusals[0].route, Route::sessionTransport);
    auto byes = rig.sentOf(Kind::bye);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].message.reason, "stopped");
    EXPECT_EQ(byes[0].route, Route::sessionTransport);
    EXPECT_TRUE(rig.sentAfter(Kind::declined, Kind::bye));
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_FALSE(rig.host->handshake().attempt());
    EXPECT_FALSE(rig.host->helperName());
}

TEST(HostSessionRefusals, AtTheHelloOnTheRelayLink)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace"), stranger("Mallory");
    rig.pair({ada.record()});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    // An unknown key.
    rig.reach(stranger);
    stranger.hello();
    expectRefusedAtHello(rig, stranger, "notPaired");

    // A paired key without a nonce.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(false, std::nullopt, std::nullopt, true, false);
    expectRefusedAtHello(rig, ada, "notPaired");

    // "busy" while this machine helps another, before the key is even looked up.
    rig.sent.clear();
    rig.helping = true;
    rig.reach(stranger);
    stranger.hello();
    expectRefusedAtHello(rig, stranger, "busy");
    rig.helping = false;

    // Unattended without a grant.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(true);
    expectRefusedAtHello(rig, ada, "notUnattended");

    // A picture fetch for a request this helper never got.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(false, "attachments", "no-such-request");
    expectRefusedAtHello(rig, ada, "noAttachments");
}

TEST(HostSessionRefusals, ScreenRecordingIsCheckedBeforeUnattendedAccess)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace"), locked("Lin Locked");
    rig.pair({ada.record(), locked.record(grantWithPIN("123456", 5))});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    rig.permissions->recordScreen = false;
    rig.reach(ada);
    ada.hello(true); // no grant, but Screen Recording comes first
    expectRefusedAtHello(rig, ada, "noScreenRecording");
    EXPECT_FALSE(rig.host->canRecordScreen());
    EXPECT_TRUE(rig.historyHas("Screen Recording permission is off; helpers told"));

    rig.permissions->recordScreen = true;
    rig.sent.clear();
    rig.reach(locked);
    locked.hello(true);
    expectRefusedAtHello(rig, locked, "lockedOut");
}

TEST(HostSessionRefusals, AfterTheHelloThroughTheSessionAndThenBye)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record(grantWithPIN("246810"))});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    // A proof that does not verify.
    {
        CapturedLog log;
        rig.reach(ada);
        ada.hello();
        ASSERT_TRUE(ada.waitFor(Kind::challenge));
        EXPECT_TRUE(ada.challengeVerifies());
        EXPECT_EQ(rig.sentOf(Kind::challenge).at(0).route, Route::relayChannel);
        EXPECT_FALSE(rig.host->handshake().busy()) << "nothing is held before the proof";
        ada.proveWithWrongSignature();
        expectRefusedAfterHello(rig, ada, "notVerified");
        EXPECT_TRUE(log.contains("Wickerlane: helper's proof didn't verify; ending"));
    }

    // "Not now".
    rig.sent.clear();
    rig.prompts.answerAlert(2);
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    expectRefusedAfterHello(rig, ada, "notNow");
    EXPECT_TRUE(rig.sentOf(Kind::accepted).empty());

    // A wrong PIN.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove(std::string("135790"));
    expectRefusedAfterHello(rig, ada, "wrongPin");

    // Access turned off between hello and prove: "notUnattended" at the prove.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    rig.host->pairedHelpers().turnOffUnattendedAccess(rig.host->helpers().at(0));
    ada.prove(std::string("246810"));
    expectRefusedAfterHello(rig, ada, "notUnattended");
    EXPECT_TRUE(rig.historyHas("Unattended access turned off for Ada Lovelace"));
}

TEST(HostSessionRefusals, SaltOnlyInUnattendedAttempts)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    const UnattendedGrant grant = grantWithPIN("246810");
    rig.pair({ada.record(grant)});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    rig.reach(ada);
    ada.hello(false);
    auto attended = ada.waitFor(Kind::challenge);
    ASSERT_TRUE(attended);
    EXPECT_FALSE(attended->salt) << "an attended attempt never carries the salt";
    EXPECT_FALSE(attended->publicKey) << "the challenge never carries the host's key";
    EXPECT_TRUE(ada.challengeVerifies());
    ada.close(); // the service tells the host helperLeft
    ASSERT_TRUE(waitUntil([&] { return !rig.host->handshake().busy(); }));

    rig.reach(ada);
    ada.hello(true);
    auto unattended = ada.waitFor(Kind::challenge);
    ASSERT_TRUE(unattended);
    EXPECT_EQ(unattended->salt, grant.pinSalt);
    EXPECT_NE(unattended->nonce, attended->nonce);
    EXPECT_TRUE(ada.challengeVerifies());
}

// Wrong PINs are counted and saved before the refusal, so a restart keeps the count;
// the fifth locks the grant; a right PIN resets the count.
TEST(HostSessionUnattended, WrongPINsCountAcrossARestartAndTheFifthLocks)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record(grantWithPIN("246810"))});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    auto wrongPIN = [&](const std::string& expected) {
        rig.sent.clear();
        rig.reach(ada);
        ada.hello(true);
        ASSERT_TRUE(ada.waitFor(Kind::challenge));
        ada.prove(std::string("999999"));
        expectRefusedAfterHello(rig, ada, expected);
    };
    wrongPIN("wrongPin");
    wrongPIN("wrongPin");
    wrongPIN("wrongPin");
    EXPECT_EQ(rig.host->helpers().at(0).unattended->failedAttempts, 3);
    EXPECT_TRUE(rig.historyHas("Wrong PIN from Ada Lovelace (3 of 5)"));

    // The program restarts: the count is still there.
    rig.destroy();
    rig.make();
    ASSERT_TRUE(rig.goOnline());
    EXPECT_EQ(rig.host->helpers().at(0).unattended->failedAttempts, 3);
    wrongPIN("wrongPin");
    EXPECT_TRUE(rig.historyHas("Wrong PIN from Ada Lovelace (4 of 5)"));
    wrongPIN("lockedOut");
    EXPECT_TRUE(rig.historyHas("Unattended access for Ada Lovelace LOCKED after 5 wrong PINs"));
    EXPECT_EQ(rig.host->helpers().at(0).unattended->failedAttempts, 5);

    // Locked: even the right PIN is refused at the hello now.
    rig.sent.clear();
    rig.reach(ada);
    ada.hello(true);
    expectRefusedAtHello(rig, ada, "lockedOut");
}

TEST(HostSessionUnattended, ARightPINAfterWrongOnesResetsTheCountAndTakesOver)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record(grantWithPIN("246810", 2))});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove(std::string("246810"));
    auto accepted = ada.waitFor(Kind::accepted);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(*accepted, SignalMessage::make(Kind::accepted)) << "accepted carries no fields";
    EXPECT_EQ(rig.sentOf(Kind::accepted).at(0).route, Route::sessionTransport);
    EXPECT_EQ(rig.host->helpers().at(0).unattended->failedAttempts, 0);
    EXPECT_EQ(PairedDeviceStore(*rig.defaults, "WLPairedHelpers").load().at(0).unattended->failedAttempts, 0);
    EXPECT_TRUE(rig.historyHas("Ada Lovelace connected without asking (unattended access)"));
    EXPECT_EQ(rig.host->helperName(), "Ada Lovelace");
    EXPECT_EQ(rig.host->session().mode(), HelpMode::control) << "unattended sessions start in take-over mode";
    EXPECT_EQ(rig.prompts.count(), 0u) << "nobody is asked";

    // The helper leaves before its connection stands: the session ends, helperLeft.
    ada.close();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: Ada ended it"));
}

// A PIN key that is there but does not decode can't be checked: it refuses, and counts.
TEST(HostSessionUnattended, AnUndecodablePINKeyRefusesAndCounts)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    UnattendedGrant grant = grantWithPIN("246810");
    grant.pinKey = "not base64!";
    rig.pair({ada.record(grant)});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove(); // no PIN proof at all
    expectRefusedAfterHello(rig, ada, "wrongPin");
    EXPECT_TRUE(rig.sentOf(Kind::accepted).empty());
    EXPECT_EQ(rig.host->helpers().at(0).unattended->failedAttempts, 1);

    // A grant without any PIN admits without one.
    auto helpers = rig.host->helpers();
    helpers[0].unattended = grantWithPIN(std::nullopt);
    rig.destroy();
    rig.pair(helpers);
    rig.make();
    ASSERT_TRUE(rig.goOnline());
    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    EXPECT_TRUE(ada.waitFor(Kind::accepted));
}

// Nobody who hasn't proved who they are holds the host, and a proven attempt that stalls
// frees it: after 45 s, at once when its helper says hello again, or when the relay link goes.
TEST(HostSessionTimeLimit, AChallengeHoldsNothingAndAProvenAttemptThatStallsEnds)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace"), bob("Bob Babbage");
    rig.pair({ada.record(), bob.record(grantWithPIN(std::nullopt))});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    // Ada is challenged and goes quiet; Bob is challenged meanwhile, not refused.
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    EXPECT_FALSE(rig.host->handshake().busy());
    rig.reach(bob);
    bob.hello(true);
    ASSERT_TRUE(bob.waitFor(Kind::challenge));
    EXPECT_EQ(rig.timers.activeCount(HostHandshake::kProofTimeLimit), 2u);
    // Ada's time to prove runs out: her link is let go.
    ASSERT_TRUE(rig.timers.fireNext(HostHandshake::kProofTimeLimit));
    auto letGo = ada.waitFor(Kind::bye);
    ASSERT_TRUE(letGo);
    EXPECT_TRUE(ada.waitClosed());

    // Bob proves (no PIN is set): the attempt begins and its 45 s run from here. His
    // connection never comes up.
    bob.prove();
    ASSERT_TRUE(bob.waitFor(Kind::accepted));
    EXPECT_TRUE(rig.host->handshake().busy());
    EXPECT_EQ(rig.timers.activeCount(HostHandshake::kHandshakeTimeLimit), 1u);
    {
        CapturedLog log;
        ASSERT_TRUE(rig.timers.fireNext(HostHandshake::kHandshakeTimeLimit));
        EXPECT_TRUE(log.contains("didn't come up in time"));
    }
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_EQ(rig.sentOf(Kind::bye).back().message.reason, "stopped");

    // Bob again; this time he says hello a second time on the same link. He is refused
    // "busy", the service lets his link go with it, and the host is free at once.
    rig.reach(bob);
    bob.hello(true);
    ASSERT_TRUE(bob.waitFor(Kind::challenge));
    bob.prove();
    ASSERT_TRUE(bob.waitFor(Kind::accepted));
    bob.hello(true);
    auto busy = bob.waitFor(Kind::declined);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->reason, "busy");
    EXPECT_TRUE(bob.waitClosed());
    EXPECT_FALSE(rig.host->handshake().busy());
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    rig.prompts.answerAlert(2);
    ASSERT_TRUE(ada.waitFor(Kind::declined));
    EXPECT_FALSE(rig.host->handshake().busy());
    rig.reach(bob);
    bob.hello(true);
    ASSERT_TRUE(bob.waitFor(Kind::challenge));
    bob.prove();
    ASSERT_TRUE(bob.waitFor(Kind::accepted));

    // The relay link goes (the service dies): the attempt ends at once.
    rig.service.kill9();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->isOnline(); }));
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_EQ(rig.host->statusLine(), "Connecting\u2026");
    ASSERT_TRUE(rig.service.start());
    ASSERT_TRUE(rig.reconnect());
    rig.reach(bob);
    bob.hello(true);
    ASSERT_TRUE(bob.waitFor(Kind::challenge));
    bob.prove();
    EXPECT_TRUE(bob.waitFor(Kind::accepted));
}

// The service makes room among a host's 32 helpers from those who have not proven who they
// are: the host tells it when a helper's proof holds. Ada is challenged first, 31 others after
// her; she proves, and while the person decides, a 33rd comes. One of the others goes, not
// Ada, although she is the oldest of them.
TEST(HostSessionCrowd, TheHostTellsTheServiceAHelperHasProvenWhoTheyAre)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    std::vector<std::unique_ptr<ScriptedHelper>> helpers;
    std::vector<PairedDevice> records;
    for (int i = 0; i < 33; ++i) {
        helpers.push_back(std::make_unique<ScriptedHelper>("Helper " + std::to_string(i)));
        records.push_back(helpers.back()->record());
    }
    rig.pair(records);
    rig.make();
    ASSERT_TRUE(rig.goOnline());
    for (int i = 0; i < 32; ++i) {
        rig.reach(*helpers[i]);
        helpers[i]->hello();
        ASSERT_TRUE(helpers[i]->waitFor(Kind::challenge)) << i;
    }
    ScriptedHelper& ada = *helpers[0];
    bool asked = false;
    rig.prompts.onAlert = [&](const ScriptedPrompts::Question&) -> std::optional<AlertAnswer> {
        asked = true;
        rig.reach(*helpers[32]);
        EXPECT_TRUE(helpers[1]->waitClosed()) << "the oldest challenged helper makes room";
        auto crowded = helpers[1]->received().back();
        EXPECT_EQ(crowded.kind, Kind::declined);
        EXPECT_EQ(crowded.reason, "crowded");
        EXPECT_FALSE(ada.closed());
        return AlertAnswer{0, false};
    };
    ada.prove();
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    EXPECT_TRUE(asked);
    EXPECT_EQ(rig.sentOf(Kind::proven).size(), 1u);
    for (const auto& message : ada.received())
        EXPECT_NE(message.kind, Kind::proven) << "the service keeps it to itself";
}

} // namespace
} // namespace wl::test
