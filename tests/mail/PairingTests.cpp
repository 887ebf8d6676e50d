// Pairing through the real introduction service on loopback: both sides, the
// comparison number, acceptance and refusal, the texts of every failure, expiry; and
// the host's pairing panel.
#include "ManualTimers.h"
#include "ServiceProcess.h"
#include "WaitUntil.h"

#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/PairingClient.h"
#include "mail/PairingHost.h"
#include "platform/InfoDictionary.h"
#include "platform/linux/QtTimers.h"
#include "protocol/Date.h"
#include "protocol/SignalMessage.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

class PairingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        service_ = new test::ServiceProcess;
        ASSERT_TRUE(service_->start()) << service_->log();
    }
    static void TearDownTestSuite()
    {
        delete service_;
        service_ = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(service_, nullptr);
        info = std::make_shared<MapInfoDictionary>(
            std::map<std::string, std::string>{{InfoKey::introductionURL, service_->httpUrl() + "/"}});
    }

    std::shared_ptr<const InfoDictionary> info;

    // What each side reported.
    struct HostEvents {
        std::optional<std::string> name, key, number;
        int requests = 0;
        int finishes = 0;
        std::optional<std::string> reason;
    };
    struct ClientEvents {
        std::optional<std::string> hostName, number;
        std::optional<PairedDevice> device;
        std::optional<std::string> failure;
        int verifies = 0, pairs = 0, failures = 0;
    };

    void watch(PairingHost& host, HostEvents& events)
    {
        host.onRequest = [&events](const std::string& name, const std::string& key, const std::string& number) {
            ++events.requests;
            events.name = name;
            events.key = key;
            events.number = number;
        };
        host.onFinished = [&events](const std::optional<std::string>& reason) {
            ++events.finishes;
            events.reason = reason;
        };
    }

    void watch(PairingClient& client, ClientEvents& events)
    {
        client.onVerify = [&events](const std::string& hostName, const std::string& number) {
            ++events.verifies;
            events.hostName = hostName;
            events.number = number;
        };
        client.onPaired = [&events](const PairedDevice& device) {
            ++events.pairs;
            events.device = device;
        };
        client.onFailed = [&events](const std::string& message) {
            ++events.failures;
            events.failure = message;
        };
    }

    // Starts the host and waits until the service holds its code.
    static bool startHost(PairingHost& host)
    {
        host.start();
        return waitUntil([&] { return host.channel() && host.channel()->isOpen(); });
    }

    static test::ServiceProcess* service_;
    SigningKey hostKey_ = SigningKey::generate();
    SigningKey helperKey_ = SigningKey::generate();
};

test::ServiceProcess* PairingTest::service_ = nullptr;

