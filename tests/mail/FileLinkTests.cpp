// The file link: two real peer connections on loopback. Three pictures move from the
// serving to the collecting side through the real introduction service (host link and
// connect path); a scripted sender shows that bytes which do not add up, counts and
// sizes beyond the limits fail the link; each callback comes once.
#include "ServiceProcess.h"
#include "WaitUntil.h"

#include "identity/Keys.h"
#include "identity/SignedQuery.h"
#include "mail/FileLinkPeer.h"
#include "TestMediaEngine.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/Log.h"
#include "signalling/IntroductionService.h"
#include "signalling/PeerLink.h"
#include "signalling/WebRTCConfiguration.h"
#include "signalling/WebSocketSignalChannel.h"
#include "platform/linux/QtTimers.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace wl {
namespace {

using test::waitUntil;

// Nothing leaves the machine: loopback candidates only, no public STUN server.
std::shared_ptr<const Defaults> localOnly()
{
    auto settings = std::make_shared<MemoryDefaults>();
    settings->setBool("WLLoopbackOnly", true);
    settings->setStringList(kSTUNServersKey, {});
    return settings;
}

std::string testBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

std::vector<TransferredFile> threePictures()
{
    return {
        {"a1", "Screenshot 1", "image/png", testBytes(1024 * 1024 + 7, 1)},
        {"b2", "Screenshot 2", "image/jpeg", testBytes(3 * FileLinkPeer::kChunkSize, 2)},
        {"c3", "Tiny", "image/png", testBytes(5, 3)},
    };
}

// Runs fn on the main thread later, unless the target went away first.
template <typename T, typename Fn>
void postTo(std::weak_ptr<T> target, Fn fn)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target = std::move(target), fn = std::move(fn)]() mutable {
            if (auto alive = target.lock())
                fn(*alive);
        },
        Qt::QueuedConnection);
}

// An in-process signalling path: what one side sends reaches the other's handler on a
// later turn of the main loop.
class PipeEnd final : public SignalTransport {
public:
    std::function<void(const SignalMessage&)> deliver;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    void send(const SignalMessage& message) override
    {
        auto target = deliver;
        postTo(std::weak_ptr<int>(alive), [target, message](int&) {
            if (target)
                target(message);
        });
    }
    void close() override { }
};

struct Outcome {
    int received = 0;
    int ended = 0;
    std::vector<TransferredFile> files;
};

void watch(FileLinkPeer& peer, Outcome& outcome)
{
    peer.onReceived = [&outcome](std::vector<TransferredFile> files) {
        ++outcome.received;
        outcome.files = std::move(files);
    };
    peer.onEnded = [&outcome] { ++outcome.ended; };
}

class FileLinkTest : public ::testing::Test {
protected:
};

// The host's side of one connector: what it sends goes to that connector's channel.
class ChannelTransport final : public SignalTransport {
public:
    explicit ChannelTransport(std::shared_ptr<WebSocketSignalChannel> link) : link_(std::move(link)) { }
    void send(const SignalMessage& message) override
    {
        SignalMessage tagged = message;
        tagged.channel = channel;
        link_->send(tagged);
    }
    void close() override { }
    std::optional<std::uint64_t> channel;

private:
    std::shared_ptr<WebSocketSignalChannel> link_;
};

