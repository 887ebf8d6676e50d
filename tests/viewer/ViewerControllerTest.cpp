// The helper's controller: the handshake it runs with a host (over a recording
// signalling path, against a host key of the test's own), the session's events and its
// ends, the paired hosts with their presence, groups and remembered sets.
#include "ViewerTestKit.h"

#include "mail/MyMacs.h"
#include "viewer/AttachmentFetcher.h"
#include "viewer/PairedHosts.h"
#include "viewer/RequestAnswers.h"
#include "viewer/ViewerSession.h"
#include "platform/Log.h"
#include "platform/Required.h"
#include "protocol/MailContent.h"
#include "signalling/PeerLink.h"
#include "signalling/WebRTCConfiguration.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using Kind = SignalMessage::Kind;
using Phase = ViewerController::Phase;

class ViewerHandshake : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.pair({host.record(), other.record()});
        rig.make();
    }

    // Connects and answers with a valid challenge.
    void connectAndChallenge(bool unattended, std::optional<std::string> salt = std::nullopt)
    {
        rig.viewer->session().connect(host.record(), unattended);
        rig.transport().deliver(host.challenge(rig.helperNonce(), std::move(salt)));
    }

    SignalMessage declined(const std::string& reason)
    {
        SignalMessage message = SignalMessage::make(Kind::declined);
        message.reason = reason;
        return message;
    }

    ViewerRig rig;
    FakeHost host{"Ada's Mac"};
    FakeHost other{"Grace's Mac"};
};

TEST_F(ViewerHandshake, HelloChallengeAndProve)
{
    rig.viewer->session().connect(host.record(), false);
    EXPECT_EQ(rig.viewer->session().phase(), Phase::waiting("Ada's Mac"));
    EXPECT_TRUE(rig.viewer->isHelping());
    ASSERT_EQ(rig.connectedTo, std::vector<std::string>{host.id()});
    auto hellos = rig.transport().sentOf(Kind::hello);
    ASSERT_EQ(hellos.size(), 1u);
    // An attended hello carries no unattended field at all.
    EXPECT_FALSE(hellos[0].unattended.has_value());
    EXPECT_EQ(hellos[0].publicKey, rig.identity->deviceSigningKey()->publicKeyBase64());
    EXPECT_EQ(base64Decode(*hellos[0].nonce)->size(), 16u);

    // An accepted before any verified challenge is ignored.
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    EXPECT_FALSE(rig.viewer->session().wasAccepted());

    rig.transport().deliver(host.challenge(rig.helperNonce()));
    auto proves = rig.transport().sentOf(Kind::prove);
    ASSERT_EQ(proves.size(), 1u);
    EXPECT_TRUE(verifySignature(proves[0].signature, helperProofMessage(host.id(), host.hostNonce, rig.helperNonce()),
                                rig.identity->deviceSigningKey()->publicKeyBase64()));
    EXPECT_FALSE(proves[0].pinProof.has_value());
    // A second challenge replaces the host nonce and sends a new prove.
    rig.transport().deliver(host.challenge(rig.helperNonce()));
    proves = rig.transport().sentOf(Kind::prove);
    ASSERT_EQ(proves.size(), 2u);
    EXPECT_TRUE(verifySignature(proves[1].signature, helperProofMessage(host.id(), host.hostNonce, rig.helperNonce()),
                                rig.identity->deviceSigningKey()->publicKeyBase64()));

    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    EXPECT_TRUE(rig.viewer->session().wasAccepted());
    EXPECT_EQ(rig.viewer->session().phase(), Phase::connected("Ada's Mac"));
    EXPECT_EQ(rig.viewer->session().connectionInfo(), "Starting");
}

