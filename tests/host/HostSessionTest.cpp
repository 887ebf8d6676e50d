// Consent and the live session, against the real service with a scripted helper that
// runs a real peer connection on loopback and decodes the host's synthetic screen.
#include "HostTestKit.h"
#include "PulseServer.h"

#include "host/HostPeer.h"
#include "host/SessionBannerController.h"
#include "host/SharedDisplay.h"
#include "identity/Base64.h"
#include "mail/MyMacs.h"
#include "TestMediaEngine.h"
#include "platform/Log.h"
#include "protocol/Roster.h"

#include <QAbstractButton>

#include <api/video/i420_buffer.h>

#include <cmath>

using namespace std::chrono_literals;

namespace wl::test {
namespace {

using Kind = SignalMessage::Kind;
using Route = HostHandshake::Route;

// Gets a helper admitted with consent: hello, challenge, prove, the given answer.
void admit(HostRig& rig, ScriptedHelper& helper, int button, bool microphone = false)
{
    rig.prompts.answerAlert(button, microphone);
    rig.reach(helper);
    helper.hello();
    ASSERT_TRUE(helper.waitFor(Kind::challenge));
    helper.prove();
}

TEST(HostSessionConsent, TheQuestionAndItsThreeAnswers)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    // An open help request with a picture: any accepted session ends it.
    HelpRequestCenter::Active request;
    request.sent["another helper"] = "request-1";
    request.helperNames = {"Bo"};
    request.sentAt = dateNow();
    request.attachments = 1;
    rig.leaveOpenRequest(request, {{"0 scan.jpg", "scan", "image/jpeg", "bytes"}});
    rig.make();
    ASSERT_TRUE(rig.host->helpRequests().active());
    ASSERT_TRUE(rig.goOnline());

    // Show me.
    admit(rig, ada, 0);
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    ASSERT_EQ(rig.prompts.count(), 1u);
    auto question = rig.prompts.questions()[0];
    EXPECT_EQ(question.title, "Ada wants to help with your Mac");
    EXPECT_EQ(question.informativeText,
              "Show me: Ada sees your screen and points to things. You do the clicking.\nTake over: Ada uses your "
              "mouse and keyboard. Move your mouse any time to take it back.\n\nOnly allow this if you asked Ada for "
              "help or are expecting them.");
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Let Ada show me", "Let Ada take over", "Not now"}));
    EXPECT_EQ(question.checkbox, "Start with my microphone on, so we can talk");
    EXPECT_TRUE(question.floating);
    EXPECT_EQ(rig.host->session().mode(), HelpMode::guide);
    EXPECT_EQ(rig.host->statusLine(), "Ada Lovelace is helping");
    EXPECT_TRUE(rig.historyHas("Ada Lovelace was allowed to guide"));
    EXPECT_TRUE(rig.host->session().banner().isShown());
    EXPECT_EQ(rig.host->session().banner().model.helperFirstName, "Ada");
    EXPECT_NE(rig.host->session().peer(), nullptr);
    EXPECT_FALSE(rig.host->helpRequests().active());
    EXPECT_TRUE(rig.host->helpRequests().activeFiles().empty());
    EXPECT_FALSE(std::filesystem::exists(rig.host->helpRequests().folder()));

    // A hello meanwhile is "busy" (the same binding: the helper tries again). The refusal
    // takes the helper's link away and, with the connection not up yet, the attempt.
    rig.sent.clear();
    ada.hello();
    auto busy = ada.waitFor(Kind::declined);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->reason, "busy");
    EXPECT_EQ(rig.sentOf(Kind::declined).at(0).route, Route::relayChannel);
    ASSERT_TRUE(waitUntil([&] { return ada.closed(); }));
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: Ada ended it"));
    EXPECT_EQ(rig.host->statusLine(), "Online \u00b7 waiting for help requests");

    // Take over.
    admit(rig, ada, 1);
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    EXPECT_EQ(rig.host->session().mode(), HelpMode::control);
    EXPECT_TRUE(rig.historyHas("Ada Lovelace was allowed to take over"));
    EXPECT_TRUE(rig.host->session().banner().ignoresMouseEvents());
    ada.close();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: Ada ended it"));

    // Take over without the permission stays in guide mode, with a notice held for the helper.
    rig.permissions->control = false;
    admit(rig, ada, 1);
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    EXPECT_EQ(rig.host->session().mode(), HelpMode::guide);
    EXPECT_EQ(rig.permissions->controlRequests, 1);
    EXPECT_TRUE(rig.host->session().pendingNotice());
    ada.close();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_FALSE(rig.host->session().pendingNotice());
}

