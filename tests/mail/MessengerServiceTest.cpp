// Two messengers with their own settings and keys, against the real introduction
// service on loopback.
#include "MailTestKit.h"

#include "protocol/MailEnvelope.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace wl::test {
namespace {

class MessengerService : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.start()) << service.log();
        a.make(service.httpUrl());
        b.make(service.httpUrl());
        a.pairWith(b);
        b.pairWith(a);
    }

    // Every frame B's mailbox link delivers, then handled as usual.
    void countFramesAtB()
    {
        auto* link = b.messenger->mailboxLink();
        link->onEnvelope = [this](const std::string& frame) {
            framesAtB.push_back(frame);
            b.messenger->receiveFrame(frame);
        };
    }

    bool bHas(const std::string& text)
    {
        return waitUntil(
            [&] {
                return std::any_of(b.messenger->messages().begin(), b.messenger->messages().end(),
                                   [&](const StoredMessage& m) { return m.content.text == text; });
            },
            10000);
    }

    ServiceProcess service;
    Mac a{"Anna's Mac"};
    Mac b{"Ben's Mac"};
    std::vector<std::string> framesAtB;
};

TEST_F(MessengerService, SealedMailGoesBothWaysAndIsStoredAndAnnounced)
{
    ASSERT_TRUE(a.start(service));
    ASSERT_TRUE(b.start(service));

    auto sent = sendAndWait(*a.messenger, textMail("Hello Ben"), b.record());
    ASSERT_TRUE(sent.ok());
    EXPECT_TRUE(sent.message->outgoing);
    EXPECT_EQ(sent.message->peerId, b.id());
    ASSERT_EQ(a.messenger->messages().size(), 1u);
    EXPECT_EQ(a.messenger->messages().back(), *sent.message);

    ASSERT_TRUE(bHas("Hello Ben"));
    const auto got = b.messenger->messages().back();
    EXPECT_EQ(got.id, sent.message->id);
    EXPECT_FALSE(got.outgoing);
    EXPECT_EQ(got.peerId, a.id());
    EXPECT_EQ(got.peerName, "Anna's Mac");
    ASSERT_EQ(b.received.size(), 1u);
    ASSERT_EQ(b.notifier.posted.size(), 1u);
    EXPECT_EQ(b.notifier.posted[0].title, "Anna's Mac");
    EXPECT_EQ(b.notifier.posted[0].body, "Hello Ben");
    EXPECT_EQ(b.notifier.posted[0].identifier, got.id);

    // A reply the other way, through compose and askForText.
    b.prompts.answerText(std::string("  Hi Anna \n"));
    b.messenger->compose(a.record(), got);
    ASSERT_TRUE(waitUntil([&] { return a.received.size() == 1; }, 10000));
    EXPECT_EQ(a.received[0].content.kind, MailContent::Kind::reply);
    EXPECT_EQ(a.received[0].content.text, "Hi Anna");
    EXPECT_EQ(a.received[0].content.replyTo, got.id);
    auto questions = b.prompts.questions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title, "Reply to Anna's Mac");
    EXPECT_EQ(questions[0].informativeText, "\u201CHello Ben\u201D");
    EXPECT_TRUE(waitUntil([&] { return b.messenger->replies({got.id}).size() == 1; }));
    EXPECT_EQ(a.messenger->replies({got.id}).size(), 1u);
}

