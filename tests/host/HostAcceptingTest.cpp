// Accepting help requests (the relay link at the real service, keep-awake, the status
// line), pairing a helper through the real rendezvous, unattended access with its PIN
// prompt, and a picture fetch over the file link.
#include "HostTestKit.h"

#include "host/HelpRequestCenter.h"
#include "host/KeepAwake.h"
#include "host/PairingPanelController.h"
#include "mail/FileLinkPeer.h"
#include "mail/PairingClient.h"
#include "mail/PairingHost.h"
#include "platform/Account.h"
#include "platform/Log.h"
#include "platform/Required.h"
#include "signalling/IntroductionService.h"
#include "signalling/RelayLink.h"
#include "signalling/WebSocketSignalChannel.h"
#include "platform/linux/QtTimers.h"

#include <nlohmann/json.hpp>

namespace wl::test {
namespace {

using Kind = SignalMessage::Kind;

bool onlineAtService(HostRig& rig)
{
    std::string body;
    if (ServiceProcess::httpRequest(rig.service.port(), "GET", "/v1/status/" + rig.hostId(), {}, &body) != 200)
        return false;
    auto json = nlohmann::json::parse(body, nullptr, false);
    return json.is_object() && json.value("online", false);
}

TEST(HostSessionAccepting, TheSwitchOpensAndClosesTheRelayLinkAndKeepsAwake)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});

    // First launch: not accepting, nothing opened, no assertion.
    rig.make();
    EXPECT_FALSE(rig.host->isListening());
    EXPECT_EQ(rig.host->statusLine(), "Not accepting help requests");
    ASSERT_TRUE(test::waitForNextTurn()) << "what the launch queued has run";
    EXPECT_FALSE(onlineAtService(rig));
    EXPECT_EQ(rig.power->taken, 0);

    // On: "Connecting…" until the link opens, then online; awake on AC power.
    int changes = 0;
    QObject::connect(rig.host.get(), &HostController::changed, [&] { ++changes; });
    rig.host->setAcceptingHelpRequests(true);
    EXPECT_TRUE(rig.host->isListening());
    EXPECT_EQ(rig.host->statusLine(), "Connecting\u2026");
    EXPECT_TRUE(rig.defaults->boolValue(HostController::kAcceptHelpRequestsKey));
    ASSERT_TRUE(waitUntil([&] { return rig.host->isOnline(); }));
    EXPECT_EQ(rig.host->statusLine(), "Online \u00b7 waiting for help requests");
    EXPECT_TRUE(onlineAtService(rig));
    EXPECT_FALSE(rig.power->held.empty());
    EXPECT_EQ(rig.power->held.size(), 1u);
    EXPECT_GT(changes, 0);

    // Twice: one link, one watch.
    auto* channel = rig.host->handshake().relay().channel.get();
    rig.host->setAcceptingHelpRequests(true);
    EXPECT_EQ(rig.host->handshake().relay().channel.get(), channel);
    EXPECT_EQ(rig.power->watchesStarted, 1);

    // Unplugged while accepting: the assertion goes; plugged in: back.
    rig.power->plugIn(false);
    EXPECT_TRUE(rig.power->held.empty());
    rig.power->plugIn(true);
    EXPECT_FALSE(rig.power->held.empty());

    // While a helper is in session the status names them, whatever the link does.
    rig.prompts.answerAlert(0);
    rig.reach(ada);
    ada.hello();
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    EXPECT_EQ(rig.host->statusLine(), "Ada Lovelace is helping");

    // Off: the link closes (offline at the service), the assertion is released and the
    // watch removed. The attempt's connection never stood (the helper sent no offer), so
    // it can't go on without the link and ends with it.
    rig.host->setAcceptingHelpRequests(false);
    EXPECT_FALSE(rig.host->isListening());
    EXPECT_FALSE(rig.host->isOnline());
    EXPECT_FALSE(rig.defaults->boolValue(HostController::kAcceptHelpRequestsKey));
    EXPECT_TRUE(rig.power->held.empty());
    EXPECT_FALSE(rig.power->watching());
    ASSERT_TRUE(waitUntil([&] { return !onlineAtService(rig); }));
    EXPECT_FALSE(rig.host->helperName());
    EXPECT_EQ(rig.host->statusLine(), "Not accepting help requests");

    // Accepting was stored: the next launch connects by itself.
    rig.host->setAcceptingHelpRequests(true);
    rig.destroy();
    EXPECT_TRUE(rig.power->held.empty()) << "a controller that goes lets go";
    rig.make();
    EXPECT_TRUE(rig.host->isListening());
    EXPECT_EQ(rig.host->statusLine(), "Connecting\u2026");
    ASSERT_TRUE(waitUntil([&] { return rig.host->isOnline(); }));
}