TEST(HostSessionConsent, TheMicrophoneCheckboxStartsTheMicrophone)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    admit(rig, ada, 0, true);
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    ASSERT_TRUE(waitUntil([&] { return rig.host->session().banner().model.microphoneOn; }, 10000));
    EXPECT_TRUE(test::loopbackEngine().microphoneOn(MediaEngine::AudioRole::hosting));
    EXPECT_TRUE(rig.historyHas("Microphone turned on with Ada Lovelace"));

    // The session's end switches it off again, quietly.
    const auto lines = rig.history().size();
    rig.host->endSession(HostController::EndReason::stopped);
    EXPECT_FALSE(test::loopbackEngine().microphoneOn(MediaEngine::AudioRole::hosting));
    EXPECT_EQ(rig.history().size(), lines + 1); // only the end of the session
}

// The answer belongs to the attempt it was asked for.
TEST(HostSessionConsent, AnAnswerIsDroppedWhenItsAttemptEnded)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    // The helper gives up while the question is open.
    rig.prompts.onAlert = [&](const ScriptedPrompts::Question&) -> std::optional<AlertAnswer> {
        ada.close();
        EXPECT_TRUE(waitUntil([&] { return !rig.host->handshake().attempt(); }));
        return AlertAnswer{0, false};
    };
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    ASSERT_TRUE(waitUntil([&] { return rig.prompts.count() == 1 && !rig.prompts.alertOpen(); }));
    ASSERT_TRUE(test::waitForNextTurn()) << "what the answer queued has run";
    EXPECT_TRUE(rig.sentOf(Kind::accepted).empty());
    EXPECT_FALSE(rig.host->helperName());
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_FALSE(rig.host->handshake().askingConsent());

    // Attempt A ends and attempt B (the same helper, a new nonce) begins while the
    // question for A is still open: the answer does not admit B.
    ScriptedHelper again("Ada Lovelace");
    again.key = ada.key;
    rig.prompts.onAlert = [&](const ScriptedPrompts::Question&) -> std::optional<AlertAnswer> {
        ada.close();
        EXPECT_TRUE(waitUntil([&] { return !rig.host->handshake().attempt(); }));
        rig.reach(again);
        again.hello();
        EXPECT_TRUE(again.waitFor(Kind::challenge));
        return AlertAnswer{0, false};
    };
    rig.sent.clear();
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    ASSERT_TRUE(waitUntil([&] { return rig.prompts.count() == 2 && !rig.prompts.alertOpen(); }));
    ASSERT_TRUE(test::waitForNextTurn()) << "what the answer queued has run";
    EXPECT_TRUE(rig.sentOf(Kind::accepted).empty());
    EXPECT_FALSE(rig.host->handshake().busy()) << "B holds nothing until it proves";
    EXPECT_FALSE(rig.host->helperName());

    // B goes on: its own prove asks again.
    rig.prompts.onAlert = nullptr;
    rig.prompts.answerAlert(0);
    again.prove();
    EXPECT_TRUE(again.waitFor(Kind::accepted));
}

// A question on screen holds the time limit off; once answered, the session stands.
TEST(HostSessionConsent, TheTimeLimitWaitsForTheUser)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    rig.make();
    ASSERT_TRUE(rig.goOnline());

    rig.prompts.onAlert = [&](const ScriptedPrompts::Question&) -> std::optional<AlertAnswer> {
        EXPECT_TRUE(rig.timers.fireNext(HostHandshake::kHandshakeTimeLimit));
        EXPECT_TRUE(rig.host->handshake().attempt()) << "the user is still deciding";
        EXPECT_EQ(rig.timers.activeCount(HostHandshake::kHandshakeTimeLimit), 1u);
        return AlertAnswer{0, false};
    };
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    ASSERT_TRUE(ada.waitFor(Kind::accepted));

    // Accepted, but the helper's offer never comes: the connection never stands, and the
    // next check ends the attempt.
    ASSERT_TRUE(rig.timers.fireNext(HostHandshake::kHandshakeTimeLimit));
    EXPECT_FALSE(rig.host->helperName());
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: stopped on this Mac"));
}

// ---- the live session ----

using Rgb = SyntheticScreen::Colour;