TEST_F(MessengerService, QuietRepeatedAndUnpairedMailIsHandledOnceAndAlwaysAcknowledged)
{
    Mac stranger{"Stranger"};
    stranger.make(service.httpUrl());
    stranger.pairWith(b); // it knows B; B never paired with it
    ASSERT_TRUE(a.start(service));
    ASSERT_TRUE(b.start(service));
    ASSERT_TRUE(stranger.start(service));
    countFramesAtB();

    // A quiet kind: handed on, not stored, no notification.
    MailContent access;
    access.kind = MailContent::Kind::access;
    access.sentAt = dateNow();
    access.unattended = false;
    ASSERT_TRUE(sendAndWait(*a.messenger, access, b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return b.quiet.size() == 1; }));
    EXPECT_EQ(b.quiet[0].kind, MailContent::Kind::access);
    EXPECT_TRUE(b.messenger->messages().empty());
    EXPECT_TRUE(b.notifier.posted.empty());

    // The same envelope posted twice (after the first was acknowledged) is handled once.
    auto envelope = MailEnvelope::seal(textMail("twice"), a.device, b.id(), b.mail.publicKeyBase64());
    ASSERT_EQ(ServiceProcess::httpRequest(service.port(), "POST", "/v1/mail/" + b.id(), envelope.encode()), 202);
    ASSERT_TRUE(bHas("twice"));
    // A round trip behind it, so the service has taken the acknowledgement before the repeat.
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("sync"), b.record()).ok());
    ASSERT_TRUE(bHas("sync"));
    ASSERT_EQ(ServiceProcess::httpRequest(service.port(), "POST", "/v1/mail/" + b.id(), envelope.encode()), 202);
    // Mail from a device B never paired with.
    ASSERT_TRUE(sendAndWait(*stranger.messenger, textMail("let me in"), b.record()).ok());
    // A marker behind them: once it is stored, the two before it were handled.
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("marker"), b.record()).ok());
    ASSERT_TRUE(bHas("marker"));
    auto count = [&](const std::string& text) {
        return std::count_if(b.messenger->messages().begin(), b.messenger->messages().end(),
                             [&](const StoredMessage& m) { return m.content.text == text; });
    };
    EXPECT_EQ(std::count_if(framesAtB.begin(), framesAtB.end(),
                            [&](const std::string& f) { return f.find(envelope.id) != std::string::npos; }),
              2);
    EXPECT_EQ(count("twice"), 1);
    EXPECT_EQ(count("let me in"), 0);
    EXPECT_EQ(b.received.size(), 3u);

    // Everything was acknowledged: a new connection gets only what is new.
    auto before = framesAtB.size();
    b.messenger->stop();
    b.messenger->start();
    countFramesAtB();
    ASSERT_TRUE(waitUntil([&] { return b.messenger->mailboxLink()->isOpen(); }));
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("after reconnect"), b.record()).ok());
    ASSERT_TRUE(bHas("after reconnect"));
    ASSERT_EQ(framesAtB.size(), before + 1);
    EXPECT_NE(framesAtB.back().find(b.messenger->messages().back().id), std::string::npos);
}

TEST_F(MessengerService, MailArrivingWhileThisMacsKeysCannotBeReadIsKeptForLater)
{
    // B's own mail key can be read at start (to publish the key record), then not for a
    // while, as with a locked keyring.
    auto locked = std::make_shared<bool>(false);
    MessengerOptions options;
    options.identity = MailIdentity::inMemory(b.defaults, b.name, b.device, b.mail, b.person);
    auto mailKey = options.identity.mailKey;
    options.identity.mailKey = [locked, mailKey]() -> std::optional<AgreementKey> {
        if (*locked)
            return std::nullopt;
        return mailKey();
    };
    // The same for the device key, once the link is open.
    auto deviceLocked = std::make_shared<bool>(false);
    auto deviceKey = options.identity.deviceKey;
    options.identity.deviceKey = [deviceLocked, deviceKey]() -> std::optional<SigningKey> {
        if (*deviceLocked)
            return std::nullopt;
        return deviceKey();
    };
    const auto url = service.httpUrl();
    options.serviceURL = [url] { return QUrl(QString::fromStdString(url)); };
    options.notifier = &b.notifier;
    options.prompts = &b.prompts;
    options.timers = qtTimerFactory();
    b.destroy();
    Messenger messenger(
        "WLMessages", [this] { return b.contacts; }, options);
    std::vector<std::string> frames;
    messenger.start();
    messenger.mailboxLink()->onEnvelope = [&](const std::string& frame) {
        frames.push_back(frame);
        messenger.receiveFrame(frame);
    };
    ASSERT_TRUE(waitUntil([&] {
        return messenger.mailboxLink()->isOpen() &&
            ServiceProcess::httpRequest(service.port(), "GET", "/v1/keys/" + b.id()) == 200;
    }));
    ASSERT_TRUE(a.start(service));

    *locked = true;
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("while locked"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }, 10000));
    EXPECT_TRUE(messenger.messages().empty());

    // Readable again: the next connection brings the same mail, which is now stored.
    *locked = false;
    messenger.stop();
    messenger.start();
    messenger.mailboxLink()->onEnvelope = [&](const std::string& frame) {
        frames.push_back(frame);
        messenger.receiveFrame(frame);
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::any_of(messenger.messages().begin(), messenger.messages().end(),
                               [](const StoredMessage& m) { return m.content.text == "while locked"; });
        },
        10000));

    ASSERT_TRUE(waitUntil([&] { return messenger.mailboxLink()->isOpen(); }));
    const auto before = frames.size();
    *deviceLocked = true;
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("device key locked"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return frames.size() == before + 1; }, 10000));
    EXPECT_EQ(messenger.messages().size(), 1u);
    *deviceLocked = false;
    messenger.stop();
    messenger.start();
    ASSERT_TRUE(waitUntil([&] { return messenger.messages().size() == 2; }, 10000));
    EXPECT_EQ(messenger.messages().back().content.text, "device key locked");
}