TEST_F(ViewerHandshake, ABadHostProofOrAnswerStopsAtOnce)
{
    rig.viewer->session().connect(host.record(), false);
    SignalMessage forged = other.challenge(rig.helperNonce()); // signed by another key
    rig.transport().deliver(forged);
    EXPECT_EQ(rig.viewer->session().phase(),
              Phase::message("Couldn't confirm this is really Ada's Mac. Nothing was shared."));
    EXPECT_TRUE(rig.transport().sentOf(Kind::prove).empty());
    EXPECT_TRUE(rig.transport().closed);
    EXPECT_FALSE(rig.viewer->session().handshake().has_value());

    connectAndChallenge(false);
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    SignalMessage answer = SignalMessage::make(Kind::answer);
    answer.sdp = "v=0";
    answer.signature = other.key.sign(answerSignatureMessage(rig.helperNonce(), "v=0"));
    rig.transport().deliver(answer);
    EXPECT_EQ(rig.viewer->session().phase(),
              Phase::message("Ada's Mac's connection details couldn't be verified, so the session was stopped."));
}

// A description that fails ends the attempt at once (no timer runs here), as a lost
// connection: the peer link reports an offer its rewrite left unusable, and the helper's
// real peer, whose offer went out through that rewrite, ends on an answer it can't set.
TEST(ViewerPeerFailure, AFailedDescriptionEndsTheAttemptAtOnce)
{
    ViewerRig rig;
    FakeHost host{"Ada's Mac"};
    rig.defaults->setBool("WLLoopbackOnly", true);
    rig.defaults->setStringList("WLSTUNServers", {});

    PeerLink link(test::loopbackEngine().dataFactory(), makeRTCConfiguration(*rig.defaults, {}), {});
    std::optional<std::string> linkError;
    link.setLocalDescription([&](std::optional<std::string> sdp, std::string error) { linkError = sdp ? "" : error; },
                             [](const std::string&) { return std::string("v=0\r\nnot an offer"); });
    ASSERT_TRUE(waitUntil([&] { return linkError.has_value(); }));
    EXPECT_FALSE(linkError->empty());
    link.close();

    rig.pair({host.record()});
    rig.makesPeers = true;
    rig.make();
    rig.viewer->session().connect(host.record(), false);
    rig.transport().deliver(host.challenge(rig.helperNonce()));
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    ASSERT_TRUE(waitUntil([&] { return !rig.transport().sentOf(Kind::offer).empty(); }));
    EXPECT_NE(rig.transport().sentOf(Kind::offer).at(0).sdp.value_or("").find("stereo=1"), std::string::npos);

    const std::string unusable = "v=0\r\n";
    SignalMessage answer = SignalMessage::make(Kind::answer);
    answer.sdp = unusable;
    answer.signature = host.key.sign(answerSignatureMessage(rig.helperNonce(), unusable));
    rig.transport().deliver(answer);
    ASSERT_TRUE(waitUntil([&] { return rig.viewer->session().phase().kind == Phase::Kind::message; }));
    EXPECT_EQ(rig.viewer->session().phase().text.rfind("The connection was lost.", 0), 0u)
        << rig.viewer->session().phase().text;
    EXPECT_TRUE(rig.transport().closed);
}

TEST_F(ViewerHandshake, UnattendedAsksTheOwnerThenThePIN)
{
    const std::string salt = makePINSalt();
    rig.ownerCheck.answer(true);
    rig.prompts.answerText(std::string("246810"));
    connectAndChallenge(true, base64Encode(salt));
    EXPECT_EQ(rig.transport().sentOf(Kind::hello).at(0).unattended, std::optional<bool>(true));
    ASSERT_TRUE(waitUntil([&] { return !rig.transport().sentOf(Kind::prove).empty(); }));
    ASSERT_EQ(rig.ownerCheck.reasons(), std::vector<std::string>{"connect to Ada's Mac without anyone there"});
    auto questions = rig.prompts.questions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title, "PIN for Ada's Mac");
    EXPECT_EQ(questions[0].informativeText, "Enter the PIN set on Ada's Mac for unattended access.");
    const SignalMessage prove = rig.transport().sentOf(Kind::prove).at(0);
    EXPECT_TRUE(checkPINProof(prove.pinProof, derivePINKey("246810", salt), host.hostNonce, rig.helperNonce()));

    // Accepted: the host is remembered as allowing unattended access.
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{host.id()});
    EXPECT_EQ(rig.storedSet(PairedHosts::kKnownUnattendedKey), std::set<std::string>{host.id()});
}

