// Key records, mail delivery answers and the mailbox link, including a kill -9.

#include "ServiceTestKit.h"

#include <set>

namespace wl::test {
namespace {

class Mailbox : public ServiceTest {
protected:
    void SetUp() override { startService(); }
};

class MailLimits : public ServiceTest {
protected:
    void SetUp() override { startService({"--mailbox-capacity", "5", "--sender-rate", "4"}); }
};

std::string envelopeId(const std::string& body)
{
    return nlohmann::json::parse(body, nullptr, false).value("id", std::string());
}

TEST_F(Mailbox, KeyRecordsArePublishedAndChecked)
{
    TestDevice device, other;
    std::string body;
    EXPECT_EQ(http("GET", "/v1/keys/" + device.id), 404);
    ASSERT_EQ(http("PUT", device.keysTarget(), device.keyRecordJson()), 200);
    ASSERT_EQ(http("GET", "/v1/keys/" + device.id, {}, &body), 200);
    auto record = KeyRecord::decode(body);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, *KeyRecord::decode(device.keyRecordJson()));
    EXPECT_EQ(record->publishedAt, 700000000.5);
    EXPECT_TRUE(record->isValid());

    // Signed query items of another device, or for another purpose: 401.
    EXPECT_EQ(http("PUT", "/v1/keys/" + device.id + other.query(kPurposeKeys), device.keyRecordJson()), 401);
    EXPECT_EQ(http("PUT", "/v1/keys/" + device.id + device.query(kPurposeHost), device.keyRecordJson()), 401);
    // Another device's record under this id: 400; malformed: 400.
    EXPECT_EQ(http("PUT", device.keysTarget(), other.keyRecordJson()), 400);
    EXPECT_EQ(http("PUT", device.keysTarget(), "{\"id\":1}"), 400);
    auto badMail = nlohmann::json::parse(device.keyRecordJson());
    badMail["mailKey"] = "AAAA";
    EXPECT_EQ(http("PUT", device.keysTarget(), badMail.dump()), 400);
    // A signature that does not hold: 401.
    auto forged = nlohmann::json::parse(device.keyRecordJson());
    forged["mailKey"] = AgreementKey::generate().publicKeyBase64();
    EXPECT_EQ(http("PUT", device.keysTarget(), forged.dump()), 401);
    // Over 4 KiB: 413.
    auto padded = nlohmann::json::parse(device.keyRecordJson());
    padded["padding"] = std::string(5000, 'x');
    EXPECT_EQ(http("PUT", device.keysTarget(), padded.dump()), 413);
    // A new PUT replaces the record.
    TestDevice sameKeyNewMail = device;
    sameKeyNewMail.mail = AgreementKey::generate();
    ASSERT_EQ(http("PUT", sameKeyNewMail.keysTarget(), sameKeyNewMail.keyRecordJson()), 200);
    ASSERT_EQ(http("GET", "/v1/keys/" + device.id, {}, &body), 200);
    EXPECT_EQ(KeyRecord::decode(body)->mailKey, sameKeyNewMail.mail.publicKeyBase64());
}

TEST_F(MailLimits, PostAnswersFollowTheCheckOrder)
{
    TestDevice ann, bo, stranger;
    ASSERT_TRUE(publishKeys(ann));
    std::string toAnn = "/v1/mail/" + ann.id;

    // Bo has no key record yet: mail to Bo is 404, mail from Bo is 401.
    EXPECT_EQ(http("POST", "/v1/mail/" + bo.id, sealFor(ann, bo)), 404);
    EXPECT_EQ(http("POST", toAnn, sealFor(bo, ann)), 401);
    ASSERT_TRUE(publishKeys(bo));
    ASSERT_TRUE(publishKeys(stranger));

    EXPECT_EQ(http("POST", toAnn, "{not json"), 400);
    EXPECT_EQ(http("POST", toAnn, "{\"id\":\"x\"}"), 400);
    EXPECT_EQ(http("POST", toAnn, std::string(70000, 'x')), 413);
    // The envelope names another recipient than the path.
    EXPECT_EQ(http("POST", toAnn, sealFor(bo, stranger)), 404);
    // Signed by someone else than `from`.
    auto forged = nlohmann::json::parse(sealFor(stranger, ann));
    forged["from"] = bo.id;
    EXPECT_EQ(http("POST", toAnn, forged.dump()), 401);

    auto first = sealFor(bo, ann, "one");
    EXPECT_EQ(http("POST", toAnn, first), 202);
    // The same envelope again: 202, stored once, not counted.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(http("POST", toAnn, first), 202);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(http("POST", toAnn, sealFor(bo, ann)), 202) << i;
    // Bo's four a minute are used up; a forgery in Bo's name did not count against him above.
    EXPECT_EQ(http("POST", toAnn, sealFor(bo, ann)), 429);
    // Another sender fills the mailbox to its five.
    EXPECT_EQ(http("POST", toAnn, sealFor(stranger, ann)), 202);
    EXPECT_EQ(http("POST", toAnn, sealFor(stranger, ann)), 429);

    WsTestClient mailbox;
    ASSERT_TRUE(mailbox.open(port(), ann.mailboxTarget()));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(mailbox.receive()) << i;
    EXPECT_TRUE(mailbox.quietFor(std::chrono::milliseconds(50)));
}

TEST_F(Mailbox, DeliversOldestFirstRedeliversAndDeletesOnAck)
{
    TestDevice ann, bo;
    ASSERT_TRUE(publishKeys(ann));
    ASSERT_TRUE(publishKeys(bo));
    std::vector<std::string> posted;
    for (int i = 0; i < 3; ++i) {
        posted.push_back(sealFor(bo, ann, "message " + std::to_string(i)));
        ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, posted.back()), 202);
    }
    {
        WsTestClient mailbox;
        ASSERT_TRUE(mailbox.open(port(), ann.mailboxTarget()));
        for (const auto& body : posted)
            EXPECT_EQ(mailbox.receive(), body); // oldest first, the exact bytes posted
        // New mail arrives on the open link.
        posted.push_back(sealFor(bo, ann, "live"));
        ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, posted.back()), 202);
        EXPECT_EQ(mailbox.receive(), posted.back());
        // Acknowledge the first and the live one; junk acknowledgements are ignored.
        mailbox.send("{\"ack\":\"" + envelopeId(posted[0]) + "\"}");
        mailbox.send("{\"ack\":\"" + envelopeId(posted[3]) + "\"}");
        mailbox.send("{\"ack\":42}");
        mailbox.send("{\"ack\":\"00000000-0000-4000-8000-000000000000\"}");
        mailbox.send("garbage");
        mailbox.close();
    }
    WsTestClient again;
    ASSERT_TRUE(again.open(port(), ann.mailboxTarget()));
    EXPECT_EQ(again.receive(), posted[1]);
    EXPECT_EQ(again.receive(), posted[2]);
    EXPECT_TRUE(again.quietFor(std::chrono::milliseconds(50)));

    // A newer mailbox link replaces the older one, which is closed with 4000.
    WsTestClient newer;
    ASSERT_TRUE(newer.open(port(), ann.mailboxTarget()));
    EXPECT_EQ(again.waitClosed(), 4000);
    EXPECT_EQ(newer.receive(), posted[1]);
    EXPECT_EQ(newer.receive(), posted[2]);

    // Once acknowledged and deleted, the same id is new again.
    newer.send("{\"ack\":\"" + envelopeId(posted[1]) + "\"}");
    newer.close();
    ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, posted[1]), 202);
}