TEST_F(PairingTest, BothSidesSeeTheSameNumberAndTheHelperStoresTheHost)
{
    const std::string code = newPairingCode();
    test::ManualTimers timers;
    PairingHost host(code, timers.factory(), info);
    host.signingKey = hostKey_;
    host.name = "Studio iMac";
    HostEvents hostEvents;
    watch(host, hostEvents);
    ASSERT_TRUE(startHost(host));
    // The expiry, and the link's ping.
    ASSERT_EQ(timers.delays(), (std::vector<std::chrono::milliseconds>{600s, WebSocketSignalChannel::kPingInterval}));

    PairingClient client(code, qtTimerFactory(), info);
    client.signingKey = helperKey_;
    client.name = "Ada Lovelace";
    ClientEvents clientEvents;
    watch(client, clientEvents);
    client.start();

    ASSERT_TRUE(waitUntil([&] { return hostEvents.number && clientEvents.number; }));
    const std::string expected =
        pairingComparisonNumber(code, hostKey_.publicKeyBase64(), helperKey_.publicKeyBase64());
    EXPECT_EQ(*hostEvents.number, expected);
    EXPECT_EQ(*clientEvents.number, expected);
    EXPECT_EQ(expected.size(), 6u);
    EXPECT_EQ(hostEvents.name, "Ada Lovelace");
    EXPECT_EQ(hostEvents.key, helperKey_.publicKeyBase64());
    EXPECT_EQ(host.helperKey(), helperKey_.publicKeyBase64());
    EXPECT_EQ(clientEvents.hostName, "Studio iMac");
    ASSERT_TRUE(client.host());
    EXPECT_EQ(client.host()->publicKey, hostKey_.publicKeyBase64());

    host.answer(true);
    ASSERT_TRUE(waitUntil([&] { return clientEvents.pairs == 1; }));
    const PairedDevice& device = *clientEvents.device;
    EXPECT_EQ(device.id, fingerprintOfRaw(hostKey_.publicKeyRaw()));
    EXPECT_EQ(device.name, "Studio iMac");
    EXPECT_EQ(device.publicKey, hostKey_.publicKeyBase64());
    EXPECT_LT(std::fabs(device.pairedAt - dateNow()), 30.0);
    EXPECT_FALSE(device.unattended);
    EXPECT_FALSE(device.person);
    EXPECT_TRUE(client.finished());
    EXPECT_EQ(clientEvents.failures, 0);

    // The answer finishes the host a second later, silently (or earlier, as silently,
    // when the helper's leaving closes the rendezvous first); the expiry is off.
    ASSERT_EQ(timers.delays().size(), 3u);
    EXPECT_EQ(timers.delays()[2], 1s);
    EXPECT_EQ(timers.activeCount(600s), 0u);
    if (hostEvents.finishes == 0) {
        EXPECT_EQ(timers.activeCount(1s), 1u);
        ASSERT_TRUE(timers.fireNext(1s));
    }
    EXPECT_EQ(hostEvents.finishes, 1);
    EXPECT_EQ(hostEvents.reason, std::nullopt);
    EXPECT_TRUE(host.finished());
    EXPECT_EQ(hostEvents.requests, 1);
    EXPECT_EQ(clientEvents.verifies, 1);

    // Finishing again changes nothing.
    host.finish("late");
    client.finish();
    EXPECT_EQ(hostEvents.finishes, 1);
}

TEST_F(PairingTest, DeclinedPairingTellsTheHelper)
{
    const std::string code = newPairingCode();
    test::ManualTimers timers;
    PairingHost host(code, timers.factory(), info);
    host.signingKey = hostKey_;
    HostEvents hostEvents;
    watch(host, hostEvents);
    ASSERT_TRUE(startHost(host));

    PairingClient client(code, qtTimerFactory(), info);
    client.signingKey = helperKey_;
    ClientEvents clientEvents;
    watch(client, clientEvents);
    client.start();
    ASSERT_TRUE(waitUntil([&] { return hostEvents.requests == 1 && clientEvents.verifies == 1; }));

    host.answer(false);
    host.answer(true); // only the first answer counts
    ASSERT_TRUE(waitUntil([&] { return clientEvents.failures == 1; }));
    EXPECT_EQ(clientEvents.failure, "Pairing wasn't allowed on the other Mac.");
    EXPECT_EQ(clientEvents.pairs, 0);
    EXPECT_TRUE(client.finished());

    if (hostEvents.finishes == 0) {
        ASSERT_TRUE(timers.fireNext(1s));
    }
    EXPECT_EQ(hostEvents.finishes, 1);
    EXPECT_EQ(hostEvents.reason, std::nullopt);
    // The client is finished: its link is closed, and only what it queued before can come.
    ASSERT_TRUE(test::waitForNextTurn());
    EXPECT_EQ(clientEvents.failures, 1);
}

TEST_F(PairingTest, NoHostWaitingWithTheCode)
{
    PairingClient client(newPairingCode(), qtTimerFactory(), info);
    client.signingKey = helperKey_;
    ClientEvents clientEvents;
    watch(client, clientEvents);
    client.start();
    ASSERT_TRUE(waitUntil([&] { return clientEvents.failures == 1; }));
    EXPECT_EQ(clientEvents.failure, "No Mac is waiting with that code. Check the code, and that it hasn't expired.");
    EXPECT_EQ(clientEvents.verifies, 0);
    EXPECT_TRUE(client.finished());
}

