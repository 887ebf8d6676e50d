// The host against people who connect without being the helper they claim, through the
// real service and a running host program: strangers who bind after the helper's link
// closed, links that never say anything, impostors with a paired helper's public key but
// not its private key, a helper who says hello twice, and a helper's person who takes
// their time over the password and the PIN.
#include "TwoPrograms.h"
#include "WaitUntil.h"

#include "identity/Base64.h"
#include "identity/Random.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

namespace wl::test {
namespace {

// A connector that is not the helper it may claim to be: it speaks the signalling
// messages of its kind from the test process.
class Stranger {
public:
    enum class Kind {
        silent, // binds and says nothing
        impostor, // says hello with the helper's public key, then is quiet
        badProver, // says hello, answers the challenge with a forged proof, and comes again
    };

    Stranger(const ServiceProcess& service, std::string hostId, std::string helperKey, Kind kind)
        : url_(QString::fromStdString(service.wsUrl() + "/v1/connect/" + hostId)), helperKey_(std::move(helperKey)),
          kind_(kind)
    {
        connect();
    }

    void send(const SignalMessage& message) const { link_->send(message); }
    const std::vector<SignalMessage>& received() const { return received_; }
    int challenges() const { return challenges_; }

    void hello() const
    {
        SignalMessage hello = SignalMessage::make(SignalMessage::Kind::hello);
        hello.publicKey = helperKey_;
        hello.nonce = base64Encode(randomBytes(16));
        hello.name = "Not the helper";
        send(hello);
    }

private:
    void connect()
    {
        link_ = WebSocketSignalChannel::make(url_);
        link_->onOpen = [this] {
            if (kind_ != Kind::silent)
                hello();
        };
        link_->onMessage = [this](const SignalMessage& message) {
            received_.push_back(message);
            if (message.kind != SignalMessage::Kind::challenge)
                return;
            ++challenges_;
            if (kind_ == Kind::badProver) {
                SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
                prove.signature = base64Encode(randomBytes(64));
                send(prove);
            }
        };
        link_->onClose = [this] {
            // Sent away: back again at once, as long as the test runs.
            if (kind_ != Kind::silent)
                QTimer::singleShot(50, &context_, [this] { connect(); });
        };
        link_->open();
    }

    QObject context_;
    QUrl url_;
    std::string helperKey_;
    Kind kind_;
    std::shared_ptr<WebSocketSignalChannel> link_;
    std::vector<SignalMessage> received_;
    int challenges_ = 0;
};

class ProgramHostilePeer : public TwoPrograms {
protected:
    std::string helperPublicKey() { return host->state()["host"]["helpers"][0].value("publicKey", ""); }

    // Whether the host asks its person about the helper within the time, the test's own
    // connectors served meanwhile.
    bool consentAskedWithin(int milliseconds, std::size_t questionsBefore)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            const json questions = host->command({{"cmd", "questions"}})["questions"];
            for (std::size_t i = questionsBefore; i < questions.size(); ++i)
                if (questions[i].value("title", "").find(" wants to help with your Mac") != std::string::npos)
                    return true;
            processEventsFor(50);
        }
        return false;
    }

    std::size_t questionCount() { return host->command({{"cmd", "questions"}})["questions"].size(); }

    void endAndWaitIdle()
    {
        helper->command({{"cmd", "end"}});
        ASSERT_TRUE(host->waitFor([](const json& s) { return !s["host"].value("inSession", true); }));
        ASSERT_TRUE(helper->waitFor([](const json& s) { return phaseOf(s) == "browsing"; }));
    }
};

// After the helper's link to the service closed, whoever binds next is someone else:
// their hello is refused "busy", and their offer and candidates never reach the session.
TEST_F(ProgramHostilePeer, AStrangerAfterTheHelpersLinkClosedLeavesTheLiveSessionAlone)
{
    ASSERT_NO_FATAL_FAILURE(pair());
    host->command({{"cmd", "hideWindow"}});
    host->command({{"cmd", "answerAlert"}, {"button", 0}, {"checked", false}});
    ASSERT_TRUE(
        helper->command({{"cmd", "connect"}, {"id", host->deviceId()}, {"unattended", false}}).value("ok", false));
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 3); }, 30000)) << helper->state().dump();

    ASSERT_TRUE(helper->command({{"cmd", "dropSignalling"}}).value("ok", false));
    ASSERT_TRUE(
        waitUntil([&] { return host->log().find("the session carries on directly") != std::string::npos; }, 10000))
        << host->log();

    Stranger stranger(service, host->deviceId(), helperPublicKey(), Stranger::Kind::silent);
    ASSERT_TRUE(waitUntil([&] { return !stranger.received().empty(); }, 10000)); // the service's iceServers
    SignalMessage offer = SignalMessage::make(SignalMessage::Kind::offer);
    offer.sdp = "v=0\r\n";
    offer.signature = base64Encode(randomBytes(64));
    stranger.send(offer);
    SignalMessage candidate = SignalMessage::make(SignalMessage::Kind::candidate);
    candidate.sdp = "candidate:1 1 udp 2122260223 127.0.0.1 9 typ host";
    candidate.sdpMid = "0";
    candidate.sdpMLineIndex = 0;
    stranger.send(candidate);
    stranger.hello();
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& message : stranger.received())
                if (message.kind == SignalMessage::Kind::declined)
                    return message.reason == std::optional<std::string>("busy");
            return false;
        },
        10000));

    // The session goes on: still in session, and new pictures keep coming.
    const long long before = helper->state()["viewer"].value("framesShown", 0LL);
    host->command({{"cmd", "answerAlert"}, {"button", 0}});
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, before + 3); }, 15000))
        << helper->state().dump();
    EXPECT_TRUE(host->state()["host"].value("inSession", false));
    EXPECT_EQ(host->log().find("offer signature didn't verify"), std::string::npos) << host->log();
}