// The centre of a decoded frame is the painted colour (full-range BT.601, as the
// capturer converts it).
bool centreIs(const webrtc::VideoFrame& frame, Rgb color)
{
    auto buffer = frame.video_frame_buffer()->ToI420();
    int x = buffer->width() / 2, y = buffer->height() / 2;
    double Y = buffer->DataY()[y * buffer->StrideY() + x];
    double U = buffer->DataU()[(y / 2) * buffer->StrideU() + x / 2];
    double V = buffer->DataV()[(y / 2) * buffer->StrideV() + x / 2];
    double eY = 0.299 * color.r + 0.587 * color.g + 0.114 * color.b;
    double eU = -0.169 * color.r - 0.331 * color.g + 0.5 * color.b + 128;
    double eV = 0.5 * color.r - 0.419 * color.g - 0.081 * color.b + 128;
    return std::abs(Y - eY) < 14 && std::abs(U - eU) < 14 && std::abs(V - eV) < 14;
}

class HostSessionLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.started);
        rig.pair({ada.record()});
    }
    void TearDown() override
    {
        rig.destroy();
        // A peer that said goodbye closes half a second later: let it.
        test::processEventsFor(HostPeer::kGoodbyeDelayMs + 200);
    }

    // Admitted with consent, the helper's peer connected and "guide" open.
    void startLiveSession()
    {
        rig.make();
        ASSERT_TRUE(rig.goOnline());
        admit(rig, ada, 0);
        ASSERT_TRUE(ada.waitFor(Kind::accepted));
        ada.startPeer();
        ASSERT_TRUE(waitUntil([&] { return ada.peerConnected() && ada.guideOpen(); }, 20000));
        ASSERT_TRUE(
            waitUntil([&] { return rig.host->session().peer() && rig.host->session().peer()->hasConnected(); }, 10000));
        // The host's end of "guide" is open too once it has told the session's state.
        ASSERT_TRUE(
            waitUntil([&] { return rig.host->session().peer()->guideChannelOpen() && ada.events().size() >= 3; }));
    }

    HostRig rig;
    ScriptedHelper ada{"Ada Lovelace"};
};

TEST_F(HostSessionLive, TheHelperSeesTheScreenAndTheSessionState)
{
    const Rgb orange{200, 80, 40};
    rig.screen->paint(orange);
    startLiveSession();

    // The answer is signed for this helper's nonce; candidates went both ways.
    EXPECT_TRUE(ada.answerVerified());
    auto answers = rig.sentOf(Kind::answer);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].route, Route::sessionTransport);
    EXPECT_FALSE(rig.sentOf(Kind::candidate).empty());
    EXPECT_GT(ada.localCandidatesSent(), 0);
    EXPECT_TRUE(waitUntil([&] { return ada.remoteCandidatesAdded() > 0; }));

    // On "guide": mode, microphone and displays, in that order.
    ASSERT_TRUE(waitUntil([&] { return ada.events().size() >= 3; }));
    auto events = ada.events();
    EXPECT_EQ(events[0].kind, SessionEvent::Kind::mode);
    EXPECT_EQ(events[0].mode, HelpMode::guide);
    EXPECT_EQ(events[0].active, false);
    EXPECT_EQ(events[1].kind, SessionEvent::Kind::microphone);
    EXPECT_EQ(events[1].active, false);
    EXPECT_EQ(events[2].kind, SessionEvent::Kind::displays);
    ASSERT_TRUE(events[2].displays && !events[2].displays->empty());
    EXPECT_EQ(events[2].displayID, rig.host->session().sharedDisplay().id());
    EXPECT_EQ(events[2].displays->front().width, 1920);
    EXPECT_EQ(events[2].displays->front().height, 1080);

    // The host's screen, decoded on the helper's side.
    ASSERT_TRUE(waitUntil(
        [&] {
            auto frame = ada.frames().last();
            return frame && frame->width() == 1920 && frame->height() == 1080 && centreIs(*frame, orange);
        },
        20000));

    // A prove once the peer exists is ignored: no second question, no refusal (seen once
    // the host has read the bye that comes after it on the same link).
    ada.prove();

    // A bye while the connection stands only tells that the helper's link closed.
    {
        CapturedLog log;
        ada.send(SignalMessage::make(Kind::bye));
        ASSERT_TRUE(waitUntil([&] { return log.contains("the session carries on directly"); }));
        EXPECT_EQ(rig.host->helperName(), "Ada Lovelace");
    }
    EXPECT_EQ(rig.prompts.count(), 1u) << "the prove once the peer exists asked nothing";
    EXPECT_TRUE(rig.sentOf(Kind::declined).empty());

    // A second signed offer changes nothing: no second answer, tracks or capture.
    ASSERT_TRUE(ada.offer);
    ada.send(*ada.offer);
    // The host answers it with nothing, so nothing marks that it has read it: a time for a
    // wrong second answer to come.
    test::processEventsFor(300);
    EXPECT_EQ(rig.sentOf(Kind::answer).size(), 1u);
    EXPECT_EQ(rig.host->helperName(), "Ada Lovelace");

    // The introduction service goes away: the session carries on directly, and the
    // status line still names the helper.
    rig.service.kill9();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->isOnline(); }));
    ASSERT_TRUE(test::waitForNextTurn()) << "what going offline queued has run";
    EXPECT_EQ(rig.host->helperName(), "Ada Lovelace");
    EXPECT_EQ(rig.host->statusLine(), "Ada Lovelace is helping");

    // The helper ends it.
    rig.sent.clear();
    ada.sendEvent(SessionEvent::make(SessionEvent::Kind::end));
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: Ada ended it"));
    auto byes = rig.sentOf(Kind::bye);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].message.reason, "helperLeft");
    EXPECT_EQ(byes[0].route, Route::sessionTransport);
    EXPECT_EQ(rig.host->session().peer(), nullptr);
}

