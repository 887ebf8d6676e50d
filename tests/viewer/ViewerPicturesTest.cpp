// The helper's side of help requests with pictures: the fetch ahead of time (3 s after
// launch, 4 s after the mail, once more 10 s after a failure), the fetch the helper asks
// for with the alert for each failure, the fetcher's steps against a host key of the
// test's own, and what happens during a live session or for a Mac no longer paired.
#include "ViewerTestKit.h"

#include "mail/FileLinkPeer.h"
#include "platform/Log.h"
#include "signalling/WebRTCConfiguration.h"
#include "protocol/MailContent.h"
#include "viewer/AttachmentFetcher.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using namespace std::chrono_literals;
using Kind = SignalMessage::Kind;

class ViewerPictures : public ::testing::Test {
protected:
    void SetUp() override { rig.pair({host.record()}); }

    StoredMessage request(const std::string& id, std::optional<int> attachments, const FakeHost& from)
    {
        StoredMessage message;
        message.id = id;
        message.peerId = from.id();
        message.peerName = from.name;
        message.content.kind = MailContent::Kind::helpRequest;
        message.content.topic = "Printer";
        message.content.attachments = attachments;
        message.content.sentAt = dateNow() - 60;
        message.at = dateNow() - 60;
        return message;
    }

    // The helper's history holds these requests, as an earlier run left it.
    void store(const std::vector<StoredMessage>& messages)
    {
        rig.defaults->setData("WLMessages", StoredMessage::encodeList(messages));
    }

    SignalMessage declined(const std::string& reason)
    {
        SignalMessage message = SignalMessage::make(Kind::declined);
        message.reason = reason;
        return message;
    }

    // The alerts shown so far, as title and text.
    std::vector<std::pair<std::string, std::string>> alerts()
    {
        // An alert is shown on the next turn of the event loop, outside the callback that asks for it.
        EXPECT_TRUE(waitForNextTurn());
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& question : rig.prompts.questions())
            if (question.kind == ScriptedPrompts::Question::Kind::alert)
                out.emplace_back(question.title, question.informativeText);
        return out;
    }

    // Fires the 10-second timers until the retry has started a fetch; false when none did.
    bool fireRetry()
    {
        const auto before = rig.transports.size();
        for (int i = 0; i < 4 && rig.transports.size() == before; ++i)
            if (!rig.timers.fireNext(RequestAnswers::kRetryPrefetchDelay))
                return false;
        return rig.transports.size() > before;
    }

    ViewerRig rig;
    FakeHost host{"Ada's Mac"};
    FakeHost gone{"Gone Mac"};
};

TEST_F(ViewerPictures, FetchedAheadAtLaunchAfterTheMailAndOnceMoreAfterAFailure)
{
    const StoredMessage first = request("req-1", 2, host);
    store({first, request("req-none", std::nullopt, host), request("req-zero", 0, host)});
    rig.make();
    EXPECT_TRUE(rig.transports.empty());

    // 3 s after launch: one quiet fetch, for the request that has pictures.
    ASSERT_TRUE(rig.timers.fireNext(RequestAnswers::kLaunchPrefetchDelay));
    while (rig.timers.fireNext(RequestAnswers::kLaunchPrefetchDelay)) { }
    ASSERT_EQ(rig.transports.size(), 1u);
    EXPECT_EQ(rig.connectedTo[0], host.id());
    auto hello = rig.transport().sentOf(Kind::hello).at(0);
    EXPECT_EQ(hello.purpose, std::optional<std::string>("attachments"));
    EXPECT_EQ(hello.requestId, std::optional<std::string>("req-1"));
    EXPECT_TRUE(rig.viewer->answers().fetchingPictures().empty()) << "nobody waits for a prefetch";

    // It fails: silently, and tried once more 10 s later; then not again. (The presence
    // question runs every 10 s too: its timer is the one already there.)
    const auto retryBase = rig.timers.activeCount(RequestAnswers::kRetryPrefetchDelay);
    rig.transport().deliver(declined("busy"));
    EXPECT_FALSE(rig.viewer->answers().fetcher("req-1"));
    EXPECT_EQ(rig.timers.activeCount(RequestAnswers::kRetryPrefetchDelay), retryBase + 1);
    ASSERT_TRUE(fireRetry());
    ASSERT_EQ(rig.transports.size(), 2u);
    rig.transport().dropLink();
    EXPECT_EQ(rig.timers.activeCount(RequestAnswers::kRetryPrefetchDelay), retryBase);
    EXPECT_TRUE(alerts().empty());
    EXPECT_FALSE(rig.viewer->answers().pictures().count("req-1"));

    // A new request's mail: fetched 4 s later. Without pictures nothing is scheduled.
    const auto timersBefore = rig.timers.activeCount();
    rig.viewer->answers().mailReceived(request("req-none-2", std::nullopt, host));
    EXPECT_EQ(rig.timers.activeCount(), timersBefore);
    const StoredMessage second = request("req-2", 1, host);
    store({first, second});
    rig.destroy();
    rig.make();
    rig.viewer->answers().mailReceived(second);
    EXPECT_EQ(rig.timers.activeCount(RequestAnswers::kMailPrefetchDelay), 1u);
    ASSERT_TRUE(rig.timers.fireNext(RequestAnswers::kMailPrefetchDelay));
    ASSERT_EQ(rig.transports.size(), 3u);
    EXPECT_EQ(rig.transport().sentOf(Kind::hello).at(0).requestId, std::optional<std::string>("req-2"));
}