// Nobody who hasn't proved who they are holds the host: not a helper who says hello a
// second time, not links that never speak, not impostors that know the helper's public key.
TEST_F(ProgramHostilePeer, ConnectorsThatNeverProveWhoTheyAreDoNotKeepTheHelperOut)
{
    ASSERT_NO_FATAL_FAILURE(pair());
    host->command({{"cmd", "hideWindow"}});
    const std::string hostId = host->deviceId();
    const std::string key = helperPublicKey();
    ASSERT_FALSE(key.empty());

    // One says hello, is challenged, and says hello again on the same link.
    {
        Stranger twice(service, hostId, key, Stranger::Kind::impostor);
        ASSERT_TRUE(waitUntil([&] { return twice.challenges() == 1; }, 10000));
        twice.hello();
        processEventsFor(200);
        const auto asked = questionCount();
        host->command({{"cmd", "answerAlert"}, {"button", 0}, {"checked", false}});
        ASSERT_TRUE(helper->command({{"cmd", "connect"}, {"id", hostId}, {"unattended", false}}).value("ok", false));
        EXPECT_TRUE(consentAskedWithin(2000, asked)) << helper->state().dump();
        ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000));
        ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
    }

    // Ten silent links and ten impostors, five of them forging proofs over and over.
    std::vector<std::unique_ptr<Stranger>> strangers;
    for (int i = 0; i < 10; ++i)
        strangers.push_back(std::make_unique<Stranger>(service, hostId, key, Stranger::Kind::silent));
    for (int i = 0; i < 10; ++i)
        strangers.push_back(std::make_unique<Stranger>(service, hostId, key,
                                                       i % 2 ? Stranger::Kind::impostor : Stranger::Kind::badProver));
    ASSERT_TRUE(waitUntil(
        [&] {
            int challenged = 0;
            for (const auto& stranger : strangers)
                challenged += stranger->challenges() > 0;
            return challenged == 10;
        },
        10000));
    const auto asked = questionCount();
    host->command({{"cmd", "answerAlert"}, {"button", 0}, {"checked", false}});
    ASSERT_TRUE(helper->command({{"cmd", "connect"}, {"id", hostId}, {"unattended", false}}).value("ok", false));
    EXPECT_TRUE(consentAskedWithin(10000, asked)) << helper->state().dump() << host->log();
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000));
    // The impostors kept trying all along, and none got further than a challenge.
    for (const auto& stranger : strangers)
        for (const auto& message : stranger->received())
            EXPECT_NE(message.kind, SignalMessage::Kind::accepted);
    EXPECT_EQ(questionCount(), asked + 1);
    ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
}

// The helper's person types their password and PIN for 90 s (on both programs' clocks):
// the host waits for the proof, and the helper gets in.
TEST_F(ProgramHostilePeer, AnUnattendedHelperWhoTakesTheirTimeOverPasswordAndPINGetsIn)
{
    ASSERT_NO_FATAL_FAILURE(pair());
    host->command({{"cmd", "hideWindow"}});
    const std::string hostId = host->deviceId();
    host->command({{"cmd", "adminPrompt"}, {"answer", true}});
    host->command({{"cmd", "answerSecrets"}, {"first", "246810"}, {"second", "246810"}});
    ASSERT_TRUE(host->command({{"cmd", "allowUnattended"}, {"id", helper->deviceId()}}).value("ok", false));
    ASSERT_TRUE(host->waitFor([](const json& s) { return s["host"]["helpers"][0].value("unattended", false); }));

    helper->command({{"cmd", "ownerCheck"}, {"answer", true}, {"hold", true}});
    helper->command({{"cmd", "answerText"}, {"text", "246810"}});
    helper->command({{"cmd", "connect"}, {"id", hostId}, {"unattended", true}});
    // The challenge came: the owner check is on the helper's screen.
    ASSERT_TRUE(helper->waitFor(
        [&](const json&) {
            return !helper->command({{"cmd", "questions"}})["ownerReasons"].empty();
        },
        15000));
    host->command({{"cmd", "advanceClock"}, {"ms", 90000}});
    helper->command({{"cmd", "advanceClock"}, {"ms", 90000}});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(helper->command({{"cmd", "releaseOwnerCheck"}}).value("released", false));
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000))
        << helper->state().dump() << host->log();
    EXPECT_TRUE(historyGets(*host, "connected without asking (unattended access)"));
    ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
}

} // namespace
} // namespace wl::test