TEST_F(ViewerHandshake, UnattendedWithoutSaltAsksNoPIN)
{
    rig.ownerCheck.answer(true);
    connectAndChallenge(true);
    ASSERT_TRUE(waitUntil([&] { return !rig.transport().sentOf(Kind::prove).empty(); }));
    EXPECT_EQ(rig.prompts.count(), 0u);
    EXPECT_FALSE(rig.transport().sentOf(Kind::prove).at(0).pinProof.has_value());
}

TEST_F(ViewerHandshake, RefusedOwnerCheckOrCancelledPINLeavesQuietly)
{
    rig.ownerCheck.answer(false);
    connectAndChallenge(true, base64Encode(makePINSalt()));
    ASSERT_TRUE(waitUntil([&] { return rig.viewer->session().phase() == Phase::browsing(); }));
    auto byes = rig.transport().sentOf(Kind::bye);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].reason, "helperLeft");
    EXPECT_TRUE(rig.transport().sentOf(Kind::prove).empty());

    rig.ownerCheck.answer(true);
    rig.prompts.answerText(std::nullopt); // Cancel at the PIN
    connectAndChallenge(true, base64Encode(makePINSalt()));
    ASSERT_TRUE(waitUntil([&] { return rig.viewer->session().phase() == Phase::browsing(); }));
    EXPECT_EQ(rig.transport().sentOf(Kind::bye).size(), 1u);
    EXPECT_TRUE(rig.transport().sentOf(Kind::prove).empty());
}

TEST_F(ViewerHandshake, AnOwnerAnswerForAnEndedAttemptChangesNothing)
{
    rig.ownerCheck.answer(true);
    connectAndChallenge(true);
    auto& first = rig.transport();
    rig.viewer->session().end(); // before the owner check answers
    ASSERT_TRUE(waitForNextTurn()) << "the owner check has answered";
    EXPECT_TRUE(first.sentOf(Kind::prove).empty());
    EXPECT_EQ(rig.viewer->session().phase(), Phase::browsing());
}

// An unattended attempt forgets that the host allows unattended access only when the
// host says it doesn't (or no longer knows this helper), never on a busy host, a wrong
// PIN, a refusal of another kind or a lost link.
TEST_F(ViewerHandshake, UnattendedRefusalsForgetOnlyForAccessReasons)
{
    for (const std::string reason : {"notUnattended", "lockedOut", "notPaired"}) {
        rig.viewer->hosts().setKnownUnattended({host.id()});
        rig.viewer->session().connect(host.record(), true);
        rig.transport().deliver(declined(reason));
        EXPECT_TRUE(rig.viewer->hosts().knownUnattended().empty()) << reason;
        EXPECT_TRUE(rig.storedSet(PairedHosts::kKnownUnattendedKey).empty()) << reason;
    }
    for (const std::string reason : {"busy", "wrongPin", "notNow", "notVerified", ""}) {
        rig.viewer->hosts().setKnownUnattended({host.id()});
        rig.viewer->session().connect(host.record(), true);
        SignalMessage message = declined(reason);
        if (reason.empty())
            message.reason.reset();
        rig.transport().deliver(message);
        EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{host.id()}) << reason;
    }
    rig.viewer->session().connect(host.record(), true);
    rig.transport().dropLink();
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{host.id()});
    EXPECT_EQ(rig.viewer->session().phase(),
              Phase::message("Couldn't reach Ada's Mac. It may be offline or already in a session."));
    // An attended attempt's refusal never touches the set.
    rig.viewer->session().connect(host.record(), false);
    rig.transport().deliver(declined("notUnattended"));
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{host.id()});
}