TEST(MailboxDurability, KillNineLosesNothingUnacknowledged)
{
    TestDevice ann, bo;
    ServiceProcess service({"--sender-rate", "1000"});
    ASSERT_TRUE(service.start()) << service.log();
    auto http = [&](const std::string& method, const std::string& target, const std::string& body = {}) {
        return ServiceProcess::httpRequest(service.port(), method, target, body);
    };
    ASSERT_EQ(http("PUT", ann.keysTarget(), ann.keyRecordJson()), 200);
    ASSERT_EQ(http("PUT", bo.keysTarget(), bo.keyRecordJson()), 200);

    std::vector<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        MailContent content;
        content.kind = MailContent::Kind::message;
        content.sentAt = 700000000 + i;
        content.text = "note " + std::to_string(i);
        auto envelope = MailEnvelope::seal(content, bo.key, ann.id, ann.mail.publicKeyBase64());
        ids.push_back(envelope.id);
        ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, envelope.encode()), 202) << i;
    }
    service.kill9();
    ASSERT_TRUE(service.restart()) << service.log();

    {
        WsTestClient mailbox;
        ASSERT_TRUE(mailbox.open(service.port(), ann.mailboxTarget()));
        std::vector<std::string> received;
        for (int i = 0; i < 100; ++i) {
            auto frame = mailbox.receive();
            ASSERT_TRUE(frame) << "only " << i << " of 100 arrived";
            auto envelope = MailEnvelope::decode(*frame);
            ASSERT_TRUE(envelope);
            EXPECT_TRUE(envelope->open(ann.mail, ann.id, bo.key.publicKeyBase64()).has_value());
            received.push_back(envelope->id);
            mailbox.send("{\"ack\":\"" + envelope->id + "\"}");
        }
        EXPECT_EQ(received, ids);
        EXPECT_TRUE(mailbox.quietFor(std::chrono::milliseconds(50)));
        mailbox.close(); // the service has read every acknowledgement once it answers the close
    }
    // Acknowledged means gone, across another kill -9 too.
    service.kill9();
    ASSERT_TRUE(service.restart()) << service.log();
    MailContent marker;
    marker.kind = MailContent::Kind::message;
    marker.sentAt = 800000000;
    auto markerEnvelope = MailEnvelope::seal(marker, bo.key, ann.id, ann.mail.publicKeyBase64());
    ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, markerEnvelope.encode()), 202);
    WsTestClient mailbox;
    ASSERT_TRUE(mailbox.open(service.port(), ann.mailboxTarget()));
    auto first = mailbox.receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(MailEnvelope::decode(*first)->id, markerEnvelope.id);
}

} // namespace
} // namespace wl::test

