// Every decoder answers malformed input with an error, never an exception.
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
void expectRejected(const std::string& text)
{
    std::string error;
    std::optional<T> decoded;
    EXPECT_NO_THROW(decoded = T::decode(text, &error)) << text;
    EXPECT_FALSE(decoded) << "accepted: " << text;
    EXPECT_FALSE(error.empty()) << text;
}

template <class T>
void expectAccepted(const std::string& text)
{
    std::string error;
    EXPECT_TRUE(T::decode(text, &error)) << text << ": " << error;
}

const char* kMalformed[] = {"",
                            " ",
                            "{",
                            "}",
                            "[]",
                            "null",
                            "true",
                            "1",
                            "\"text\"",
                            "{\"kind\":}",
                            "{'kind':'hello'}",
                            "{\"kind\":\"hello\",}",
                            "{\"kind\":\"hello\"} trailing",
                            "{\"kind\":\"hello\"\x00}",
                            "{\"kind\":\"\xff\xfe\"}",
                            "{\"kind\":NaN}",
                            "{\"kind\":\"hello\",\"name\":\"\\ud800\"}"};

template <class T>
void expectMalformedRejected()
{
    for (const char* text : kMalformed)
        expectRejected<T>(text);
    expectRejected<T>(std::string("{\"kind\":\"hello\"}\0", 17));
    // Deep nesting does not overflow the stack.
    expectRejected<T>(std::string(100000, '[') + std::string(100000, ']'));
}

} // namespace

TEST(BadInput, MalformedJsonIsRejectedByEveryDecoder)
{
    expectMalformedRejected<SignalMessage>();
    expectMalformedRejected<SessionEvent>();
    expectMalformedRejected<ICEServer>();
    expectMalformedRejected<DisplayInfo>();
    expectMalformedRejected<CursorShape>();
    expectMalformedRejected<UnattendedGrant>();
    expectMalformedRejected<PairedDevice>();
    expectMalformedRejected<MailContent>();
    expectMalformedRejected<MailEnvelope>();
    expectMalformedRejected<KeyRecord>();
    expectMalformedRejected<RosterMac>();
    expectMalformedRejected<MyMacsRoster>();
    expectMalformedRejected<SignedRoster>();
    EXPECT_FALSE(PairedDevice::decodeList("{}"));
    EXPECT_FALSE(PairedDevice::decodeList("[{}]"));
    EXPECT_FALSE(PairedDevice::decodeList("nope"));
}

TEST(BadInput, SignalMessage)
{
    expectAccepted<SignalMessage>(R"({"kind":"bye","reason":"helperLeft","sdpMLineIndex":-2147483648})");
    expectRejected<SignalMessage>(R"({})");
    expectRejected<SignalMessage>(R"({"name":"x"})");
    expectRejected<SignalMessage>(R"({"kind":"Hello"})");
    expectRejected<SignalMessage>(R"({"kind":"goodbye"})");
    expectRejected<SignalMessage>(R"({"kind":1})");
    expectRejected<SignalMessage>(R"({"kind":null})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":2147483648})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":-2147483649})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":1e300})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":0.5})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":"0"})");
    expectRejected<SignalMessage>(R"({"kind":"candidate","sdpMLineIndex":18446744073709551615})");
    expectRejected<SignalMessage>(R"({"kind":"hello","name":5})");
    expectRejected<SignalMessage>(R"({"kind":"hello","unattended":"true"})");
    expectRejected<SignalMessage>(R"({"kind":"hello","unattended":1})");
    expectRejected<SignalMessage>(R"({"kind":"iceServers","iceServers":{}})");
    expectRejected<SignalMessage>(R"({"kind":"iceServers","iceServers":[{"urls":"stun:x"}]})");
    expectRejected<SignalMessage>(R"({"kind":"iceServers","iceServers":[{"urls":[1]}]})");
    expectRejected<SignalMessage>(R"({"kind":"iceServers","iceServers":[{}]})");
    expectRejected<SignalMessage>(R"({"kind":"iceServers","iceServers":[{"urls":[],"username":7}]})");
    // An explicit null is read as absent, like an omitted field.
    auto withNull = SignalMessage::decode(R"({"kind":"hello","name":null})");
    ASSERT_TRUE(withNull);
    EXPECT_FALSE(withNull->name);
}

