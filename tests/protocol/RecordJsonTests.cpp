// Golden JSON of every wire record: exact text out, same value back in.
#include "protocol/Date.h"
#include "protocol/ICEServer.h"
#include "protocol/KeyRecord.h"
#include "protocol/MailContent.h"
#include "protocol/MailEnvelope.h"
#include "protocol/PairedDevice.h"
#include "protocol/Roster.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"
#include "protocol/UnattendedGrant.h"

#include <gtest/gtest.h>

using namespace wl;

namespace {

template <class T>
void expectGolden(const T& value, const std::string& text)
{
    EXPECT_EQ(value.encode(), text);
    std::string error;
    auto decoded = T::decode(text, &error);
    ASSERT_TRUE(decoded) << error << " in " << text;
    EXPECT_EQ(*decoded, value) << text;
    // And the nlohmann form agrees with the text.
    EXPECT_EQ(value.toJson(), nlohmann::json::parse(text));
}

// Adds keys the record does not know; decoding must ignore them.
template <class T>
void expectUnknownKeysIgnored(const T& value)
{
    nlohmann::json j = value.toJson();
    j["futureField"] = {{"nested", true}};
    j["zzz"] = nullptr;
    auto decoded = T::decode(j.dump());
    ASSERT_TRUE(decoded) << j.dump();
    EXPECT_EQ(*decoded, value);
}

} // namespace

TEST(Dates, CountSecondsSince2001)
{
    EXPECT_EQ(dateFromUnix(978307200.0), 0.0);
    EXPECT_EQ(unixFromDate(1.5), 978307201.5);
    EXPECT_EQ(dateFromUnix(unixFromDate(740000000.125)), 740000000.125);
    const Date now = dateNow();
    EXPECT_GT(now, 700000000.0); // after 2023
    EXPECT_LT(now, 2000000000.0);
}

TEST(RecordJson, ICEServer)
{
    expectGolden(ICEServer{{"stun:127.0.0.1:3478"}, std::nullopt, std::nullopt}, R"({"urls":["stun:127.0.0.1:3478"]})");
    const ICEServer turn{{"turn:127.0.0.1:3478?transport=udp", "turns:127.0.0.1:5349"}, "1700086400:abc", "c2VjcmV0"};
    expectGolden(turn,
                 R"({"credential":"c2VjcmV0","urls":["turn:127.0.0.1:3478?transport=udp","turns:127.0.0.1:5349"],)"
                 R"("username":"1700086400:abc"})");
    expectGolden(ICEServer{}, R"({"urls":[]})");
    expectUnknownKeysIgnored(turn);
}

TEST(RecordJson, SignalMessage)
{
    expectGolden(SignalMessage::make(SignalMessage::Kind::accepted), R"({"kind":"accepted"})");

    SignalMessage hello = SignalMessage::make(SignalMessage::Kind::hello);
    hello.name = "Grace Hopper";
    hello.publicKey = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
    hello.nonce = "AAECAwQFBgcICQoLDA0ODw==";
    hello.unattended = true;
    expectGolden(hello,
                 R"({"kind":"hello","name":"Grace Hopper","nonce":"AAECAwQFBgcICQoLDA0ODw==",)"
                 R"("publicKey":"11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=","unattended":true})");

    SignalMessage candidate = SignalMessage::make(SignalMessage::Kind::candidate);
    candidate.sdp = "candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host";
    candidate.sdpMLineIndex = 2147483647;
    candidate.sdpMid = "0";
    expectGolden(candidate,
                 R"({"kind":"candidate","sdp":"candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host",)"
                 R"("sdpMLineIndex":2147483647,"sdpMid":"0"})");

    SignalMessage all = SignalMessage::make(SignalMessage::Kind::challenge);
    all.name = "n";
    all.sdp = "s";
    all.sdpMLineIndex = -1;
    all.sdpMid = "m";
    all.publicKey = "p";
    all.nonce = "no";
    all.signature = "sig";
    all.reason = "busy";
    all.iceServers = std::vector<ICEServer>{ICEServer{{"stun:x"}, std::nullopt, std::nullopt}};
    all.unattended = false;
    all.salt = "sa";
    all.pinProof = "pp";
    all.purpose = "pictures";
    all.requestId = "r1";
    expectGolden(all,
                 R"({"iceServers":[{"urls":["stun:x"]}],"kind":"challenge","name":"n","nonce":"no",)"
                 R"("pinProof":"pp","publicKey":"p","purpose":"pictures","reason":"busy","requestId":"r1",)"
                 R"("salt":"sa","sdp":"s","sdpMLineIndex":-1,"sdpMid":"m","signature":"sig","unattended":false})");
    expectUnknownKeysIgnored(all);

    SignalMessage noServers = SignalMessage::make(SignalMessage::Kind::iceServers);
    noServers.iceServers = std::vector<ICEServer>{};
    expectGolden(noServers, R"({"iceServers":[],"kind":"iceServers"})");

    for (int k = 0; k <= static_cast<int>(SignalMessage::Kind::proven); ++k) {
        const auto kind = static_cast<SignalMessage::Kind>(k);
        EXPECT_EQ(signalKindFromString(toString(kind)), kind);
    }
    EXPECT_EQ(toString(SignalMessage::Kind::pairRequest), "pairRequest");
    EXPECT_EQ(toString(SignalMessage::Kind::iceServers), "iceServers");
}