// Pairing as host through the real rendezvous, with the helper's side of the program.
TEST(HostSessionPairing, AllowStoresTheHelperAndAnswersAcceptedWithTheUsersName)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    rig.make();

    rig.prompts.answerAlert(0); // "Numbers match: Allow"
    const std::string code = rig.startPairing();
    ASSERT_FALSE(code.empty()) << "the service holds the code";
    EXPECT_TRUE(rig.host->isPairing());
    EXPECT_NE(rig.host->pairedHelpers().pairingPanel().panel(), nullptr);
    rig.host->pairedHelpers().startPairing(); // a second start changes nothing
    EXPECT_EQ(rig.host->pairedHelpers().pairing()->code(), code);

    SigningKey helperKey = SigningKey::generate();
    PairingClient client(code, qtTimerFactory(), rig.info);
    client.name = "Grace Hopper";
    client.signingKey = helperKey;
    std::optional<std::string> hostName;
    std::optional<PairedDevice> paired;
    client.onVerify = [&](const std::string& name, const std::string&) { hostName = name; };
    client.onPaired = [&](const PairedDevice& device) { paired = device; };
    client.start();

    ASSERT_TRUE(waitUntil([&] { return paired.has_value(); }, 10000));
    EXPECT_EQ(hostName, userFullName()) << "the host sends its user's name, not the machine's";
    EXPECT_EQ(paired->id, rig.hostId());
    ASSERT_EQ(rig.host->helpers().size(), 1u);
    EXPECT_EQ(rig.host->helpers()[0].name, "Grace Hopper");
    EXPECT_EQ(rig.host->helpers()[0].publicKey, helperKey.publicKeyBase64());
    EXPECT_TRUE(rig.historyHas("Paired with helper Grace Hopper"));
    auto question = rig.prompts.questions().at(0);
    EXPECT_EQ(question.title, "Grace Hopper wants to be able to help with this Mac");
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Numbers match: Allow", "Don't Allow"}));
    EXPECT_NE(question.informativeText.find("Check that Grace sees this same number on their screen:\n\n"),
              std::string::npos);
    ASSERT_TRUE(waitUntil([&] { return !rig.host->isPairing(); }, 5000));
    EXPECT_EQ(rig.host->pairedHelpers().pairingPanel().panel(), nullptr);
}

TEST(HostSessionPairing, DontAllowAndAnUnusableKeyAreDeclined)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    rig.make();

    rig.prompts.answerAlert(1); // "Don't Allow"
    const std::string first = rig.startPairing();
    ASSERT_FALSE(first.empty()) << "the service holds the code";
    PairingClient refused(first, qtTimerFactory(), rig.info);
    refused.signingKey = SigningKey::generate();
    std::optional<std::string> failure;
    refused.onFailed = [&](const std::string& text) { failure = text; };
    refused.start();
    ASSERT_TRUE(waitUntil([&] { return failure.has_value(); }, 10000));
    EXPECT_EQ(*failure, "Pairing wasn't allowed on the other Mac.");
    EXPECT_TRUE(rig.host->helpers().empty());
    ASSERT_TRUE(waitUntil([&] { return !rig.host->isPairing(); }, 5000));

    // "Allow" for a key that gives no device id: nothing is stored, and the helper is
    // told no rather than yes.
    const std::string code = rig.startPairing();
    ASSERT_FALSE(code.empty()) << "the service holds the code";
    auto raw = WebSocketSignalChannel::make(IntroductionService::webSocketURL(*rig.info, "v1/pair/join/" + code),
                                            qtTimerFactory());
    std::vector<SignalMessage> atHelper;
    raw->onMessage = [&](const SignalMessage& m) { atHelper.push_back(m); };
    raw->open();
    SignalMessage request = SignalMessage::make(Kind::pairRequest);
    request.name = "Odd Key";
    request.publicKey = SigningKey::generate().publicKeyBase64();
    raw->send(request);
    ASSERT_TRUE(waitUntil([&] { return !atHelper.empty(); }, 10000));
    rig.prompts.answerAlert(0);
    rig.host->pairedHelpers().confirmPairing("Odd Key", "not a key", "123456");
    ASSERT_TRUE(waitUntil([&] { return atHelper.size() == 2; }, 5000));
    EXPECT_EQ(atHelper[1].kind, Kind::declined);
    EXPECT_TRUE(rig.host->helpers().empty());
    raw->close();
}