TEST(BadInput, SessionEvent)
{
    expectAccepted<SessionEvent>(R"({"kind":"pointer","x":0.5,"y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"pointer","x":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"pointer","y":0.5})");
    expectRejected<SessionEvent>(R"({"x":0.5,"y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"wiggle","x":0.5,"y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"pointer","x":"0.5","y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"pointer","x":null,"y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"pointer","x":1e999,"y":0.5})");
    expectRejected<SessionEvent>(R"({"kind":"mouseDown","x":0,"y":0,"button":2147483648})");
    expectRejected<SessionEvent>(R"({"kind":"mouseDown","x":0,"y":0,"button":1.5})");
    expectRejected<SessionEvent>(R"({"kind":"mouseDown","x":0,"y":0,"clickCount":true})");
    expectRejected<SessionEvent>(R"({"kind":"key","x":0,"y":0,"keyCode":"a"})");
    expectRejected<SessionEvent>(R"({"kind":"key","x":0,"y":0,"down":0})");
    expectRejected<SessionEvent>(R"({"kind":"key","x":0,"y":0,"flags":-1})");
    expectRejected<SessionEvent>(R"({"kind":"key","x":0,"y":0,"flags":18446744073709551616})");
    expectRejected<SessionEvent>(R"({"kind":"key","x":0,"y":0,"flags":1.8446744073709552e19})");
    expectRejected<SessionEvent>(R"({"kind":"mode","x":0,"y":0,"mode":"drive"})");
    expectRejected<SessionEvent>(R"({"kind":"mode","x":0,"y":0,"mode":1})");
    expectRejected<SessionEvent>(R"({"kind":"scroll","x":0,"y":0,"dx":"1"})");
    expectRejected<SessionEvent>(R"({"kind":"notice","x":0,"y":0,"text":[]})");
    expectRejected<SessionEvent>(R"({"kind":"selectDisplay","x":0,"y":0,"displayID":-1})");
    expectRejected<SessionEvent>(R"({"kind":"selectDisplay","x":0,"y":0,"displayID":4294967296})");
    expectRejected<SessionEvent>(R"({"kind":"selectDisplay","x":0,"y":0,"displayID":1.5})");
    expectRejected<SessionEvent>(
        R"({"kind":"displays","x":0,"y":0,"displays":[{"id":-1,"name":"a","width":1,"height":1}]})");
    expectRejected<SessionEvent>(
        R"({"kind":"displays","x":0,"y":0,"displays":[{"id":4294967296,"name":"a","width":1,"height":1}]})");
    expectRejected<SessionEvent>(R"({"kind":"displays","x":0,"y":0,"displays":[{"id":1,"width":1,"height":1}]})");
    expectRejected<SessionEvent>(R"({"kind":"displays","x":0,"y":0,"displays":{"id":1}})");
    expectRejected<SessionEvent>(
        R"({"kind":"cursor","x":0,"y":0,"cursorShape":{"png":"","width":1,"height":1,"hotSpotX":0,"hotSpotY":0}})");
    expectRejected<SessionEvent>(R"({"kind":"cursor","x":0,"y":0,"cursorShape":"png"})");
    // Whole floats are integers in range.
    auto whole = SessionEvent::decode(R"({"kind":"selectDisplay","x":0,"y":0,"displayID":4294967295.0,"button":1.0})");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->displayID, 4294967295u);
    EXPECT_EQ(whole->button, 1);
}

TEST(BadInput, StoredAndMailRecords)
{
    expectRejected<UnattendedGrant>(R"({"failedAttempts":1})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":"now"})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":1,"failedAttempts":1.5})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":1,"failedAttempts":"1"})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":1,"failedAttempts":-1})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":1,"failedAttempts":2147483648})");
    expectRejected<UnattendedGrant>(R"({"enabledAt":1,"pinKey":1})");

    const std::string device = R"("id":"a","name":"n","publicKey":"k","pairedAt":1)";
    expectAccepted<PairedDevice>("{" + device + "}");
    expectRejected<PairedDevice>(R"({"id":"a","name":"n","publicKey":"k"})");
    expectRejected<PairedDevice>(R"({"id":"a","name":"n","pairedAt":1})");
    expectRejected<PairedDevice>("{" + device + R"(,"unattended":{"enabledAt":1,"failedAttempts":0.5}})");
    expectRejected<PairedDevice>("{" + device + R"(,"unattended":true})");
    expectRejected<PairedDevice>("{" + device + R"(,"person":{}})");

    expectAccepted<MailContent>(R"({"kind":"receipt","sentAt":-5.5})");
    expectRejected<MailContent>(R"({"kind":"receipt"})");
    expectRejected<MailContent>(R"({"sentAt":1})");
    expectRejected<MailContent>(R"({"kind":"postcard","sentAt":1})");
    expectRejected<MailContent>(R"({"kind":"message","sentAt":1,"attachments":2.5})");
    expectRejected<MailContent>(R"({"kind":"message","sentAt":1,"attachments":9999999999})");
    expectRejected<MailContent>(R"({"kind":"message","sentAt":1,"expiresAt":"soon"})");
    expectRejected<MailContent>(R"({"kind":"message","sentAt":1,"unattended":"yes"})");
    expectRejected<MailContent>(R"({"kind":"myMacs","sentAt":1,"roster":"text"})");
    expectRejected<MailContent>(R"({"kind":"myMacs","sentAt":1,"roster":{"roster":"{}"}})");

    expectRejected<MailEnvelope>(R"({"id":"u","from":"f","to":"t","ephemeralKey":"e","nonce":"n","box":"b"})");
    expectRejected<MailEnvelope>(
        R"({"id":"u","from":"f","to":"t","ephemeralKey":"e","nonce":"n","box":1,"signature":"s"})");
    expectRejected<KeyRecord>(R"({"id":"i","signingKey":"s","mailKey":"m","signature":"x"})");
    expectRejected<KeyRecord>(R"({"id":"i","signingKey":"s","mailKey":"m","publishedAt":"x","signature":"x"})");

    expectRejected<MyMacsRoster>(R"({"person":"p","version":1.5,"macs":[]})");
    expectRejected<MyMacsRoster>(R"({"person":"p","version":9223372036854775808,"macs":[]})");
    expectRejected<MyMacsRoster>(R"({"person":"p","version":1})");
    expectRejected<MyMacsRoster>(R"({"person":"p","version":1,"macs":[{"id":"i","publicKey":"k"}]})");
    expectAccepted<MyMacsRoster>(R"({"person":"p","version":-9223372036854775808,"macs":[]})");
}

TEST(BadInput, EncodingNeverThrowsOnBadText)
{
    SignalMessage m = SignalMessage::make(SignalMessage::Kind::hello);
    m.name = std::string("bad \xff\xfe utf-8");
    std::string text;
    EXPECT_NO_THROW(text = m.encode());
    auto back = SignalMessage::decode(text);
    ASSERT_TRUE(back);
    EXPECT_NE(back->name, m.name); // replaced, not passed through
}