TEST_F(FileLinkTest, MovesThreePicturesThroughTheService)
{
    test::ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.log();
    const MapInfoDictionary info(
        std::map<std::string, std::string>{{InfoKey::introductionURL, service.httpUrl() + "/"}});

    // The host's standing link, as the relay link opens it.
    SigningKey hostKey = SigningKey::generate();
    const std::string hostId = fingerprintOfRaw(hostKey.publicKeyRaw());
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    auto hostLink = WebSocketSignalChannel::make(
        IntroductionService::webSocketURL(info, "v1/host/" + hostId, signedQueryItems(kPurposeHost, hostKey, now)),
        qtTimerFactory());
    hostLink->open();
    ASSERT_TRUE(waitUntil([&] { return hostLink->isOpen(); }));

    const std::vector<TransferredFile> pictures = threePictures();
    auto toHelper = std::make_shared<ChannelTransport>(hostLink);
    auto serve = std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::serve, toHelper,
                                                std::vector<ICEServer>{}, *localOnly(), qtTimerFactory(), pictures);
    ASSERT_NE(serve->peerConnection(), nullptr);
    serve->signAnswer = [](const std::string& sdp) {
        return std::optional<std::string>("answer:" + std::to_string(sdp.size()));
    };
    Outcome served;
    watch(*serve, served);
    std::optional<SignalMessage> offerSeen;
    hostLink->onMessage = [&](const SignalMessage& message) {
        toHelper->channel = message.channel;
        if (message.kind == SignalMessage::Kind::offer) {
            offerSeen = message;
            serve->applyOffer(message);
        } else if (message.kind == SignalMessage::Kind::candidate) {
            serve->addRemoteCandidate(message);
        }
    };

    auto helperLink =
        WebSocketSignalChannel::make(IntroductionService::webSocketURL(info, "v1/connect/" + hostId), qtTimerFactory());
    auto collect = std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::collect, helperLink,
                                                  std::vector<ICEServer>{}, *localOnly(), qtTimerFactory());
    collect->signOffer = [](const std::string& sdp) {
        return std::optional<std::string>("offer:" + std::to_string(sdp.size()));
    };
    Outcome collected;
    watch(*collect, collected);
    std::optional<SignalMessage> answerSeen;
    helperLink->onMessage = [&](const SignalMessage& message) {
        if (message.kind == SignalMessage::Kind::answer) {
            answerSeen = message;
            collect->applyAnswer(message);
        } else if (message.kind == SignalMessage::Kind::candidate) {
            collect->addRemoteCandidate(message);
        }
    };
    helperLink->open();
    collect->start();

    ASSERT_TRUE(waitUntil([&] { return collected.received == 1; }, 20000));
    EXPECT_EQ(collected.files, pictures);

    // The server closes the link on the receipt; both sides report the end once.
    ASSERT_TRUE(waitUntil([&] { return served.ended == 1 && collected.ended == 1; }, 10000));
    // Both have ended: what they had handed to this thread before is all there is.
    ASSERT_TRUE(test::waitForNextTurn());
    EXPECT_EQ(served.ended, 1);
    EXPECT_EQ(collected.ended, 1);
    EXPECT_EQ(collected.received, 1);
    EXPECT_EQ(served.received, 0);

    // The offer and answer went through the service signed by the given closures.
    ASSERT_TRUE(offerSeen && answerSeen);
    ASSERT_TRUE(offerSeen->sdp && answerSeen->sdp);
    EXPECT_EQ(offerSeen->signature, "offer:" + std::to_string(offerSeen->sdp->size()));
    EXPECT_EQ(answerSeen->signature, "answer:" + std::to_string(answerSeen->sdp->size()));

    collect.reset();
    serve.reset();
    helperLink->close();
    hostLink->close();
}

// Two file-link peers joined by an in-process path.
struct PipedPair {
    std::shared_ptr<PipeEnd> toServer = std::make_shared<PipeEnd>();
    std::shared_ptr<PipeEnd> toCollector = std::make_shared<PipeEnd>();
    std::unique_ptr<FileLinkPeer> serve, collect;

    explicit PipedPair(std::vector<TransferredFile> files)
    {
        serve =
            std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::serve, toCollector,
                                           std::vector<ICEServer>{}, *localOnly(), qtTimerFactory(), std::move(files));
        collect = std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::collect, toServer,
                                                 std::vector<ICEServer>{}, *localOnly(), qtTimerFactory());
        toServer->deliver = [this](const SignalMessage& message) {
            if (message.kind == SignalMessage::Kind::offer)
                serve->applyOffer(message);
            else if (message.kind == SignalMessage::Kind::candidate)
                serve->addRemoteCandidate(message);
        };
        toCollector->deliver = [this](const SignalMessage& message) {
            if (message.kind == SignalMessage::Kind::answer)
                collect->applyAnswer(message);
            else if (message.kind == SignalMessage::Kind::candidate)
                collect->addRemoteCandidate(message);
        };
    }
};

