// The host against people who connect without being the helper they claim, through the
// real service and a running host program: strangers who bind after the helper's link
// closed, links that never say anything, impostors with a paired helper's public key but
// not its private key, a helper who says hello twice, crowds of strangers from one address
// and from many while a helper waits for the person's answer or types a password and a PIN,
// a burst of large frames and a flood of hellos.
#include "TwoPrograms.h"
#include "WaitUntil.h"
#include "WsTestClient.h"

#include "identity/Base64.h"
#include "identity/Random.h"
#include "signalling/WebSocketSignalChannel.h"
#include "platform/linux/QtTimers.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <deque>
#include <thread>

namespace wl::test {
namespace {

// Strangers binding to the host from this process, on a thread of their own: each binds from
// the next of the given loopback addresses and, given a paired helper's public key (never
// its private key), says hello as that helper, once or over and over as fast as its link
// takes them. The service sends them away as newer ones come (4409) or closes those past
// their budget (4429); new ones keep coming, up to a count of links, for 60 s at most.
class Crowd {
public:
    struct Plan {
        std::vector<std::string> sources;
        std::string helloKey; // empty: they never say anything
        int links = 0; // opened in all
        int hellosEach = 1;
        std::size_t atOnce = 48; // held open here at most
    };
    // The links a host keeps bound at most: its 32 places and the newcomer taking one.
    static constexpr int kHeldAtMost = 33;

    Crowd(const ServiceProcess& service, const std::string& hostId, Plan plan)
        : thread_([this, port = service.port(), target = "/v1/connect/" + hostId, plan = std::move(plan)] {
              run(port, target, plan);
          })
    {
    }
    ~Crowd() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    // 127.0.<block>.1 … 127.0.<block>.<count>
    static std::vector<std::string> addresses(int count, int block)
    {
        std::vector<std::string> list;
        for (int i = 1; i <= count; ++i)
            list.push_back("127.0." + std::to_string(block) + "." + std::to_string(i));
        return list;
    }

    bool finished() const { return finished_; }
    int opened() const { return opened_; }
    int hellos() const { return hellos_; }
    int sentAway() const { return sentAway_; }
    int overBudget() const { return overBudget_; }

private:
    struct Stranger {
        std::unique_ptr<WsTestClient> link = std::make_unique<WsTestClient>();
        int hellos = 0;
    };

    void run(std::uint16_t port, const std::string& target, const Plan& plan)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::deque<Stranger> strangers;
        // Moves every link along: the next hello where the last one is written, and the
        // closed ones counted and gone.
        auto sweep = [&] {
            for (auto& stranger : strangers) {
                stranger.link->poll();
                if (!plan.helloKey.empty() && !stranger.link->sending() && stranger.hellos < plan.hellosEach &&
                    !stranger.link->isClosed()) {
                    SignalMessage hello = SignalMessage::make(SignalMessage::Kind::hello);
                    hello.publicKey = plan.helloKey;
                    hello.nonce = base64Encode(randomBytes(16));
                    hello.name = "Not the helper";
                    stranger.link->post(hello.encode());
                    ++stranger.hellos;
                    ++hellos_;
                }
            }
            std::erase_if(strangers, [&](const Stranger& stranger) {
                if (!stranger.link->isClosed())
                    return false;
                sentAway_ += stranger.link->closeCode() == 4409;
                overBudget_ += stranger.link->closeCode() == 4429;
                return true;
            });
        };
        for (int i = 0; i < plan.links && !stop_ && std::chrono::steady_clock::now() < deadline;) {
            sweep();
            if (strangers.size() >= plan.atOnce) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            Stranger stranger;
            WsClientOptions from;
            from.source = plan.sources[static_cast<std::size_t>(i++) % plan.sources.size()].c_str();
            if (!stranger.link->open(port, target, nullptr, from))
                continue;
            ++opened_;
            strangers.push_back(std::move(stranger));
        }
        // The links the host can't keep have their answer: sent away or closed.
        const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (sweep();
             strangers.size() > std::size_t(kHeldAtMost) && !stop_ && std::chrono::steady_clock::now() < settled;
             sweep())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        strangers.clear();
        finished_ = true;
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int> opened_{0};
    std::atomic<int> hellos_{0};
    std::atomic<int> sentAway_{0};
    std::atomic<int> overBudget_{0};
    std::thread thread_;
};

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
        link_ = WebSocketSignalChannel::make(url_, qtTimerFactory());
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
        return waitUntil(
            [&] {
                const json questions = host->command({{"cmd", "questions"}})["questions"];
                for (std::size_t i = questionsBefore; i < questions.size(); ++i)
                    if (questions[i].value("title", "").find(" wants to help with your Mac") != std::string::npos)
                        return true;
                return false;
            },
            milliseconds);
    }

    std::size_t questionCount() { return host->command({{"cmd", "questions"}})["questions"].size(); }

    // Two crowds of silent strangers, each opening that many links, from one address and
    // then from 32: they cycle the host's 32 places, each newcomer sending away an older one.
    void crowdsCome(int linksEach)
    {
        for (const auto& sources : {std::vector<std::string>{"127.0.2.1"}, Crowd::addresses(32, 3)}) {
            Crowd crowd(service, host->deviceId(), {sources, "", linksEach, 1, 48});
            ASSERT_TRUE(waitUntil([&] { return crowd.finished(); }, 70000));
            EXPECT_EQ(crowd.opened(), linksEach);
            EXPECT_GE(crowd.sentAway(), linksEach - Crowd::kHeldAtMost);
        }
    }