TEST_F(PairingTest, LinkClosingBeforeTheEnd)
{
    // The host goes away after its information reached the helper.
    {
        const std::string code = newPairingCode();
        PairingHost host(code, qtTimerFactory(), info);
        host.signingKey = hostKey_;
        HostEvents hostEvents;
        watch(host, hostEvents);
        ASSERT_TRUE(startHost(host));
        PairingClient client(code, qtTimerFactory(), info);
        client.signingKey = helperKey_;
        ClientEvents clientEvents;
        watch(client, clientEvents);
        client.start();
        ASSERT_TRUE(waitUntil([&] { return clientEvents.verifies == 1; }));

        host.finish(); // the user cancelled the panel
        EXPECT_EQ(hostEvents.finishes, 1);
        EXPECT_EQ(hostEvents.reason, std::nullopt);
        ASSERT_TRUE(waitUntil([&] { return clientEvents.failures == 1; }));
        EXPECT_EQ(clientEvents.failure, "The connection closed before pairing finished. Try again with a new code.");
        EXPECT_EQ(clientEvents.pairs, 0);
    }
    // The helper goes away after its request.
    {
        const std::string code = newPairingCode();
        PairingHost host(code, qtTimerFactory(), info);
        host.signingKey = hostKey_;
        HostEvents hostEvents;
        watch(host, hostEvents);
        ASSERT_TRUE(startHost(host));
        PairingClient client(code, qtTimerFactory(), info);
        client.signingKey = helperKey_;
        ClientEvents clientEvents;
        watch(client, clientEvents);
        client.start();
        ASSERT_TRUE(waitUntil([&] { return hostEvents.requests == 1; }));

        client.finish();
        ASSERT_TRUE(waitUntil([&] { return hostEvents.finishes == 1; }));
        EXPECT_EQ(hostEvents.reason, std::string(PairingHost::kClosedReason));
        EXPECT_EQ(clientEvents.failures, 0); // finish drops the callbacks
        EXPECT_EQ(clientEvents.pairs, 0);
    }
}

TEST_F(PairingTest, ExpiryEndsTheWaitAndTheCodeIsGone)
{
    const std::string code = newPairingCode();
    test::ManualTimers timers;
    PairingHost host(code, timers.factory(), info);
    host.signingKey = hostKey_;
    HostEvents hostEvents;
    watch(host, hostEvents);
    ASSERT_TRUE(startHost(host));
    // The expiry, and the link's ping.
    ASSERT_EQ(timers.delays(), (std::vector<std::chrono::milliseconds>{600s, WebSocketSignalChannel::kPingInterval}));

    ASSERT_TRUE(timers.fireNext());
    EXPECT_EQ(hostEvents.finishes, 1);
    EXPECT_EQ(hostEvents.reason, std::string(PairingHost::kExpiredReason));
    EXPECT_TRUE(host.finished());
    EXPECT_EQ(host.channel(), nullptr);

    // A helper arriving afterwards finds no one.
    PairingClient client(code, qtTimerFactory(), info);
    client.signingKey = helperKey_;
    ClientEvents clientEvents;
    watch(client, clientEvents);
    client.start();
    ASSERT_TRUE(waitUntil([&] { return clientEvents.failures == 1; }));
    EXPECT_EQ(clientEvents.failure, "No Mac is waiting with that code. Check the code, and that it hasn't expired.");
    EXPECT_EQ(hostEvents.finishes, 1);
}