TEST(RecordJson, SessionEvent)
{
    expectGolden(SessionEvent::make(SessionEvent::Kind::hide), R"({"kind":"hide","x":0.0,"y":0.0})");
    expectGolden(SessionEvent::make(SessionEvent::Kind::keyFrame), R"({"kind":"keyFrame","x":0.0,"y":0.0})");

    SessionEvent down = SessionEvent::make(SessionEvent::Kind::mouseDown, 0.25, 0.75);
    down.button = 1;
    down.clickCount = 2;
    down.flags = 18446744073709551615ull;
    expectGolden(down,
                 R"({"button":1,"clickCount":2,"flags":18446744073709551615,"kind":"mouseDown","x":0.25,"y":0.75})");

    SessionEvent key = SessionEvent::make(SessionEvent::Kind::key);
    key.keyCode = 36;
    key.down = true;
    key.flags = 131072;
    expectGolden(key, R"({"down":true,"flags":131072,"keyCode":36,"kind":"key","x":0.0,"y":0.0})");

    SessionEvent scroll = SessionEvent::make(SessionEvent::Kind::scroll, 0.5, 0.5);
    scroll.dx = -1.5;
    scroll.dy = 3;
    expectGolden(scroll, R"({"dx":-1.5,"dy":3.0,"kind":"scroll","x":0.5,"y":0.5})");

    SessionEvent mode = SessionEvent::make(SessionEvent::Kind::mode);
    mode.mode = HelpMode::control;
    expectGolden(mode, R"({"kind":"mode","mode":"control","x":0.0,"y":0.0})");

    SessionEvent cursor = SessionEvent::make(SessionEvent::Kind::cursor);
    cursor.cursorShape = CursorShape{"iVBORw0KGgo=", 32, 32, 4.5, 1, 1920};
    expectGolden(cursor,
                 R"({"cursorShape":{"height":32.0,"hotSpotX":4.5,"hotSpotY":1.0,"png":"iVBORw0KGgo=",)"
                 R"("screenWidth":1920.0,"width":32.0},"kind":"cursor","x":0.0,"y":0.0})");

    SessionEvent displays = SessionEvent::make(SessionEvent::Kind::displays);
    displays.displays = std::vector<DisplayInfo>{{1, "Built-in", 1440, 900}, {4294967295u, "Außen", 3840, 2160}};
    displays.displayID = 4294967295u;
    expectGolden(
        displays,
        R"({"displayID":4294967295,"displays":[{"height":900.0,"id":1,"name":"Built-in","width":1440.0},)"
        R"({"height":2160.0,"id":4294967295,"name":"Außen","width":3840.0}],"kind":"displays","x":0.0,"y":0.0})");

    SessionEvent notice = SessionEvent::make(SessionEvent::Kind::notice);
    notice.text = "Quote \" and\nnewline";
    notice.active = false;
    expectGolden(notice, R"({"active":false,"kind":"notice","text":"Quote \" and\nnewline","x":0.0,"y":0.0})");
    expectUnknownKeysIgnored(cursor);
    expectUnknownKeysIgnored(displays);

    // Integer-valued numbers decode into doubles, fractions into integers never.
    auto fromInts = SessionEvent::decode(R"({"kind":"pointer","x":1,"y":0})");
    ASSERT_TRUE(fromInts);
    EXPECT_EQ(fromInts->x, 1.0);

    for (int k = 0; k <= static_cast<int>(SessionEvent::Kind::keyFrame); ++k) {
        const auto kind = static_cast<SessionEvent::Kind>(k);
        EXPECT_EQ(sessionEventKindFromString(toString(kind)), kind);
    }
    EXPECT_EQ(toString(SessionEvent::Kind::selectDisplay), "selectDisplay");
    EXPECT_EQ(toString(HelpMode::guide), "guide");
    EXPECT_EQ(helpModeFromString("control"), HelpMode::control);
    EXPECT_FALSE(helpModeFromString("Control"));
}