TEST_F(FileLinkTest, ServingBeyondTheLimitsFailsTheLink)
{
    std::vector<std::vector<TransferredFile>> cases = {
        {{"1", "a", "image/png", "x"},
         {"2", "b", "image/png", "y"},
         {"3", "c", "image/png", "z"},
         {"4", "d", "image/png", "w"}},
        {{"1", "big", "image/png", std::string(FileLinkPeer::kMaxFileSize + 1, 'b')}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        CapturedLog log;
        PipedPair pair(cases[i]);
        Outcome served, collected;
        watch(*pair.serve, served);
        watch(*pair.collect, collected);
        pair.collect->start();
        ASSERT_TRUE(waitUntil([&] { return served.ended == 1 && collected.ended == 1; }, 15000));
        ASSERT_TRUE(test::waitForNextTurn()) << "what they handed to this thread before ending is in";
        EXPECT_EQ(served.ended, 1);
        EXPECT_EQ(collected.ended, 1);
        EXPECT_EQ(collected.received, 0);
        EXPECT_TRUE(log.contains("Wickerlane: file link failed"));
    }
}

TEST_F(FileLinkTest, MovesAFileAtTheSizeLimit)
{
    // Exactly 20 MiB is allowed, and is more than the channel may queue at once.
    const std::vector<TransferredFile> files = {
        {"big", "Full screen", "image/png", testBytes(FileLinkPeer::kMaxFileSize, 11)}};
    PipedPair pair(files);
    Outcome served, collected;
    watch(*pair.serve, served);
    watch(*pair.collect, collected);
    pair.collect->start();
    ASSERT_TRUE(waitUntil([&] { return collected.received == 1 && served.ended == 1; }, 30000));
    EXPECT_TRUE(collected.files == files);
}

TEST_F(FileLinkTest, CloseEndsWithoutCallbacks)
{
    // The way a picture fetch ends: on delivery it closes the link itself.
    const std::vector<TransferredFile> files = {{"1", "a", "image/png", testBytes(200000, 9)}};
    PipedPair pair(files);
    Outcome served, collected;
    watch(*pair.serve, served);
    watch(*pair.collect, collected);
    pair.collect->onReceived = [&](std::vector<TransferredFile> received) {
        ++collected.received;
        collected.files = std::move(received);
        pair.collect->close();
    };
    pair.collect->start();
    ASSERT_TRUE(waitUntil([&] { return collected.received == 1 && served.ended == 1; }, 15000));
    EXPECT_EQ(collected.files, files);
    EXPECT_TRUE(pair.collect->isFinished());
    EXPECT_EQ(pair.collect->peerConnection(), nullptr);
    // Its connection is gone: what it had handed to this thread before is all there is.
    ASSERT_TRUE(test::waitForNextTurn());
    EXPECT_EQ(collected.ended, 0);
    EXPECT_EQ(served.ended, 1);

    // Closing a link that never started says nothing either.
    PipedPair idle({});
    Outcome quiet;
    watch(*idle.collect, quiet);
    idle.collect->close();
    idle.collect->close();
    idle.collect->start();
    ASSERT_TRUE(test::waitForNextTurn());
    EXPECT_EQ(quiet.ended, 0);
}

// A sender that answers the collector's offer with a plain peer link and, once the
// channel is open, sends a fixed list of frames.
class ScriptedSender final {
public:
    struct Frame {
        std::string bytes;
        bool binary = false;
    };

    ScriptedSender(std::vector<Frame> script, std::function<void(const SignalMessage&)> toCollector)
        : script_(std::move(script)), toCollector_(std::move(toCollector))
    {
        PeerLink::Events events;
        events.localCandidate = [this](const SignalMessage& candidate) { forward(candidate); };
        events.dataChannel = [this](std::shared_ptr<DataChannelLink> channel) {
            channel_ = channel;
            channel_->events.state = [this](webrtc::DataChannelInterface::DataState state) {
                if (state == webrtc::DataChannelInterface::kOpen)
                    play();
            };
            channel_->events.message = [this](const std::string& bytes, bool) { texts_.push_back(bytes); };
            if (channel_->isOpen())
                play();
        };
        auto settings = localOnly();
        link_ = std::make_unique<PeerLink>(test::loopbackEngine().dataFactory(), makeRTCConfiguration(*settings, {}),
                                           std::move(events), "Wickerlane: test sender: ");
    }

    bool ready() const { return link_->connection() != nullptr; }
    std::vector<std::string> textsReceived() const { return texts_; }

    // The collector's offer and candidates.
    void handle(const SignalMessage& message)
    {
        if (message.kind == SignalMessage::Kind::offer && message.sdp) {
            link_->setRemoteDescription(webrtc::SdpType::kOffer, *message.sdp, [this](std::string error) {
                if (!error.empty())
                    return;
                link_->setLocalDescription([this](std::optional<std::string> sdp, std::string) {
                    if (!sdp)
                        return;
                    SignalMessage answer = SignalMessage::make(SignalMessage::Kind::answer);
                    answer.sdp = *sdp;
                    forward(answer);
                });
            });
        } else if (message.kind == SignalMessage::Kind::candidate) {
            link_->addRemoteCandidate(message);
        }
    }

private:
    void play()
    {
        if (played_)
            return;
        played_ = true;
        for (const Frame& frame : script_)
            channel_->send(frame.bytes, frame.binary);
    }

    void forward(const SignalMessage& message)
    {
        auto deliver = toCollector_;
        postTo(std::weak_ptr<int>(alive_), [deliver, message](int&) { deliver(message); });
    }

    std::vector<Frame> script_;
    std::function<void(const SignalMessage&)> toCollector_;
    std::unique_ptr<PeerLink> link_;
    std::shared_ptr<DataChannelLink> channel_;
    std::vector<std::string> texts_;
    bool played_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

using Frame = ScriptedSender::Frame;

Frame header(const std::string& id, std::uint64_t size)
{
    return {
        nlohmann::json{{"kind", "file"}, {"id", id}, {"name", "n" + id}, {"type", "image/png"}, {"size", size}}.dump(),
        false};
}
Frame done(std::uint64_t count)
{
    return {nlohmann::json{{"kind", "done"}, {"count", count}}.dump(), false};
}
Frame bytes(std::size_t size)
{
    return {std::string(size, 'q'), true};
}

struct Scripted {
    std::shared_ptr<PipeEnd> toSender = std::make_shared<PipeEnd>();
    std::unique_ptr<ScriptedSender> sender;
    std::unique_ptr<FileLinkPeer> collect;
    Outcome outcome;

    explicit Scripted(std::vector<Frame> script)
    {
        collect = std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::collect, toSender,
                                                 std::vector<ICEServer>{}, *localOnly(), qtTimerFactory());
        watch(*collect, outcome);
        sender = std::make_unique<ScriptedSender>(std::move(script), [this](const SignalMessage& message) {
            if (message.kind == SignalMessage::Kind::answer)
                collect->applyAnswer(message);
            else if (message.kind == SignalMessage::Kind::candidate)
                collect->addRemoteCandidate(message);
        });
        toSender->deliver = [this](const SignalMessage& message) { sender->handle(message); };
    }
    ~Scripted()
    {
        collect.reset();
        sender.reset();
    }
};

TEST_F(FileLinkTest, CollectorAcceptsWhatAddsUpAndAnswersWithAReceipt)
{
    Scripted run({header("1", 20000), bytes(16384), bytes(3616), header("2", 0), done(2)});
    ASSERT_TRUE(run.sender->ready());
    run.collect->start();
    ASSERT_TRUE(waitUntil([&] { return run.outcome.received == 1; }, 15000));
    ASSERT_EQ(run.outcome.files.size(), 2u);
    EXPECT_EQ(run.outcome.files[0].id, "1");
    EXPECT_EQ(run.outcome.files[0].name, "n1");
    EXPECT_EQ(run.outcome.files[0].type, "image/png");
    EXPECT_EQ(run.outcome.files[0].data, std::string(20000, 'q'));
    EXPECT_TRUE(run.outcome.files[1].data.empty());
    ASSERT_TRUE(waitUntil([&] { return !run.sender->textsReceived().empty(); }));
    auto receipt = nlohmann::json::parse(run.sender->textsReceived()[0]);
    EXPECT_EQ(receipt, (nlohmann::json{{"kind", "received"}, {"count", 2}}));
    EXPECT_EQ(run.outcome.ended, 0);
}

TEST_F(FileLinkTest, CollectorFailsTheLinkWhenTheTransferDoesNotAddUp)
{
    struct Case {
        const char* what;
        std::vector<Frame> script;
    };
    const std::vector<Case> cases = {
        {"more bytes than announced", {header("1", 1000), bytes(1500), done(1)}},
        {"fewer bytes before the end", {header("1", 1000), bytes(500), done(1)}},
        {"a new header inside a file", {header("1", 10), bytes(5), header("2", 5), bytes(5), done(2)}},
        {"bytes outside a file", {bytes(10), header("1", 10), bytes(10), done(1)}},
        {"a file over 20 MiB", {header("1", FileLinkPeer::kMaxFileSize + 1), done(1)}},
        {"a fourth file",
         {header("1", 1), bytes(1), header("2", 1), bytes(1), header("3", 1), bytes(1), header("4", 1), bytes(1),
          done(4)}},
        {"a count that does not match", {header("1", 3), bytes(3), done(2)}},
        {"a negative size", {{R"({"kind":"file","id":"1","name":"a","type":"image/png","size":-4})", false}, done(1)}},
        {"an unreadable header", {{"{not json", false}, done(0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CapturedLog log;
        Scripted run(c.script);
        ASSERT_TRUE(run.sender->ready());
        run.collect->start();
        ASSERT_TRUE(waitUntil([&] { return run.outcome.ended == 1; }, 15000));
        ASSERT_TRUE(test::waitForNextTurn()) << "what it handed to this thread before ending is in";
        EXPECT_EQ(run.outcome.ended, 1);
        EXPECT_EQ(run.outcome.received, 0);
        EXPECT_TRUE(log.contains("Wickerlane: file link failed"));
        EXPECT_TRUE(run.sender->textsReceived().empty()); // no receipt for a failed transfer
    }
}

} // namespace
} // namespace wl