TEST(HostSessionPairing, UnattendedAccessNeedsAdministratorRightsAndAGoodPIN)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record(grantWithPIN("111111", 5))});
    rig.make();

    // Rights refused: nothing changes, nothing is asked.
    rig.admin->answers = {AdminAnswer::refused()};
    rig.host->pairedHelpers().allowUnattendedAccess(rig.host->helpers()[0]);
    EXPECT_EQ(rig.admin->asked, 1);
    EXPECT_EQ(rig.prompts.count(), 0u);
    EXPECT_EQ(rig.host->helpers()[0].unattended->failedAttempts, 5);

    // No way to ask for them (no polkit agent, say): an alert says what to do; nothing changes.
    rig.admin->answers = {AdminAnswer::cannotAsk("No agent is running. Start one.")};
    rig.host->pairedHelpers().allowUnattendedAccess(rig.host->helpers()[0]);
    ASSERT_EQ(rig.prompts.count(), 1u);
    EXPECT_EQ(rig.prompts.questions()[0].title, "Unattended access wasn't turned on");
    EXPECT_EQ(rig.prompts.questions()[0].informativeText, "No agent is running. Start one.");
    EXPECT_EQ(rig.host->helpers()[0].unattended->failedAttempts, 5);
    rig.prompts.clear();

    // Too short, then two different ones, then a good PIN: the locked grant is replaced.
    rig.admin->answers = {AdminAnswer::granted()};
    rig.prompts.answerSecrets(std::make_pair(std::string("12345"), std::string("12345")));
    rig.prompts.answerSecrets(std::make_pair(std::string("123456"), std::string("654321")));
    rig.prompts.answerSecrets(std::make_pair(std::string("24681012"), std::string("24681012")));
    rig.host->pairedHelpers().allowUnattendedAccess(rig.host->helpers()[0]);
    auto questions = rig.prompts.questions();
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_EQ(questions[0].title, "Set a PIN for Ada Lovelace?");
    EXPECT_EQ(questions[0].placeholders, (std::vector<std::string>{"PIN (6 or more digits)", "Same PIN again"}));
    EXPECT_EQ(questions[0].buttons, (std::vector<std::string>{"Turn On", "Cancel"}));
    const std::string tooShort = "\n\nThe PIN must be at least 6 digits.";
    EXPECT_EQ(questions[1].informativeText.substr(questions[1].informativeText.size() - tooShort.size()), tooShort);
    EXPECT_NE(questions[2].informativeText.find("\n\nThe two PINs didn't match."), std::string::npos);
    auto grant = rig.host->helpers()[0].unattended;
    ASSERT_TRUE(grant);
    EXPECT_EQ(grant->failedAttempts, 0);
    ASSERT_TRUE(grant->pinKey && grant->pinSalt);
    EXPECT_TRUE(rig.historyHas("Unattended access turned on for Ada Lovelace with a PIN"));

    // The new PIN opens it.
    ASSERT_TRUE(rig.goOnline());
    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove(std::string("24681012"));
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    ada.close();
    ASSERT_TRUE(waitUntil([&] { return !rig.host->helperName(); }));

    // Both boxes empty: access without a PIN.
    rig.prompts.clear();
    rig.admin->answers = {AdminAnswer::granted()};
    rig.prompts.answerSecrets(std::make_pair(std::string(), std::string()));
    rig.host->pairedHelpers().allowUnattendedAccess(rig.host->helpers()[0]);
    EXPECT_FALSE(rig.host->helpers()[0].unattended->pinKey);
    EXPECT_TRUE(rig.historyHas("Unattended access turned on for Ada Lovelace"));

    // Removed while connecting: the challenge is withdrawn, accessRemoved.
    rig.reach(ada);
    ada.hello(true);
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    rig.host->pairedHelpers().removeHelper(rig.host->helpers()[0]);
    EXPECT_FALSE(rig.host->handshake().busy());
    EXPECT_EQ(rig.sentOf(Kind::bye).back().message.reason, "accessRemoved");
    EXPECT_TRUE(ada.waitClosed());
    EXPECT_TRUE(rig.historyHas("Removed helper Ada Lovelace"));
    EXPECT_TRUE(rig.host->helpers().empty());
}