TEST_F(ViewerHandshake, RefusalAndGoodbyeTexts)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"notPaired", "Ada's Mac doesn't recognize this Mac anymore. Pair again with a new code."},
        {"busy", "Ada's Mac is already in a session."},
        {"crowded", "Ada's Mac is getting too many connection attempts right now. Try again in a moment."},
        {"notVerified", "Ada's Mac couldn't verify this Mac, so it said no."},
        {"wrongPin",
         "That PIN wasn't right. After 5 wrong PINs, unattended access locks until it's turned back on at Ada's Mac."},
        {"lockedOut",
         "Unattended access to Ada's Mac is locked after too many wrong PINs. It has to be turned back on "
         "at Ada's Mac, with its administrator password."},
        {"notNow", "Ada's Mac said not now."},
        {"noAttachments", "Ada's Mac said not now."},
    };
    for (const auto& [reason, text] : cases) {
        rig.viewer->session().connect(host.record(), false);
        rig.transport().deliver(declined(reason));
        EXPECT_EQ(rig.viewer->session().phase(), Phase::message(text)) << reason;
    }
    // The service closed the link for too many attempts (4429) before the host let us in.
    rig.viewer->session().connect(host.record(), false);
    rig.transport().dropLink(4429);
    EXPECT_EQ(rig.viewer->session().phase(),
              Phase::message("Too many connection attempts to Ada's Mac right now. Try again in a minute."));
    // Any bye before acceptance is "said not now"; after, it names the end.
    rig.viewer->session().connect(host.record(), false);
    SignalMessage bye = SignalMessage::make(Kind::bye);
    bye.reason = "accessRemoved";
    rig.transport().deliver(bye);
    EXPECT_EQ(rig.viewer->session().phase(), Phase::message("Ada's Mac said not now."));
    connectAndChallenge(false);
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    rig.transport().deliver(bye);
    EXPECT_EQ(rig.viewer->session().phase(), Phase::message("Ada's Mac removed you as a helper."));
    // After acceptance, a link lost without a standing connection ends the session.
    connectAndChallenge(false);
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    rig.transport().dropLink();
    EXPECT_EQ(rig.viewer->session().phase(), Phase::message("The connection to Ada's Mac was lost."));
}

// Connecting again first closes the earlier link without it reporting back: the new
// attempt is not ended by the old link's close.
TEST_F(ViewerHandshake, ConnectTearsDownTheEarlierLinkQuietly)
{
    rig.viewer->session().connect(host.record(), false);
    auto first = rig.transports.back();
    rig.viewer->session().connect(other.record(), false);
    EXPECT_TRUE(first->closed);
    EXPECT_FALSE(first->onClose);
    EXPECT_FALSE(first->onMessage);
    EXPECT_EQ(rig.viewer->session().phase(), Phase::waiting("Grace's Mac"));
    // A late message on the old link reaches nobody.
    first->deliver(declined("busy"));
    EXPECT_EQ(rig.viewer->session().phase(), Phase::waiting("Grace's Mac"));
    ASSERT_EQ(rig.viewer->session().transport(), rig.transports.back().get());
}

TEST_F(ViewerHandshake, ConnectWhileBeingHelpedOnlyShowsTheMessage)
{
    rig.beingHelped = true;
    rig.viewer->session().connect(host.record(), false);
    EXPECT_EQ(rig.viewer->session().phase(),
              Phase::message("Someone is helping on this Mac right now. Try again when that session has ended."));
    EXPECT_TRUE(rig.transports.empty());
}

TEST_F(ViewerHandshake, EndSendsByeAndReturnsToTheList)
{
    connectAndChallenge(false);
    auto& link = rig.transport();
    rig.viewer->session().end();
    ASSERT_EQ(link.sentOf(Kind::bye).size(), 1u);
    EXPECT_EQ(link.sentOf(Kind::bye)[0].reason, "helperLeft");
    EXPECT_TRUE(link.closed);
    EXPECT_EQ(rig.viewer->session().phase(), Phase::browsing());
    EXPECT_FALSE(rig.viewer->isHelping());
}