TEST_F(HostSessionLive, ALostConnectionEndsAfterTheGrace)
{
    startLiveSession();
    ada.dropPeer();
    // The host's connection fails; the grace starts.
    ASSERT_TRUE(waitUntil([&] { return rig.timers.activeCount(10s) == 1; }, 60000));
    EXPECT_EQ(rig.host->helperName(), "Ada Lovelace") << "nothing ends before the grace";
    ASSERT_TRUE(rig.timers.fireNext(10s));
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: the connection was lost"));
    auto byes = rig.sentOf(Kind::bye);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].message.reason, "connectionLost");
}

TEST_F(HostSessionLive, RemovingTheHelperFromMyMacsEndsTheSession)
{
    // This machine's roster lists the helper's machine too.
    auto person = rig.identity->personSigningKey();
    ASSERT_TRUE(person);
    MyMacsRoster roster{person->publicKeyBase64(),
                        1,
                        {{rig.hostId(), rig.hostKey(), "This one"}, {ada.id(), ada.key.publicKeyBase64(), ada.name}}};
    rig.defaults->setData(MyMacs::kRosterKey, SignedRoster::sign(roster, *person).encode());
    startLiveSession();

    rig.services->myMacs->remove(ada.record());
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));
    EXPECT_TRUE(rig.historyHas("Session with Ada Lovelace ended: their access was removed"));
    EXPECT_EQ(rig.sentOf(Kind::bye).at(0).message.reason, "accessRemoved");
    EXPECT_TRUE(rig.host->helpers().empty());
    // The goodbye reaches the helper on "guide".
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& event : ada.events())
            if (event.kind == SessionEvent::Kind::end && event.text == std::optional<std::string>("accessRemoved"))
                return true;
        return false;
    }));
}

} // namespace
} // namespace wl::test