// A helper fetches the open help request's pictures over the file link.
TEST(HostSessionPictures, TheRequestsPicturesGoToTheHelperItWasSentTo)
{
    HostRig rig;
    ASSERT_TRUE(rig.started);
    ScriptedHelper ada("Ada Lovelace");
    rig.pair({ada.record()});
    const std::vector<TransferredFile> pictures = {
        {"0 Screenshot 1.jpg", "Screenshot 1", "image/jpeg", std::string(50000, 'a')},
        {"1 Printer.jpg", "Printer", "image/jpeg", std::string(20, 'b')}};
    HelpRequestCenter::Active active;
    active.sent[ada.id()] = "request-1";
    active.helperNames = {ada.name};
    active.sentAt = dateNow();
    active.attachments = 2;
    rig.leaveOpenRequest(active, pictures);
    rig.make();
    ASSERT_TRUE(rig.goOnline());
    rig.permissions->recordScreen = false; // a picture fetch doesn't need it

    rig.reach(ada);
    ada.hello(false, "attachments", "request-1");
    ASSERT_TRUE(ada.waitFor(Kind::challenge));
    ada.prove();
    ASSERT_TRUE(ada.waitFor(Kind::accepted));
    EXPECT_FALSE(rig.historyHas("request pictures")) << "logged once they are handed out";
    EXPECT_EQ(rig.prompts.count(), 0u) << "a picture fetch asks nobody";
    // A second prove once the file link exists is ignored (seen once the host has answered
    // the offer that comes after it on the same link).
    ada.prove();

    // The helper's side of the file link, signing its offer for this handshake.
    struct Relay : SignalTransport {
        ScriptedHelper* helper;
        void send(const SignalMessage& message) override { helper->send(message); }
        void close() override { }
    };
    auto relay = std::make_shared<Relay>();
    relay->helper = &ada;
    FileLinkPeer collect(test::loopbackEngine(), FileLinkPeer::Role::collect, relay, {}, *rig.defaults,
                         qtTimerFactory());
    const std::string hostNonce = *ada.challenge->nonce;
    collect.signOffer = [&](const std::string& sdp) -> std::optional<std::string> {
        return ada.key.sign(offerSignatureMessage(hostNonce, sdp));
    };
    std::optional<std::vector<TransferredFile>> received;
    collect.onReceived = [&](std::vector<TransferredFile> files) { received = std::move(files); };
    collect.start();
    bool answerVerified = false;
    ASSERT_TRUE(waitUntil(
        [&] {
            while (auto message = ada.waitFor(Kind::answer, 0)) {
                answerVerified = verifySignature(message->signature,
                                                 answerSignatureMessage(ada.helperNonce, *message->sdp), rig.hostKey());
                collect.applyAnswer(*message);
            }
            for (const auto& message : ada.received())
                if (message.kind == Kind::candidate)
                    collect.addRemoteCandidate(message);
            return received.has_value();
        },
        20000));
    EXPECT_TRUE(answerVerified);
    EXPECT_EQ(rig.sentOf(Kind::accepted).size(), 1u) << "the second prove was ignored";
    EXPECT_TRUE(rig.sentOf(Kind::declined).empty());
    EXPECT_EQ(*received, pictures);
    ASSERT_TRUE(waitUntil([&] { return rig.historyHas("Sent 2 request pictures to Ada Lovelace"); }));
    // The link ends when done; so does the attempt, with no session history of its own.
    ASSERT_TRUE(waitUntil([&] { return !rig.host->handshake().busy(); }, 10000));
    EXPECT_EQ(rig.sentOf(Kind::bye).back().message.reason, "stopped");
    EXPECT_FALSE(rig.historyHas("ended: stopped on this Mac"));
}