TEST_F(ViewerHandshake, SessionEventsDriveThePublishedState)
{
    connectAndChallenge(false);
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    ViewerController& v = *rig.viewer;
    auto event = [](SessionEvent::Kind kind) { return SessionEvent::make(kind); };

    SessionEvent notice = event(SessionEvent::Kind::notice);
    notice.text = "first";
    v.session().handleEvent(notice);
    EXPECT_EQ(v.session().notice(), "first");
    // The same mode again keeps the notice; a mode event without a mode clears it.
    SessionEvent guide = event(SessionEvent::Kind::mode);
    guide.mode = HelpMode::guide;
    v.session().handleEvent(guide);
    EXPECT_EQ(v.session().notice(), "first");

    SessionEvent control = event(SessionEvent::Kind::mode);
    control.mode = HelpMode::control;
    v.session().handleEvent(control);
    EXPECT_EQ(v.session().mode(), HelpMode::control);
    EXPECT_FALSE(v.session().notice());
    SessionEvent activity = event(SessionEvent::Kind::localActivity);
    activity.active = true;
    v.session().handleEvent(activity);
    SessionEvent cursor = event(SessionEvent::Kind::cursor);
    cursor.cursorShape = CursorShape{"cG5n", 16, 16, 1, 1, 1280};
    v.session().handleEvent(cursor);
    EXPECT_TRUE(v.session().theyHaveTheMouse());
    // Back to guide: the cursor and the local activity go; clicks follow `active`.
    SessionEvent back = event(SessionEvent::Kind::mode);
    back.active = true;
    v.session().handleEvent(back);
    EXPECT_EQ(v.session().mode(), HelpMode::guide);
    EXPECT_FALSE(v.session().remoteCursor());
    EXPECT_FALSE(v.session().theyHaveTheMouse());
    EXPECT_TRUE(v.session().clicksGoThrough());

    // Two notices: the first one's timer leaves the second alone.
    v.session().handleEvent(notice);
    SessionEvent second = notice;
    second.text = "second";
    v.session().handleEvent(second);
    while (rig.timers.activeCount(ViewerSession::kNoticeLifetime) > 1) {
        ASSERT_TRUE(rig.timers.fireNext(ViewerSession::kNoticeLifetime));
        EXPECT_EQ(v.session().notice(), "second");
    }
    ASSERT_TRUE(rig.timers.fireNext(ViewerSession::kNoticeLifetime));
    EXPECT_FALSE(v.session().notice());

    SessionEvent displays = event(SessionEvent::Kind::displays);
    displays.displays = std::vector<DisplayInfo>{{1, "Left", 1920, 1080}, {2, "Right", 1280, 720}};
    displays.displayID = 2;
    v.session().handleEvent(displays);
    EXPECT_EQ(v.session().displays().size(), 2u);
    EXPECT_EQ(v.session().sharedDisplayID(), std::optional<std::uint32_t>(2));
    SessionEvent microphone = event(SessionEvent::Kind::microphone);
    microphone.active = true;
    v.session().handleEvent(microphone);
    EXPECT_TRUE(v.session().theirMicrophoneOn());

    // The host's goodbye ends the session with its reason.
    SessionEvent end = event(SessionEvent::Kind::end);
    end.text = "connectionLost";
    v.session().handleEvent(end);
    EXPECT_EQ(v.session().phase(), Phase::message("The connection to Ada's Mac was lost."));
    EXPECT_TRUE(v.session().displays().empty());
    EXPECT_FALSE(v.session().theirMicrophoneOn());
    EXPECT_TRUE(v.session().connectionInfo().empty());
    // After the handshake is gone the host is "They".
    end.text = "stopped";
    v.session().handleEvent(end);
    EXPECT_EQ(v.session().phase(), Phase::message("They ended the session."));
}

TEST_F(ViewerHandshake, AcceptanceResolvesTheHostsOpenHelpRequests)
{
    connectAndChallenge(false);
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    // No open requests: nothing resolved, and the set stays as stored.
    EXPECT_TRUE(rig.viewer->answers().resolvedRequests().empty());
}