TEST_F(MessengerService, MailIsAcknowledgedOnlyOnceTheSettingsAreWritten)
{
    // Settings that cannot be written for now (a full disk, say).
    struct UnwritableDefaults : MemoryDefaults {
        bool writable = false;
        bool sync() override { return writable; }
    };
    auto settings = std::make_shared<UnwritableDefaults>();
    MessengerOptions options;
    options.identity = MailIdentity::inMemory(settings, b.name, b.device, b.mail, b.person);
    const auto url = service.httpUrl();
    options.serviceURL = [url] { return QUrl(QString::fromStdString(url)); };
    options.notifier = &b.notifier;
    options.prompts = &b.prompts;
    options.timers = qtTimerFactory();
    b.destroy();
    Messenger messenger(
        "WLMessages", [this] { return b.contacts; }, options);
    std::vector<std::string> frames;
    auto listen = [&] {
        messenger.mailboxLink()->onEnvelope = [&](const std::string& frame) {
            frames.push_back(frame);
            messenger.receiveFrame(frame);
        };
    };
    messenger.start();
    listen();
    ASSERT_TRUE(waitUntil([&] {
        return messenger.mailboxLink()->isOpen() &&
            ServiceProcess::httpRequest(service.port(), "GET", "/v1/keys/" + b.id()) == 200;
    }));
    ASSERT_TRUE(a.start(service));

    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("not on disk yet"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 1; }, 10000));
    EXPECT_EQ(messenger.messages().size(), 1u);

    // Not acknowledged: the next connection brings it again, and it is handled once.
    settings->writable = true;
    messenger.stop();
    messenger.start();
    listen();
    ASSERT_TRUE(waitUntil([&] { return frames.size() == 2; }, 10000));
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(messenger.messages().size(), 1u);

    // Acknowledged now: a further connection brings only new mail.
    messenger.stop();
    messenger.start();
    listen();
    ASSERT_TRUE(waitUntil([&] { return messenger.mailboxLink()->isOpen(); }));
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("after"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return messenger.messages().size() == 2; }, 10000));
    EXPECT_EQ(frames.size(), 3u);
}

TEST_F(MessengerService, HistoryKeepsTheNewest200AcrossARestart)
{
    // 199 older messages already stored.
    std::vector<StoredMessage> old;
    for (int i = 0; i < 199; ++i) {
        StoredMessage m;
        m.id = "old-" + std::to_string(i);
        m.peerId = a.id();
        m.peerName = a.name;
        m.content = textMail("old " + std::to_string(i));
        m.at = 1000 + i;
        old.push_back(m);
    }
    b.destroy();
    b.defaults->setData("WLMessages", StoredMessage::encodeList(old));
    b.make(service.httpUrl());
    ASSERT_EQ(b.messenger->messages().size(), 199u);
    ASSERT_TRUE(a.start(service));
    ASSERT_TRUE(b.start(service));

    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("new 1"), b.record()).ok());
    ASSERT_TRUE(bHas("new 1"));
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("new 2"), b.record()).ok());
    ASSERT_TRUE(bHas("new 2"));
    ASSERT_EQ(b.messenger->messages().size(), 200u);
    EXPECT_EQ(b.messenger->messages().front().id, "old-1");

    // A new messenger on the same settings reads the same history, in the same order.
    auto before = b.messenger->messages();
    b.destroy();
    b.make(service.httpUrl());
    EXPECT_EQ(b.messenger->messages(), before);
    EXPECT_EQ(b.messenger->messages().back().content.text, "new 2");
}