namespace wl::test {
namespace {

TEST_F(Mailbox, LogNamesEventsButNeverKeysBodiesOrCodes)
{
    TestDevice ann, bo;
    ASSERT_TRUE(publishKeys(ann));
    ASSERT_TRUE(publishKeys(bo));
    auto body = sealFor(bo, ann, "private words");
    ASSERT_EQ(http("POST", "/v1/mail/" + ann.id, body), 202);
    {
        WsTestClient mailbox, host, pairHost, pairJoin;
        ASSERT_TRUE(mailbox.open(port(), ann.mailboxTarget()));
        ASSERT_TRUE(mailbox.receive());
        ASSERT_TRUE(host.open(port(), ann.hostTarget()));
        ASSERT_TRUE(pairHost.open(port(), "/v1/pair/host/QRST5678"));
        ASSERT_TRUE(pairJoin.open(port(), "/v1/pair/join/QRST5678"));
        pairJoin.close();
        EXPECT_EQ(pairHost.waitClosed(), 4410);
        host.close();
        mailbox.close();
    }
    ASSERT_TRUE(waitOnline(ann.id, false));
    auto log = service->log();
    EXPECT_NE(log.find("host " + ann.id.substr(0, 8) + " online"), std::string::npos) << log;
    EXPECT_NE(log.find("mailbox " + ann.id.substr(0, 8) + " open, 1 waiting"), std::string::npos) << log;
    for (const auto& secret :
         {ann.key.publicKeyBase64(), bo.key.publicKeyBase64(), ann.mail.publicKeyBase64(),
          nlohmann::json::parse(body)["box"].get<std::string>(),
          nlohmann::json::parse(body)["signature"].get<std::string>(), std::string("QRST5678"), ann.id, bo.id})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

} // namespace
} // namespace wl::test