// ---- paired hosts ----

class ViewerDevices : public ::testing::Test {
protected:
    ViewerRig rig;
    FakeHost ada{"Ada's Mac"};
    FakeHost bob{"bob's Mac"};
    FakeHost big{"Bob's Mac"};
};

TEST_F(ViewerDevices, SoundSwitchStartsFromItsSetting)
{
    rig.make();
    EXPECT_TRUE(rig.viewer->session().soundOn()); // nothing stored
    rig.destroy();
    rig.defaults->setBool(ViewerSession::kSoundOnKey, false);
    rig.make();
    EXPECT_FALSE(rig.viewer->session().soundOn());
    rig.destroy();
    rig.defaults->setString(ViewerSession::kSoundOnKey, "loud");
    rig.make();
    EXPECT_TRUE(rig.viewer->session().soundOn());
    rig.viewer->session().setSoundOn();
    EXPECT_FALSE(rig.viewer->session().soundOn());
    EXPECT_FALSE(rig.defaults->boolValue(ViewerSession::kSoundOnKey));
}

// Cancel in "Whose is <name>?" keeps the person; only a confirmed empty answer clears it.
TEST_F(ViewerDevices, WhoseIsCancelKeepsThePersonAndAConfirmedEmptyAnswerClearsIt)
{
    rig.pair({ada.record()});
    rig.make();
    rig.prompts.answerText(std::string("  Ada Lovelace \n"));
    rig.viewer->hosts().setPerson(ada.record());
    ASSERT_EQ(rig.prompts.questions().at(0).title, "Whose is Ada's Mac?");
    EXPECT_EQ(rig.prompts.questions().at(0).informativeText, "Devices with the same person show together.");
    EXPECT_EQ(rig.viewer->hosts().devices()[0].person, "Ada Lovelace");

    rig.prompts.answerText(std::nullopt); // Cancel
    rig.viewer->hosts().setPerson(ada.record());
    EXPECT_EQ(rig.prompts.questions().at(1).initialText, "Ada Lovelace");
    EXPECT_EQ(rig.viewer->hosts().devices()[0].person, "Ada Lovelace");
    EXPECT_EQ(PairedDeviceStore(*rig.defaults, "WLPairedHosts").load()[0].person, "Ada Lovelace");

    rig.prompts.answerText(std::string("   ")); // confirmed, empty
    rig.viewer->hosts().setPerson(ada.record());
    EXPECT_FALSE(rig.viewer->hosts().devices()[0].person);
    EXPECT_FALSE(PairedDeviceStore(*rig.defaults, "WLPairedHosts").load()[0].person);

    // A device no longer paired is not asked about.
    rig.viewer->hosts().setPerson(bob.record());
    EXPECT_EQ(rig.prompts.count(), 3u);
}

// Removing a device also drops it from the online watch and the unattended set.
TEST_F(ViewerDevices, RemovingADeviceDropsItsWatchAndUnattendedEntry)
{
    rig.pair({ada.record(), bob.record()});
    rig.make();
    rig.viewer->hosts().setNotifyWhenOnline({ada.id(), bob.id()});
    rig.viewer->hosts().setKnownUnattended({ada.id(), bob.id()});
    rig.viewer->hosts().removeDevice(ada.record());
    ASSERT_EQ(rig.viewer->hosts().devices().size(), 1u);
    EXPECT_EQ(rig.viewer->hosts().notifyWhenOnline(), std::set<std::string>{bob.id()});
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{bob.id()});
    EXPECT_EQ(rig.storedSet(PairedHosts::kNotifyWhenOnlineKey), std::set<std::string>{bob.id()});
    EXPECT_EQ(rig.storedSet(PairedHosts::kKnownUnattendedKey), std::set<std::string>{bob.id()});
    EXPECT_EQ(PairedDeviceStore(*rig.defaults, "WLPairedHosts").load().size(), 1u);
    // A late presence answer for it finds no watch and posts nothing.
    rig.viewer->hosts().setOnline(true, ada.record());
    EXPECT_TRUE(rig.notifier.posted.empty());
}