TEST_F(ViewerPictures, ARequestMarkedDoneIsNotFetchedAndAnUndeliveredDoneIsShown)
{
    const StoredMessage first = request("req-1", 2, host);
    store({first});
    rig.make();
    rig.viewer->answers().mailReceived(first);
    CapturedLog log;
    rig.viewer->answers().markRequestDone(first);
    EXPECT_TRUE(rig.viewer->answers().resolvedRequests().count("req-1"));
    EXPECT_TRUE(rig.storedSet(RequestAnswers::kResolvedRequestsKey).count("req-1"));
    ASSERT_TRUE(rig.timers.fireNext(RequestAnswers::kMailPrefetchDelay));
    EXPECT_TRUE(rig.transports.empty()) << "not fetched once dealt with";

    // There's no service here: the "done" can't go, and the helper is told so.
    ASSERT_TRUE(waitUntil([&] { return !alerts().empty(); }, 10000));
    EXPECT_EQ(alerts()[0].first, "Done not sent");
    EXPECT_EQ(alerts()[0].second,
              "Ada's Mac wasn't told that you marked the request done. Couldn't reach the "
              "Wickerlane service. Check the internet connection.");
    EXPECT_TRUE(log.contains("Wickerlane: couldn't tell Ada's Mac that the help request is done"));

    // A request whose Mac is no longer paired is still recorded as dealt with.
    rig.viewer->answers().markRequestDone(request("req-gone", 1, gone));
    EXPECT_TRUE(rig.viewer->answers().resolvedRequests().count("req-gone"));
}