// A host speaking the rendezvous by hand: a pairInfo without a name, messages out of
// order and repeats.
TEST_F(PairingTest, HelperToleratesAnUnnamedHostAndIgnoresStrayMessages)
{
    const std::string code = newPairingCode();
    auto rawHost = WebSocketSignalChannel::make(IntroductionService::webSocketURL(*info, "v1/pair/host/" + code),
                                                qtTimerFactory());
    std::vector<SignalMessage> atHost;
    rawHost->onMessage = [&](const SignalMessage& message) { atHost.push_back(message); };
    rawHost->open();
    ASSERT_TRUE(waitUntil([&] { return rawHost->isOpen(); }));

    PairingClient client(code, qtTimerFactory(), info);
    client.signingKey = helperKey_;
    client.name = "Grace";
    ClientEvents clientEvents;
    watch(client, clientEvents);
    client.start();
    ASSERT_TRUE(waitUntil([&] { return !atHost.empty(); }));
    EXPECT_EQ(atHost[0].kind, SignalMessage::Kind::pairRequest);
    EXPECT_EQ(atHost[0].name, "Grace");
    EXPECT_EQ(atHost[0].publicKey, helperKey_.publicKeyBase64());

    // `accepted` before the host is known, and a pairInfo with a key that is not one.
    rawHost->send(SignalMessage::make(SignalMessage::Kind::accepted));
    SignalMessage broken = SignalMessage::make(SignalMessage::Kind::pairInfo);
    broken.publicKey = "bm90IGEga2V5";
    rawHost->send(broken);
    SignalMessage info = SignalMessage::make(SignalMessage::Kind::pairInfo);
    info.publicKey = hostKey_.publicKeyBase64();
    rawHost->send(info);
    SignalMessage second = SignalMessage::make(SignalMessage::Kind::pairInfo);
    second.publicKey = SigningKey::generate().publicKeyBase64();
    second.name = "Impostor";
    rawHost->send(second);
    rawHost->send(SignalMessage::make(SignalMessage::Kind::accepted));

    ASSERT_TRUE(waitUntil([&] { return clientEvents.pairs == 1; }));
    EXPECT_EQ(clientEvents.verifies, 1);
    EXPECT_EQ(clientEvents.hostName, "Mac");
    EXPECT_EQ(clientEvents.number,
              pairingComparisonNumber(code, hostKey_.publicKeyBase64(), helperKey_.publicKeyBase64()));
    EXPECT_EQ(clientEvents.device->name, "Mac");
    EXPECT_EQ(clientEvents.device->id, fingerprintOfRaw(hostKey_.publicKeyRaw()));
    rawHost->close();
}

// A helper speaking the rendezvous by hand: the host ignores a request whose key is not
// a key, answers the first good one with its own information and ignores repeats.
TEST_F(PairingTest, HostAnswersOnlyAGoodRequestOnce)
{
    const std::string code = newPairingCode();
    test::ManualTimers timers;
    PairingHost host(code, timers.factory(), info);
    host.signingKey = hostKey_;
    host.name = "Kitchen";
    HostEvents hostEvents;
    watch(host, hostEvents);
    ASSERT_TRUE(startHost(host));

    auto rawHelper = WebSocketSignalChannel::make(IntroductionService::webSocketURL(*info, "v1/pair/join/" + code),
                                                  qtTimerFactory());
    std::vector<SignalMessage> atHelper;
    rawHelper->onMessage = [&](const SignalMessage& message) { atHelper.push_back(message); };
    rawHelper->open();

    SignalMessage bad = SignalMessage::make(SignalMessage::Kind::pairRequest);
    bad.name = "Mallory";
    bad.publicKey = "AAAA";
    rawHelper->send(bad);
    SignalMessage good = SignalMessage::make(SignalMessage::Kind::pairRequest);
    good.name = "Alice";
    good.publicKey = helperKey_.publicKeyBase64();
    rawHelper->send(good);
    SignalMessage again = good;
    again.name = "Alice again";
    again.publicKey = SigningKey::generate().publicKeyBase64();
    rawHelper->send(again);

    ASSERT_TRUE(waitUntil([&] { return !atHelper.empty(); }));
    // The host answers a repeat with nothing at all, so nothing marks that it has read it:
    // a time for a wrong second answer to come, not needed for a right one.
    test::processEventsFor(300);
    ASSERT_EQ(atHelper.size(), 1u);
    EXPECT_EQ(atHelper[0].kind, SignalMessage::Kind::pairInfo);
    EXPECT_EQ(atHelper[0].name, "Kitchen");
    EXPECT_EQ(atHelper[0].publicKey, hostKey_.publicKeyBase64());
    EXPECT_EQ(hostEvents.requests, 1);
    EXPECT_EQ(hostEvents.name, "Alice");

    host.answer(true);
    ASSERT_TRUE(waitUntil([&] { return atHelper.size() == 2; }));
    EXPECT_EQ(atHelper[1].kind, SignalMessage::Kind::accepted);
    rawHelper->close();
}

} // namespace
} // namespace wl