TEST_F(ViewerDevices, PresenceAnnouncesAWatchedMacOnce)
{
    rig.pair({ada.record(), bob.record()});
    rig.make();
    // Asked at once, then every 10 seconds.
    EXPECT_EQ(rig.presenceAsked.size(), 2u);
    ASSERT_TRUE(rig.timers.fireNext(PairedHosts::kPresenceInterval));
    EXPECT_EQ(rig.presenceAsked.size(), 4u);
    rig.viewer->hosts().toggleNotifyWhenOnline(ada.record());
    EXPECT_EQ(rig.storedSet(PairedHosts::kNotifyWhenOnlineKey), std::set<std::string>{ada.id()});
    for (auto& presence : rig.pendingPresence)
        presence.answer(true);
    for (auto& presence : rig.pendingPresence)
        presence.answer(true);
    ASSERT_EQ(rig.notifier.posted.size(), 1u);
    EXPECT_EQ(rig.notifier.posted[0].title, "Ada's Mac is online");
    EXPECT_EQ(rig.notifier.posted[0].body, "You can help now.");
    EXPECT_EQ(rig.notifier.posted[0].identifier, "online-" + ada.id());
    EXPECT_TRUE(rig.viewer->hosts().notifyWhenOnline().empty());
    EXPECT_EQ(rig.viewer->hosts().onlineIDs(), (std::set<std::string>{ada.id(), bob.id()}));
    rig.pendingPresence[0].answer(false);
    EXPECT_EQ(rig.viewer->hosts().onlineIDs().count(ada.id()), 0u);
}

TEST_F(ViewerDevices, GroupsAndTheirOrder)
{
    PairedDevice a = ada.record();
    a.person = "alice";
    PairedDevice b1 = bob.record(); // "bob's Mac"
    b1.person = "Bob";
    PairedDevice b2 = big.record(); // "Bob's Mac"
    b2.person = "Bob";
    rig.pair({b1, a, b2});
    rig.make();
    auto groups = rig.viewer->hosts().groupDevices();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].first, "alice");
    EXPECT_EQ(groups[1].first, "Bob");
    ASSERT_EQ(groups[1].second.size(), 2u);
    EXPECT_EQ(groups[1].second[0].name, "Bob's Mac"); // capital B first
    EXPECT_EQ(groups[1].second[1].name, "bob's Mac");
}

TEST_F(ViewerDevices, AccessNoticesAndRosterMerge)
{
    rig.pair({ada.record()});
    rig.make();
    MailContent access;
    access.kind = MailContent::Kind::access;
    access.unattended = true;
    rig.viewer->hosts().handleAccessNotice(access, ada.record());
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{ada.id()});
    rig.viewer->hosts().handleAccessNotice(access, bob.record()); // not a paired host
    EXPECT_EQ(rig.viewer->hosts().knownUnattended(), std::set<std::string>{ada.id()});
    access.unattended.reset();
    rig.viewer->hosts().handleAccessNotice(access, ada.record());
    EXPECT_TRUE(rig.viewer->hosts().knownUnattended().empty());

    // The roster adds a Mac and removes one; a roster Mac already paired keeps its record.
    PairedDevice renamed = ada.record();
    renamed.name = "Roster name";
    const auto asked = rig.presenceAsked.size();
    rig.viewer->hosts().myMacsRosterChanged({renamed, bob.record()}, {});
    ASSERT_EQ(rig.viewer->hosts().devices().size(), 2u);
    EXPECT_EQ(rig.viewer->hosts().devices()[0].name, "Ada's Mac");
    EXPECT_GT(rig.presenceAsked.size(), asked);
    const auto askedAfter = rig.presenceAsked.size();
    rig.viewer->hosts().myMacsRosterChanged({bob.record()}, {});
    EXPECT_EQ(rig.presenceAsked.size(), askedAfter); // nothing changed, nothing asked
    rig.viewer->hosts().myMacsRosterChanged({}, {ada.id()});
    ASSERT_EQ(rig.viewer->hosts().devices().size(), 1u);
    EXPECT_EQ(rig.viewer->hosts().devices()[0].id, bob.id());
}