    // The host stayed online all along: the service never saw its link go.
    bool hostNeverWentOffline() const
    {
        return service.log().find("host " + host->deviceId().substr(0, 8) + " offline") == std::string::npos;
    }

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
        // A hello on a second link after it: once that one is challenged, the host has read
        // the second hello too (the service passes both on over the host's one link).
        {
            Stranger later(service, hostId, key, Stranger::Kind::impostor);
            ASSERT_TRUE(waitUntil([&] { return later.challenges() == 1; }, 10000));
        }
        ASSERT_TRUE(waitForNextTurn());
        EXPECT_EQ(twice.challenges(), 1) << "a channel holds one open challenge";
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

// The helper's person types their password and PIN for 90 s (on both programs' clocks)
// while silent strangers bind and are sent away: the host waits for the proof, the service
// keeps the challenged helper bound, and the helper gets in.
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
    // Meanwhile silent strangers come and go, from one address and from many.
    ASSERT_NO_FATAL_FAILURE(crowdsCome(120));
    host->command({{"cmd", "advanceClock"}, {"ms", 90000}});
    helper->command({{"cmd", "advanceClock"}, {"ms", 90000}});
    // The timers run inside advanceClock; a state's answer comes after what they queued.
    host->state();
    helper->state();
    ASSERT_TRUE(helper->command({{"cmd", "releaseOwnerCheck"}}).value("released", false));
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000))
        << helper->state().dump() << host->log();
    EXPECT_TRUE(historyGets(*host, "connected without asking (unattended access)"));
    ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
}

// A helper who has proven who it is waits while the host's person decides; meanwhile
// strangers bind, from one address and from 32, cycling the 32 places many times over. None
// pushes the helper out: when the person allows after 30 s, the session starts.
TEST_F(ProgramHostilePeer, AProvenHelperWaitingForTheAnswerIsNotPushedOutByStrangers)
{
    ASSERT_NO_FATAL_FAILURE(pair());
    host->command({{"cmd", "hideWindow"}});
    host->command({{"cmd", "holdAlert"}});
    const auto asked = questionCount();
    ASSERT_TRUE(
        helper->command({{"cmd", "connect"}, {"id", host->deviceId()}, {"unattended", false}}).value("ok", false));
    ASSERT_TRUE(consentAskedWithin(15000, asked)) << helper->state().dump();

    ASSERT_NO_FATAL_FAILURE(crowdsCome(160));
    EXPECT_EQ(phaseOf(helper->state()), "waiting") << helper->state().dump();
    host->command({{"cmd", "advanceClock"}, {"ms", 30000}});
    ASSERT_TRUE(host->command({{"cmd", "releaseAlert"}, {"button", 0}}).value("released", false));
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000))
        << helper->state().dump() << host->log();
    EXPECT_TRUE(hostNeverWentOffline());
    ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
}

// One stranger sends 3 MB in frames of 60 KB, then 32 links flood the host with hellos in
// the helper's name (each replaced as soon as the service closes it). The host stays online
// throughout, and the helper gets in within 10 s of asking (asking again, as its person
// would, when the program says the host is getting too many attempts).
TEST_F(ProgramHostilePeer, ABurstAndAHelloFloodLeaveTheHostOnlineAndLetTheHelperIn)
{
    ASSERT_NO_FATAL_FAILURE(pair());
    host->command({{"cmd", "hideWindow"}});
    const std::string hostId = host->deviceId();
    {
        WsTestClient stranger;
        ASSERT_TRUE(stranger.open(service.port(), "/v1/connect/" + hostId));
        SignalMessage large = SignalMessage::make(SignalMessage::Kind::candidate);
        large.sdp = std::string(60000, 'x');
        for (int i = 0; i < 50 && !stranger.isClosed(); ++i)
            stranger.send(large.encode());
        stranger.waitClosed(std::chrono::milliseconds(500));
    }

    Crowd flood(service, hostId, {Crowd::addresses(32, 4), helperPublicKey(), 2000, 1000, 32});
    ASSERT_TRUE(waitUntil([&] { return flood.hellos() >= 20000 || flood.finished(); }, 60000));
    EXPECT_TRUE(hostNeverWentOffline());
    host->command({{"cmd", "answerAlert"}, {"button", 0}, {"checked", false}});
    QElapsedTimer clock;
    clock.start();
    bool in = false;
    while (!in && clock.elapsed() < 10000) {
        ASSERT_TRUE(helper->command({{"cmd", "connect"}, {"id", hostId}, {"unattended", false}}).value("ok", false));
        ASSERT_TRUE(helper->waitFor([&](const json& s) { return phaseOf(s) != "waiting"; },
                                    static_cast<int>(std::max<qint64>(10000 - clock.elapsed(), 0))))
            << helper->state().dump();
        const json state = helper->state();
        in = phaseOf(state) == "connected";
        // Sent away while the strangers crowded the host: asked again.
        if (!in) {
            ASSERT_NE(state["viewer"].value("phaseText", "").find("too many connection attempts"), std::string::npos)
                << state.dump();
        }
    }
    EXPECT_TRUE(in) << "within " << clock.elapsed() << " ms";
    ASSERT_TRUE(waitUntil([&] { return flood.finished(); }, 120000));
    std::cerr << "flood: " << flood.opened() << " links, " << flood.hellos() << " hellos; " << flood.overBudget()
              << " closed over their budget, " << flood.sentAway() << " sent away\n";
    EXPECT_GT(flood.overBudget(), 100);
    EXPECT_TRUE(hostNeverWentOffline()) << service.log();
    EXPECT_TRUE(host->state()["host"].value("online", false));
    ASSERT_TRUE(helper->waitFor([&](const json& s) { return connected(s, 1); }, 30000)) << helper->state().dump();
    ASSERT_NO_FATAL_FAILURE(endAndWaitIdle());
}

} // namespace
} // namespace wl::test