// ---- wiring ----

// What the host keeps from one run to the next goes into the settings its owner hands
// in: the controller and each of its parts made without them say so where they are
// made, instead of forgetting the paired helpers and the open request at every start.
TEST(HostWiring, APartMadeWithoutSettingsFailsAtOnce)
{
    HostRig rig;
    rig.make();
    HostController& host = *rig.host;
    MediaEngine& engine = test::loopbackEngine();
    Platform unset = rig.platform;
    unset.defaults = nullptr;
    const std::vector<std::pair<std::string, std::function<void()>>> parts = {
        {"HostController",
         [&] {
             std::make_unique<HostController>(*rig.services, engine, HostController::Options{unset, rig.identity});
         }},
        {"PairedHelpers",
         [&] {
             std::make_unique<PairedHelpers>(
                 *rig.services->messenger,
                 PairedHelpers::Options{.timers = unset.timers, .prompts = &rig.prompts, .identity = rig.identity});
         }},
        {"HostHandshake",
         [&] {
             std::make_unique<HostHandshake>(HostHandshake::Parts{*rig.services, host.handshake().relay(),
                                                                  host.pairedHelpers(), host.session(),
                                                                  host.helpRequests(), engine, rig.identity},
                                             HostHandshake::Options{.timers = unset.timers, .prompts = &rig.prompts});
         }},
        {"HelpRequestCenter",
         [&] {
             std::make_unique<HelpRequestCenter>(
                 *rig.services->messenger, [] { return std::vector<PairedDevice>{}; },
                 HelpRequestCenter::Options{.prompts = &rig.prompts});
         }},
        {"HostSession",
         [&] {
             std::make_unique<HostSession>(host.helpRequests(), engine, HostSession::Options{unset, rig.identity});
         }},
    };
    for (const auto& [part, make] : parts) {
        CapturedLog log;
        EXPECT_THROW(make(), WiringMistake) << part;
        EXPECT_TRUE(log.contains("Wickerlane: " + part + " was made without a settings store")) << part;
    }

    // Nor do they wait for a pairing or a session to find the identity that signs it, or
    // the pairing's timers, missing.
    const std::vector<std::tuple<std::string, std::string, std::function<void()>>> others = {
        {"PairedHelpers", "an identity",
         [&] {
             std::make_unique<PairedHelpers>(*rig.services->messenger,
                                             PairedHelpers::Options{.timers = rig.platform.timers,
                                                                    .defaults = rig.platform.defaults,
                                                                    .prompts = &rig.prompts,
                                                                    .info = rig.platform.info});
         }},
        {"PairedHelpers", "timers",
         [&] {
             std::make_unique<PairedHelpers>(*rig.services->messenger,
                                             PairedHelpers::Options{.defaults = rig.platform.defaults,
                                                                    .prompts = &rig.prompts,
                                                                    .info = rig.platform.info,
                                                                    .identity = rig.identity});
         }},
        {"HostSession", "an identity",
         [&] {
             std::make_unique<HostSession>(host.helpRequests(), engine, HostSession::Options{rig.platform, nullptr});
         }},
    };
    for (const auto& [part, missing, make] : others) {
        CapturedLog log;
        EXPECT_THROW(make(), WiringMistake) << part << " without " << missing;
        EXPECT_TRUE(log.contains("Wickerlane: " + part + " was made without " + missing)) << part;
    }
}

} // namespace
} // namespace wl::test