// ---- wiring ----

// What the controller needs comes from its owner; a wiring mistake shows where it is made
// instead of as time-outs that never come, questions nobody sees, a key nobody paired or
// paired hosts forgotten at the next start.
TEST(ViewerWiring, AControllerMadeWithoutWhatItNeedsFailsAtOnce)
{
    const std::vector<std::pair<std::string, std::function<void(ViewerController::Options&)>>> mistakes = {
        {"a settings store", [](ViewerController::Options& options) { options.platform.defaults = nullptr; }},
        {"timers", [](ViewerController::Options& options) { options.platform.timers = nullptr; }},
        {"prompts", [](ViewerController::Options& options) { options.platform.prompts = nullptr; }},
        {"a notifier", [](ViewerController::Options& options) { options.platform.notifier = nullptr; }},
        {"an owner check", [](ViewerController::Options& options) { options.platform.ownerCheck = nullptr; }},
        {"an identity", [](ViewerController::Options& options) { options.identity = nullptr; }},
    };
    for (const auto& [missing, mistake] : mistakes) {
        SCOPED_TRACE(missing);
        ViewerRig rig;
        rig.rewire = mistake;
        CapturedLog log;
        EXPECT_THROW(rig.make(), WiringMistake);
        EXPECT_EQ(rig.viewer, nullptr);
        EXPECT_TRUE(log.contains("Wickerlane: ViewerController was made without " + missing));
    }

    // Its parts, made by another owner that forgot the settings, say so as well.
    ViewerRig rig;
    rig.make();
    const TimerFactory timers = rig.timers.factory();
    MediaEngine& engine = test::loopbackEngine();
    const std::vector<std::pair<std::string, std::function<void()>>> parts = {
        {"PairedHosts",
         [&] {
             std::make_unique<PairedHosts>(
                 *rig.services->myMacs,
                 PairedHosts::Options{
                     .timers = timers, .prompts = &rig.prompts, .notifier = &rig.notifier, .identity = rig.identity});
         }},
        {"RequestAnswers",
         [&] {
             std::make_unique<RequestAnswers>(
                 *rig.services->messenger, *rig.services->passwords, rig.viewer->hosts(), engine,
                 RequestAnswers::Options{.timers = timers, .prompts = &rig.prompts, .identity = rig.identity});
         }},
        {"ViewerSession",
         [&] {
             std::make_unique<ViewerSession>(
                 ViewerSession::Parts{*rig.services, *rig.services->messenger, rig.viewer->hosts(),
                                      rig.viewer->answers(), engine, rig.identity},
                 ViewerSession::Options{.timers = timers, .prompts = &rig.prompts, .ownerCheck = &rig.ownerCheck});
         }},
        {"AttachmentFetcher",
         [&] {
             std::make_unique<AttachmentFetcher>(
                 engine, PairedDevice{}, "request", "nonce",
                 AttachmentFetcher::Options{.timers = timers, .identity = rig.identity});
         }},
    };
    for (const auto& [part, make] : parts) {
        CapturedLog log;
        EXPECT_THROW(make(), WiringMistake) << part;
        EXPECT_TRUE(log.contains("Wickerlane: " + part + " was made without a settings store")) << part;
    }

    // The answers do not wait for their first fetch to find the identity it proves missing.
    CapturedLog log;
    EXPECT_THROW(std::make_unique<RequestAnswers>(
                     *rig.services->messenger, *rig.services->passwords, rig.viewer->hosts(), engine,
                     RequestAnswers::Options{
                         .timers = timers, .defaults = rig.defaults, .info = rig.info, .prompts = &rig.prompts}),
                 WiringMistake);
    EXPECT_TRUE(log.contains("Wickerlane: RequestAnswers was made without an identity"));
}

} // namespace
} // namespace wl::test
