// The helper's microphone in a live session: the real controller and main window over a
// PulseAudio of the test's own, whose input devices the test takes away and brings back,
// and a host played by a peer connection of the test's own on 127.0.0.1 that reads what
// the helper tells it on "guide".
#include "PulseServer.h"
#include "ViewerTestKit.h"

#include "TestMediaEngine.h"
#include "signalling/PeerLink.h"
#include "signalling/WebRTCConfiguration.h"
#include "viewer/ViewerPeer.h"
#include "viewer/ViewerRootView.h"
#include "viewer/ViewerSession.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using Kind = SignalMessage::Kind;

class ViewerMicrophone : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pulse.ok());
        rig.defaults->setBool("WLLoopbackOnly", true);
        rig.defaults->setStringList("WLSTUNServers", {});
        rig.pair({host.record()});
        rig.makesPeers = true;
        rig.engine = &engine;
        rig.make();
    }
    void TearDown() override
    {
        if (hostLink)
            hostLink->close();
        rig.destroy();
    }

    // Connects and answers the helper's offer as the host does; true once "guide" is
    // open at both ends.
    bool startSession()
    {
        rig.viewer->session().connect(host.record(), false);
        rig.transport().deliver(host.challenge(rig.helperNonce()));
        rig.transport().deliver(SignalMessage::make(Kind::accepted));
        if (!waitUntil([&] { return !rig.transport().sentOf(Kind::offer).empty(); }))
            return false;
        PeerLink::Events events;
        events.localCandidate = [this](const SignalMessage& candidate) { rig.transport().deliver(candidate); };
        events.dataChannel = [this](std::shared_ptr<DataChannelLink> channel) {
            guide = channel;
            channel->events.message = [this](const std::string& bytes, bool) {
                if (auto event = SessionEvent::decode(bytes))
                    told.push_back(*event);
            };
        };
        hostLink = std::make_unique<PeerLink>(engine.dataFactory(), makeRTCConfiguration(*rig.defaults, {}), events);
        std::optional<std::string> remoteSet;
        hostLink->setRemoteDescription(webrtc::SdpType::kOffer,
                                       rig.transport().sentOf(Kind::offer).at(0).sdp.value_or(""),
                                       [&](std::string error) { remoteSet = error; });
        if (!waitUntil([&] { return remoteSet.has_value(); }) || !remoteSet->empty())
            return false;
        std::optional<std::string> answer;
        hostLink->setLocalDescription([&](std::optional<std::string> sdp, std::string) { answer = sdp.value_or(""); });
        if (!waitUntil([&] { return answer.has_value(); }) || answer->empty())
            return false;
        SignalMessage message = SignalMessage::make(Kind::answer);
        message.sdp = *answer;
        message.signature = host.key.sign(answerSignatureMessage(rig.helperNonce(), *answer));
        rig.transport().deliver(message);
        std::size_t given = 0;
        return waitUntil(
            [&] {
                const auto candidates = rig.transport().sentOf(Kind::candidate);
                for (; given < candidates.size(); ++given)
                    hostLink->addRemoteCandidate(candidates[given]);
                ViewerPeer* peer = rig.viewer->session().peer();
                return guide && guide->isOpen() && peer && peer->guideOpen();
            },
            20000);
    }

    // What the host was last told of the helper's microphone.
    std::optional<bool> toldHost() const { return lastMicrophoneState(told); }
    std::vector<std::string> recording() const { return pulse.recordingFrom("Wickerlane microphone"); }

    PulseServer pulse;
    MediaEngine engine{soundEngineOptions(pulse.address())};
    ViewerRig rig;
    FakeHost host{"Ada's Mac"};
    std::unique_ptr<PeerLink> hostLink;
    std::shared_ptr<DataChannelLink> guide;
    std::vector<SessionEvent> told;
};

TEST_F(ViewerMicrophone, ALeftOnMicrophoneStopsWithItsInputDeviceAndComesBackWithIt)
{
    ASSERT_TRUE(startSession());
    ViewerSession& session = rig.viewer->session();
    ViewerRootView view(*rig.viewer, new QWidget);
    view.microphoneButton();
    ASSERT_TRUE(waitUntil([&] { return session.microphoneOn() && toldHost() == true; }, 10000));
    EXPECT_EQ(view.microphoneText(), "Mic on");
    EXPECT_TRUE(session.peer()->voiceEnabled());
    EXPECT_EQ(recording(), std::vector<std::string>{"wl_mic"});

    // The only input device goes (a headset unplugged): PulseAudio falls back to the
    // monitor of an output, which is no microphone. Nothing records, the button says so,
    // and the host is told the microphone is off.
    pulse.pactl("unload-module module-null-source");
    ASSERT_TRUE(waitUntil(
        [&] {
            return !session.microphoneOn() && session.microphoneAway() && toldHost() == false && recording().empty();
        },
        10000))
        << testing::PrintToString(recording());
    EXPECT_EQ(view.microphoneText(), "No mic");
    EXPECT_FALSE(session.peer()->voiceEnabled());

    // It comes back: the microphone the helper left on records from it again by itself.
    pulse.pactl("load-module module-null-source source_name=wl_mic rate=48000 channels=1");
    ASSERT_TRUE(waitUntil(
        [&] {
            return session.microphoneOn() && !session.microphoneAway() && toldHost() == true &&
                recording() == std::vector<std::string>{"wl_mic"};
        },
        10000))
        << testing::PrintToString(recording());
    EXPECT_EQ(view.microphoneText(), "Mic on");
    EXPECT_TRUE(session.peer()->voiceEnabled());

    // Gone again when the session ends: the end switches it off for good, and an input
    // device that comes back afterwards starts nothing.
    pulse.pactl("unload-module module-null-source");
    ASSERT_TRUE(waitUntil([&] { return session.microphoneAway(); }, 10000));
    session.end();
    EXPECT_FALSE(engine.microphoneLeftOn(MediaEngine::AudioRole::helping));
    pulse.pactl("load-module module-null-source source_name=wl_mic rate=48000 channels=1");
    ASSERT_TRUE(waitUntil([&] { return pulse.pactl("get-default-source") == "wl_mic"; }));
    processEventsFor(1000); // a time for a wrong start to come
    EXPECT_TRUE(recording().empty()) << testing::PrintToString(recording());
}

} // namespace
} // namespace wl::test