TEST_F(ViewerPictures, AskedForPicturesWaitAndEachFailureHasItsText)
{
    const StoredMessage first = request("req-1", 2, host);
    store({first});
    rig.make();
    CapturedLog log;
    struct Case {
        std::function<void(RecordingTransport&)> drive;
        std::string text;
    };
    const std::string unreachable = "Couldn't reach their Mac. It may be asleep or offline.";
    const std::string notVerified = "Couldn't confirm it's really their Mac, so nothing was fetched.";
    const std::string goneText =
        "Those pictures aren't available any more. The request may have been answered or cancelled.";
    const std::string failed = "The pictures didn't come through. Try again.";
    std::vector<Case> cases = {
        {[&](RecordingTransport& t) { t.deliver(declined("noAttachments")); }, goneText},
        {[&](RecordingTransport& t) { t.deliver(declined("notPaired")); }, unreachable},
        {[&](RecordingTransport& t) { t.dropLink(); }, unreachable},
        {[&](RecordingTransport& t) {
             // Signed over other nonces.
             t.deliver(host.challenge("another helper nonce"));
             EXPECT_TRUE(t.sentOf(Kind::prove).empty()) << "nothing proved to an unverified host";
         },
         notVerified},
        {[&](RecordingTransport& t) {
             t.deliver(SignalMessage::make(Kind::accepted)); // before any challenge: ignored
             EXPECT_FALSE(rig.viewer->answers().fetcher("req-1")->peer());
             t.deliver(SignalMessage::make(Kind::bye));
         },
         failed},
        {[&](RecordingTransport&) { ASSERT_TRUE(rig.timers.fireNext(AttachmentFetcher::kTimeLimit)); }, failed},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].text);
        rig.prompts.clear();
        rig.viewer->answers().showPictures(first);
        // Asking again while it runs starts nothing more.
        rig.viewer->answers().showPictures(first);
        ASSERT_EQ(rig.transports.size(), i + 1);
        EXPECT_TRUE(rig.viewer->answers().fetchingPictures().count("req-1"));
        RecordingTransport& transport = rig.transport();
        auto hello = transport.sentOf(Kind::hello).at(0);
        EXPECT_EQ(hello.purpose, std::optional<std::string>("attachments"));
        EXPECT_TRUE(hello.publicKey && hello.nonce && hello.name);
        cases[i].drive(transport);
        EXPECT_FALSE(rig.viewer->answers().fetcher("req-1"));
        EXPECT_FALSE(rig.viewer->answers().fetchingPictures().count("req-1"));
        ASSERT_EQ(alerts().size(), 1u);
        EXPECT_EQ(alerts()[0], std::make_pair(std::string("Pictures not shown"), cases[i].text));
        // Every end says goodbye and closes the path.
        EXPECT_TRUE(transport.closed);
        // A message after the end changes nothing.
        transport.deliver(declined("noAttachments"));
        EXPECT_EQ(alerts().size(), 1u);
    }
    EXPECT_TRUE(log.contains("Wickerlane file link (asking): gave up: gone at "));
    EXPECT_TRUE(log.contains("Wickerlane file link (asking): gave up: notVerified at "));
    EXPECT_TRUE(log.contains("Wickerlane file link (asking): their Mac answered"));
    EXPECT_FALSE(rig.viewer->answers().pictures().count("req-1"));

    // A prefetch that runs when the helper asks becomes the awaited fetch.
    rig.prompts.clear();
    rig.viewer->answers().mailReceived(first);
    ASSERT_TRUE(rig.timers.fireNext(RequestAnswers::kMailPrefetchDelay));
    const auto fetches = rig.transports.size();
    EXPECT_TRUE(rig.viewer->answers().fetchingPictures().empty());
    rig.viewer->answers().showPictures(first);
    EXPECT_EQ(rig.transports.size(), fetches);
    EXPECT_TRUE(rig.viewer->answers().fetchingPictures().count("req-1"));
    rig.transport().deliver(declined("noAttachments"));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].second, goneText);
}

TEST_F(ViewerPictures, NotShownDuringASessionOrForAMacNoLongerPaired)
{
    const StoredMessage first = request("req-1", 2, host);
    store({first});
    rig.make();

    // A live session with the host.
    rig.viewer->session().connect(host.record(), false);
    rig.transport().deliver(host.challenge(rig.helperNonce()));
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    ASSERT_EQ(rig.viewer->session().phase().kind, ViewerController::Phase::Kind::connected);
    const auto paths = rig.transports.size();

    rig.viewer->answers().showPictures(first);
    EXPECT_EQ(rig.transports.size(), paths) << "no fetch during a session";
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0],
              std::make_pair(std::string("Pictures not shown"),
                             std::string("Pictures can't be fetched during a session. Try again once it "
                                         "has ended.")));
    // A prefetch falling due during the session is dropped, with no retry.
    ASSERT_TRUE(rig.timers.fireNext(RequestAnswers::kLaunchPrefetchDelay));
    EXPECT_EQ(rig.transports.size(), paths);
    EXPECT_FALSE(fireRetry()) << "no retry";
    EXPECT_EQ(alerts().size(), 1u) << "a prefetch tells nobody";

    // A request from a Mac that is no longer paired.
    rig.prompts.clear();
    rig.viewer->answers().showPictures(request("req-gone", 1, gone));
    EXPECT_EQ(rig.transports.size(), paths);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].second, "That Mac isn't paired with this one any more, so its pictures can't be fetched.");
}