TEST(RecordJson, UnattendedGrantAndPairedDevice)
{
    expectGolden(UnattendedGrant{740000000.5, std::nullopt, std::nullopt, 0},
                 R"({"enabledAt":740000000.5,"failedAttempts":0})");
    const UnattendedGrant grant{740000000.5, "a2V5", "c2FsdA==", 3};
    expectGolden(grant, R"({"enabledAt":740000000.5,"failedAttempts":3,"pinKey":"a2V5","pinSalt":"c2FsdA=="})");
    // A record without the count has none wrong.
    EXPECT_EQ(UnattendedGrant::decode(R"({"enabledAt":1})")->failedAttempts, 0);

    PairedDevice device{
        "ab12", "Ada", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=", 740000000.125, std::nullopt, std::nullopt};
    expectGolden(device,
                 R"({"id":"ab12","name":"Ada","pairedAt":740000000.125,)"
                 R"("publicKey":"11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="})");
    device.unattended = grant;
    device.person = "cGVyc29u";
    expectGolden(device,
                 R"({"id":"ab12","name":"Ada","pairedAt":740000000.125,"person":"cGVyc29u",)"
                 R"("publicKey":"11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=",)"
                 R"("unattended":{"enabledAt":740000000.5,"failedAttempts":3,"pinKey":"a2V5","pinSalt":"c2FsdA=="}})");
    expectUnknownKeysIgnored(device);

    // Equality compares every field, the grant included.
    PairedDevice other = device;
    other.unattended->failedAttempts = 4;
    EXPECT_NE(other, device);

    const std::vector<PairedDevice> list{device, device};
    EXPECT_EQ(PairedDevice::decodeList(PairedDevice::encodeList(list)), list);
}

TEST(RecordJson, MailContent)
{
    MailContent message;
    message.kind = MailContent::Kind::message;
    message.sentAt = 740000000.75;
    message.text = "Hi";
    expectGolden(message, R"({"kind":"message","sentAt":740000000.75,"text":"Hi"})");

    MailContent password;
    password.kind = MailContent::Kind::password;
    password.sentAt = 1;
    password.label = "Wi-Fi";
    password.secret = "hunter2";
    password.lifetime = "oneHour";
    password.expiresAt = 3601.5;
    expectGolden(password,
                 R"({"expiresAt":3601.5,"kind":"password","label":"Wi-Fi","lifetime":"oneHour",)"
                 R"("secret":"hunter2","sentAt":1.0})");

    MailContent request;
    request.kind = MailContent::Kind::helpRequest;
    request.sentAt = 2;
    request.topic = "A password";
    request.text = "note";
    request.attachments = 3;
    request.replyTo = "id-1";
    request.unattended = true;
    expectGolden(request,
                 R"({"attachments":3,"kind":"helpRequest","replyTo":"id-1","sentAt":2.0,"text":"note",)"
                 R"("topic":"A password","unattended":true})");

    MailContent macs;
    macs.kind = MailContent::Kind::myMacs;
    macs.sentAt = 3;
    macs.roster = SignedRoster{R"({"macs":[],"person":"p","version":1})", "c2ln"};
    macs.personKey = "a2V5";
    expectGolden(macs,
                 R"({"kind":"myMacs","personKey":"a2V5","roster":{"roster":"{\"macs\":[],\"person\":\"p\",)"
                 R"(\"version\":1}","signature":"c2ln"},"sentAt":3.0})");
    expectUnknownKeysIgnored(macs);
    expectUnknownKeysIgnored(password);

    for (int k = 0; k <= static_cast<int>(MailContent::Kind::myMacs); ++k) {
        const auto kind = static_cast<MailContent::Kind>(k);
        EXPECT_EQ(mailKindFromString(toString(kind)), kind);
    }
    EXPECT_EQ(toString(MailContent::Kind::linkReply), "linkReply");
}

TEST(RecordJson, KeyRecordEnvelopeAndRoster)
{
    const KeyRecord record{"id", "c2s=", "bWs=", 740000000.5, "c2ln"};
    expectGolden(record,
                 R"({"id":"id","mailKey":"bWs=","publishedAt":740000000.5,"signature":"c2ln","signingKey":"c2s="})");
    expectUnknownKeysIgnored(record);

    const MailEnvelope envelope{"u", "f", "t", "ZQ==", "bg==", "Yg==", "cw=="};
    expectGolden(envelope,
                 R"({"box":"Yg==","ephemeralKey":"ZQ==","from":"f","id":"u","nonce":"bg==",)"
                 R"("signature":"cw==","to":"t"})");
    expectUnknownKeysIgnored(envelope);

    const MyMacsRoster roster{"cA==", 7, {{"i1", "k1", "Studio"}, {"i2", "k2", "Laptop"}}};
    expectGolden(roster,
                 R"({"macs":[{"id":"i1","name":"Studio","publicKey":"k1"},)"
                 R"({"id":"i2","name":"Laptop","publicKey":"k2"}],"person":"cA==","version":7})");
    expectGolden(SignedRoster{"{}", "c2ln"}, R"({"roster":"{}","signature":"c2ln"})");
    expectUnknownKeysIgnored(roster);
}