namespace wl::test {
namespace {

// The helper's side of the link can carry little: the picture shrinks to a divisor of
// 2 and the frame-rate ceiling drops to its floor, as the statistics say.
TEST_F(HostSessionLive, ALowBitrateShrinksThePictureAndLowersTheFrameRate)
{
    const Rgb teal{30, 140, 150};
    rig.screen->paint(teal);
    startLiveSession();
    HostPeer& peer = *rig.host->session().peer();
    ASSERT_TRUE(waitUntil([&] { return peer.captureSize().has_value(); }));
    ASSERT_EQ(peer.captureSize()->first, 1920);
    ASSERT_TRUE(waitUntil([&] { return ada.frames().count() > 0; }, 10000));
    EXPECT_EQ(ada.frames().last()->width(), 1920);

    CapturedLog log;
    peer.capBitrate(600000);
    auto statsLines = [&] {
        int count = 0;
        for (const auto& line : log.lines())
            count += line.rfind("Wickerlane stats: ", 0) == 0;
        return count;
    };
    // Each reading is one tick of the statistics timer; at most twenty of them.
    for (int reading = 1; reading <= 20 && peer.currentScale() != 2.0; ++reading) {
        ASSERT_TRUE(rig.timers.fireNext(std::chrono::milliseconds(HostPeer::kStatsIntervalMs)));
        ASSERT_TRUE(waitUntil([&] { return statsLines() >= reading; }, 5000));
        // The media runs at the cap for a while between readings, as between the timer's
        // real ticks: the statistics need that time, not an event.
        processEventsFor(300);
    }
    EXPECT_EQ(peer.currentScale(), 2.0);
    // The new parameters reach the sender and the capture.
    EXPECT_TRUE(waitUntil([&] {
        return peer.encodingScale() == 2.0 && peer.encodingMaxFrameRate() == 12 && peer.captureFrameRate() == 12;
    }));
    EXPECT_EQ(peer.currentFrameRate(), 12);
    EXPECT_EQ(peer.encodingScale(), 2.0);
    EXPECT_EQ(peer.encodingMaxFrameRate(), 12);
    EXPECT_EQ(peer.captureFrameRate(), 12) << "the capture follows the ceiling";
    EXPECT_TRUE(log.contains("Wickerlane: frame rate ceiling 60 \u2192 12"));
    EXPECT_TRUE(log.contains("Wickerlane: resolution scale 1.0 \u2192 2.0 (available "));
    EXPECT_TRUE(log.contains("scale=2.0 maxFps=12"));
    // The helper gets the smaller picture.
    EXPECT_TRUE(waitUntil([&] { return ada.frames().last()->width() == 960; }, 10000));
}

// A live session whose host records its microphone from a PulseAudio of the test's own,
// whose input devices the test takes away and brings back.
class HostMicrophone : public HostSessionLive {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pulse.ok());
        rig.engine = &engine;
        HostSessionLive::SetUp();
    }

    // What the helper was last told of the host's microphone.
    std::optional<bool> toldHelper() const { return lastMicrophoneState(ada.events()); }
    std::vector<std::string> recording() const { return pulse.recordingFrom("Wickerlane microphone"); }

    PulseServer pulse;
    MediaEngine engine{soundEngineOptions(pulse.address())};
};

TEST_F(HostMicrophone, ALeftOnMicrophoneStopsWithItsInputDeviceAndComesBackWithIt)
{
    startLiveSession();
    HostSession& session = rig.host->session();
    const SessionBannerModel& banner = session.banner().model;
    session.toggleMicrophoneButton();
    ASSERT_TRUE(waitUntil([&] { return banner.microphoneOn && toldHelper() == true; }, 10000));
    EXPECT_EQ(recording(), std::vector<std::string>{"wl_mic"});

    // The only input device goes (a headset unplugged): PulseAudio falls back to the
    // monitor of an output, which is no microphone. Nothing records, the banner's button
    // shows it off, waiting for an input device, and the helper is told it is off.
    pulse.pactl("unload-module module-null-source");
    ASSERT_TRUE(waitUntil(
        [&] { return !banner.microphoneOn && banner.microphoneAway && toldHelper() == false && recording().empty(); },
        10000))
        << testing::PrintToString(recording());
    ASSERT_TRUE(waitUntil([&] {
        return session.banner().panel() &&
            session.banner().panel()->microphoneButton()->accessibleName() == "Leave your microphone off";
    }));

    // It comes back: the microphone that was left on records from it again by itself.
    pulse.pactl("load-module module-null-source source_name=wl_mic rate=48000 channels=1");
    ASSERT_TRUE(waitUntil(
        [&] {
            return banner.microphoneOn && !banner.microphoneAway && toldHelper() == true &&
                recording() == std::vector<std::string>{"wl_mic"};
        },
        10000))
        << testing::PrintToString(recording());
    EXPECT_TRUE(waitUntil(
        [&] { return session.banner().panel()->microphoneButton()->accessibleName() == "Turn your microphone off"; }));

    // Gone again, a click on the banner's button leaves it off for good.
    pulse.pactl("unload-module module-null-source");
    ASSERT_TRUE(waitUntil([&] { return banner.microphoneAway; }, 10000));
    session.toggleMicrophoneButton();
    ASSERT_TRUE(waitUntil([&] { return !banner.microphoneAway && !banner.microphoneOn; }, 10000));
    EXPECT_TRUE(rig.historyHas("Microphone turned off with Ada Lovelace"));
    EXPECT_FALSE(engine.microphoneLeftOn(MediaEngine::AudioRole::hosting));
    EXPECT_EQ(toldHelper(), false);
}

} // namespace
} // namespace wl::test