// The host's side played by the test: it proves itself with its key, serves the files
// over a real file link and signs its answer. Once the link stands the signalling path
// closes, and the pictures still arrive.
TEST_F(ViewerPictures, FetchedOverTheSignedFileLinkEvenWhenTheSignallingCloses)
{
    // Nothing leaves the machine: loopback candidates only, no STUN server.
    rig.defaults->setBool("WLLoopbackOnly", true);
    rig.defaults->setStringList(kSTUNServersKey, {});
    const StoredMessage first = request("req-1", 2, host);
    store({first});
    rig.make();
    CapturedLog log;
    const std::vector<TransferredFile> pictures = {
        {"0 Screenshot.jpg", "Screenshot", "image/jpeg", std::string(3 * FileLinkPeer::kChunkSize + 11, 'a')},
        {"1 scan.jpg", "scan", "image/jpeg", std::string(900000, 'b')}};

    rig.viewer->answers().showPictures(first);
    RecordingTransport& path = rig.transport();
    const std::string helperNonce = rig.helperNonce();
    path.deliver(host.challenge(helperNonce));
    ASSERT_EQ(path.sentOf(Kind::prove).size(), 1u);
    path.deliver(SignalMessage::make(Kind::accepted));
    ASSERT_TRUE(waitUntil([&] { return !path.sentOf(Kind::offer).empty(); }));
    EXPECT_TRUE(log.contains("Wickerlane file link (asking): accepted; no relay offered"));
    const SignalMessage offer = path.sentOf(Kind::offer)[0];
    ASSERT_TRUE(offer.sdp);

    // The serving side, its messages handed over by the test.
    auto toHelper = std::make_shared<RecordingTransport>();
    FileLinkPeer serve(test::loopbackEngine(), FileLinkPeer::Role::serve, toHelper, {}, *rig.defaults, qtTimerFactory(),
                       pictures);
    serve.signAnswer = [&](const std::string& sdp) {
        return std::optional<std::string>(host.key.sign(answerSignatureMessage(helperNonce, sdp)));
    };
    serve.applyOffer(offer);
    std::size_t relayedToHelper = 0, relayedToHost = 0;
    bool closedSignalling = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (; relayedToHelper < toHelper->sent.size(); ++relayedToHelper)
                path.deliver(toHelper->sent[relayedToHelper]);
            for (; relayedToHost < path.sent.size(); ++relayedToHost)
                if (path.sent[relayedToHost].kind == Kind::candidate)
                    serve.addRemoteCandidate(path.sent[relayedToHost]);
            AttachmentFetcher* fetcher = rig.viewer->answers().fetcher("req-1");
            if (!closedSignalling && fetcher && fetcher->peer() && fetcher->peer()->hasConnected()) {
                path.dropLink();
                closedSignalling = true;
            }
            return rig.viewer->answers().pictures().count("req-1") > 0;
        },
        20000));
    EXPECT_TRUE(closedSignalling);
    EXPECT_TRUE(log.contains("the pictures keep coming directly"));
    EXPECT_EQ(rig.viewer->answers().pictures().at("req-1"), pictures);
    ASSERT_TRUE(rig.viewer->answers().picturesShown());
    EXPECT_EQ(rig.viewer->answers().picturesShown()->id, "req-1");
    EXPECT_TRUE(rig.viewer->answers().fetchingPictures().empty());
    EXPECT_TRUE(log.contains("Wickerlane file link (asking): done: 2 files"));
    EXPECT_TRUE(alerts().empty());

    // Fetched once: asking again shows them without another fetch.
    rig.viewer->answers().setPicturesShown(std::nullopt);
    const auto paths = rig.transports.size();
    rig.viewer->answers().showPictures(first);
    EXPECT_EQ(rig.transports.size(), paths);
    EXPECT_TRUE(rig.viewer->answers().picturesShown());
}

} // namespace
} // namespace wl::test