TEST_F(MessengerService, SendResultsFollowTheServiceAnswer)
{
    ASSERT_TRUE(b.start(service));

    // 404: a paired Mac that never published a key record.
    Mac silent{"Silent"};
    auto result = sendAndWait(*a.messenger, textMail("anyone?"), silent.record());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(*result.error, Messenger::SendError::noKey());

    // A key record that is not the paired key: not used.
    auto impostor = b.record();
    impostor.publicKey = SigningKey::generate().publicKeyBase64();
    result = sendAndWait(*a.messenger, textMail("to whom?"), impostor);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(*result.error, Messenger::SendError::noKey());

    // This computer's own key can't be read: nothing goes out, and the alert says why.
    MessengerOptions keyless;
    keyless.identity = MailIdentity::inMemory(a.defaults, a.name, a.device, a.mail, a.person);
    keyless.identity.deviceKey = [] { return std::optional<SigningKey>(); };
    keyless.serviceURL = [&] { return QUrl(QString::fromStdString(service.httpUrl())); };
    ScriptedPrompts prompts;
    keyless.prompts = &prompts;
    keyless.timers = qtTimerFactory();
    keyless.notifier = &a.notifier;
    Messenger unsignable(
        "WLMessages", [&] { return a.contacts; }, keyless);
    result = sendAndWait(unsignable, textMail("signed by whom?"), b.record());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(*result.error, Messenger::SendError::ownKeyUnreadable());
    prompts.answerText(std::string("and now?"));
    unsignable.compose(b.record());
    ASSERT_TRUE(waitUntil([&] { return prompts.count() == 2; }, 10000));
    EXPECT_EQ(prompts.questions()[1].title, "Message not sent");
    EXPECT_EQ(prompts.questions()[1].informativeText, "Couldn't read this computer's key, so nothing was sent.");

    // Nothing of the failures was stored.
    EXPECT_TRUE(a.messenger->messages().empty());

    // A stopped service: offline.
    service.stop();
    result = sendAndWait(*a.messenger, textMail("hello?"), b.record());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(*result.error, Messenger::SendError::offline());
}

TEST(MessengerLimits, TooManyMailsIsRefusedWith429)
{
    ServiceProcess service({"--sender-rate=2"});
    ASSERT_TRUE(service.start()) << service.log();
    Mac a{"Anna's Mac"}, b{"Ben's Mac"};
    a.make(service.httpUrl());
    b.make(service.httpUrl());
    a.pairWith(b);
    b.pairWith(a);
    ASSERT_TRUE(a.start(service));
    ASSERT_TRUE(b.start(service));
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("1"), b.record()).ok());
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("2"), b.record()).ok());
    auto result = sendAndWait(*a.messenger, textMail("3"), b.record());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(*result.error, Messenger::SendError::refused(429));
    EXPECT_EQ(Messenger::sendErrorText(*result.error), "Too many messages for now. Try again in a few minutes.");
    EXPECT_EQ(a.messenger->messages().size(), 2u);

    // compose shows the messenger's own alert.
    a.prompts.answerText(std::string("4"));
    a.messenger->compose(b.record());
    ASSERT_TRUE(waitUntil([&] { return a.prompts.count() == 2; }, 10000));
    EXPECT_EQ(a.prompts.questions()[1].informativeText, "Too many messages for now. Try again in a few minutes.");
}

} // namespace
} // namespace wl::test
