// Sealed mail, key records and signed rosters: they hold for the right keys only.
#include "identity/Base64.h"
#include "identity/Crypto.h"
#include "protocol/KeyRecord.h"
#include "protocol/MailEnvelope.h"
#include "protocol/Roster.h"

#include <gtest/gtest.h>

using namespace wl;

namespace {

struct Mac {
    SigningKey device = SigningKey::generate();
    AgreementKey mail = AgreementKey::generate();
    std::string id() const { return fingerprintOfRaw(device.publicKeyRaw()); }
};

MailContent sampleContent()
{
    MailContent c;
    c.kind = MailContent::Kind::password;
    c.sentAt = 740000000.5;
    c.label = "Router";
    c.secret = "correct horse battery staple";
    c.expiresAt = 740003600.5;
    return c;
}

// Alters one base64 field's decoded bytes and re-encodes it (the text stays valid base64).
std::string flipByte(const std::string& base64, std::size_t index)
{
    std::string bytes = *base64Decode(base64);
    bytes[index % bytes.size()] = static_cast<char>(bytes[index % bytes.size()] ^ 0x01);
    return base64Encode(bytes);
}

} // namespace

TEST(SealedMail, OpensForItsRecipientOnly)
{
    const Mac alice, bob, carol;
    const MailContent content = sampleContent();
    const MailEnvelope envelope = MailEnvelope::seal(content, alice.device, bob.id(), bob.mail.publicKeyBase64());

    EXPECT_EQ(envelope.from, alice.id());
    EXPECT_EQ(envelope.to, bob.id());
    EXPECT_EQ(envelope.id.size(), 36u);
    EXPECT_EQ(base64Decode(envelope.nonce)->size(), 12u);
    EXPECT_EQ(base64Decode(envelope.ephemeralKey)->size(), 32u);
    EXPECT_NE(envelope.ephemeralKey, bob.mail.publicKeyBase64());
    EXPECT_TRUE(envelope.signatureHolds(alice.device.publicKeyBase64()));
    // The secret does not travel in the clear.
    EXPECT_EQ(envelope.encode().find("horse"), std::string::npos);

    auto opened = envelope.open(bob.mail, bob.id(), alice.device.publicKeyBase64());
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, content);

    // Through the wire text too.
    auto received = MailEnvelope::decode(envelope.encode());
    ASSERT_TRUE(received);
    EXPECT_EQ(received->open(bob.mail, bob.id(), alice.device.publicKeyBase64()), content);

    // Another recipient, another claimed recipient, another sender key: closed.
    EXPECT_FALSE(envelope.open(carol.mail, carol.id(), alice.device.publicKeyBase64()));
    EXPECT_FALSE(envelope.open(carol.mail, bob.id(), alice.device.publicKeyBase64()));
    EXPECT_FALSE(envelope.open(bob.mail, carol.id(), alice.device.publicKeyBase64()));
    EXPECT_FALSE(envelope.open(bob.mail, bob.id(), carol.device.publicKeyBase64()));
    EXPECT_FALSE(envelope.signatureHolds(carol.device.publicKeyBase64()));
    EXPECT_FALSE(envelope.open(bob.mail, bob.id(), "not a key"));

    // Two seals of the same content differ (fresh id, ephemeral key and nonce).
    const MailEnvelope again = MailEnvelope::seal(content, alice.device, bob.id(), bob.mail.publicKeyBase64());
    EXPECT_NE(again.id, envelope.id);
    EXPECT_NE(again.ephemeralKey, envelope.ephemeralKey);
    EXPECT_NE(again.box, envelope.box);
}

TEST(SealedMail, FailsClosedWhenAnyFieldIsAltered)
{
    const Mac alice, bob;
    const MailEnvelope envelope =
        MailEnvelope::seal(sampleContent(), alice.device, bob.id(), bob.mail.publicKeyBase64());
    const std::string senderKey = alice.device.publicKeyBase64();
    ASSERT_TRUE(envelope.open(bob.mail, bob.id(), senderKey));

    std::vector<std::pair<std::string, MailEnvelope>> altered;
    auto add = [&](const std::string& what, auto change) {
        MailEnvelope e = envelope;
        change(e);
        altered.emplace_back(what, e);
    };
    add("id", [](MailEnvelope& e) { e.id[0] = e.id[0] == 'a' ? 'b' : 'a'; });
    add("from", [&](MailEnvelope& e) { e.from = bob.id(); });
    add("to", [&](MailEnvelope& e) { e.to = alice.id(); });
    for (std::size_t i : {0u, 31u})
        add("ephemeralKey", [&](MailEnvelope& e) { e.ephemeralKey = flipByte(e.ephemeralKey, i); });
    for (std::size_t i : {0u, 11u})
        add("nonce", [&](MailEnvelope& e) { e.nonce = flipByte(e.nonce, i); });
    for (std::size_t i : {0u, 20u, 1000000u})
        add("box", [&](MailEnvelope& e) { e.box = flipByte(e.box, i); });
    add("box truncated", [](MailEnvelope& e) { e.box = base64Encode(base64Decode(e.box)->substr(1)); });
    add("signature", [](MailEnvelope& e) { e.signature = flipByte(e.signature, 5); });
    add("signature missing", [](MailEnvelope& e) { e.signature.clear(); });
    add("bad base64 box", [](MailEnvelope& e) { e.box += "A"; });
    add("bad base64 nonce", [](MailEnvelope& e) { e.nonce = "!!!!"; });
    add("bad base64 key", [](MailEnvelope& e) { e.ephemeralKey = e.ephemeralKey.substr(0, 40); });
    add("padding bits", [](MailEnvelope& e) {
        // Same bytes, non-canonical spelling of the last symbol before the padding.
        std::string& b = e.box;
        const auto pad = b.find('=');
        if (pad != std::string::npos && pad > 0)
            b[pad - 1] = b[pad - 1] == 'A' ? 'B' : static_cast<char>(b[pad - 1] + 1);
        else
            b += "=";
    });
    add("low-order ephemeral key", [](MailEnvelope& e) { e.ephemeralKey = base64Encode(std::string(32, '\0')); });

    for (const auto& [what, e] : altered) {
        EXPECT_FALSE(e.open(bob.mail, bob.id(), senderKey)) << what;
        if (what == "to") {
            EXPECT_FALSE(e.open(bob.mail, alice.id(), senderKey)) << what;
        }
    }
}

TEST(SealedMail, ResignedTamperingStillFailsToOpen)
{
    // A sender who re-signs an envelope addressed to someone else cannot redirect it.
    const Mac alice, bob, carol;
    MailEnvelope e = MailEnvelope::seal(sampleContent(), alice.device, bob.id(), bob.mail.publicKeyBase64());
    e.to = carol.id();
    e.signature = alice.device.sign(e.signedText());
    EXPECT_TRUE(e.signatureHolds(alice.device.publicKeyBase64()));
    EXPECT_FALSE(e.open(bob.mail, carol.id(), alice.device.publicKeyBase64()));
    EXPECT_FALSE(e.open(carol.mail, carol.id(), alice.device.publicKeyBase64()));
}

TEST(SealedMail, MalformedRecipientKeysDoNotSeal)
{
    const Mac alice, bob;
    EXPECT_FALSE(MailEnvelope::trySeal(sampleContent(), alice.device, bob.id(), "garbage"));
    EXPECT_FALSE(MailEnvelope::trySeal(sampleContent(), alice.device, bob.id(), base64Encode(std::string(31, 'k'))));
    EXPECT_FALSE(MailEnvelope::trySeal(sampleContent(), alice.device, bob.id(), base64Encode(std::string(32, '\0'))));
    const MailEnvelope empty = MailEnvelope::seal(sampleContent(), alice.device, bob.id(), "garbage");
    EXPECT_TRUE(empty.box.empty());
    EXPECT_FALSE(empty.open(bob.mail, bob.id(), alice.device.publicKeyBase64()));
}

TEST(SealedMail, KnownAnswerOfTheKeySchedule)
{
    // The primitives under the seal, checked against RFC 5869 test case 1 and RFC 8439 section 2.8.2.
    auto hex = [](const std::string& h) {
        std::string out;
        for (std::size_t i = 0; i + 1 < h.size(); i += 2)
            out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
        return out;
    };
    auto okm = crypto::hkdfSha256(hex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"),
                                  hex("000102030405060708090a0b0c"), hex("f0f1f2f3f4f5f6f7f8f9"), 42);
    ASSERT_TRUE(okm);
    EXPECT_EQ(hexEncode(*okm), "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");

    const std::string key = hex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    const std::string nonce = hex("070000004041424344454647");
    const std::string aad = hex("50515253c0c1c2c3c4c5c6c7");
    const std::string plaintext = "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for "
                                  "the future, sunscreen would be it.";
    auto sealed = crypto::chachaSeal(key, nonce, plaintext, aad);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(hexEncode(sealed->substr(sealed->size() - 16)), "1ae10b594f09e26a7e902ecbd0600691");
    EXPECT_EQ(hexEncode(sealed->substr(0, 16)), "d31a8d34648e60db7b86afbc53ef7ec2");
    EXPECT_EQ(crypto::chachaOpen(key, nonce, *sealed, aad), plaintext);
    EXPECT_FALSE(crypto::chachaOpen(key, nonce, *sealed, aad + "x"));
}

TEST(KeyRecords, ValidOnlyWhenEverythingHolds)
{
    const Mac mac, other;
    const KeyRecord record = KeyRecord::make(mac.device, mac.mail, 740000000.5);
    EXPECT_EQ(record.id, mac.id());
    EXPECT_EQ(record.signingKey, mac.device.publicKeyBase64());
    EXPECT_EQ(record.mailKey, mac.mail.publicKeyBase64());
    EXPECT_TRUE(record.isValid());
    EXPECT_TRUE(KeyRecord::decode(record.encode())->isValid());
    EXPECT_TRUE(verifySignature(record.signature,
                                "wickerlane-key-record|" + record.id + "|" + record.signingKey + "|" + record.mailKey,
                                record.signingKey));

    auto broken = [&](auto change) {
        KeyRecord r = record;
        change(r);
        return r.isValid();
    };
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.id = other.id(); }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.signingKey = other.device.publicKeyBase64(); }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.mailKey = other.mail.publicKeyBase64(); }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.mailKey = base64Encode(std::string(31, 'm')); }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.mailKey = "not base64"; }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.signature = flipByte(r.signature, 3); }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.signature = ""; }));
    EXPECT_FALSE(broken([&](KeyRecord& r) { r.signingKey = "x"; }));
    // Re-signed by another key: the id no longer matches.
    EXPECT_FALSE(broken([&](KeyRecord& r) {
        r.signingKey = other.device.publicKeyBase64();
        r.signature = other.device.sign(KeyRecord::signedText(r.id, r.signingKey, r.mailKey));
    }));
    // The publication time is not signed; it travels as sent.
    EXPECT_TRUE(broken([&](KeyRecord& r) { r.publishedAt = 1; }));
}

TEST(Rosters, SignedByThePersonKey)
{
    const SigningKey person = SigningKey::generate();
    const SigningKey stranger = SigningKey::generate();
    const MyMacsRoster roster{person.publicKeyBase64(), 3, {{"id1", "pk1", "Studio | \"Mac\""}, {"id2", "pk2", "Air"}}};
    const SignedRoster signedRoster = SignedRoster::sign(roster, person);
    EXPECT_EQ(signedRoster.roster, roster.encode());
    EXPECT_TRUE(
        verifySignature(signedRoster.signature, "wickerlane-mymacs|" + signedRoster.roster, person.publicKeyBase64()));
    EXPECT_EQ(signedRoster.verified(), roster);
    EXPECT_EQ(SignedRoster::decode(signedRoster.encode())->verified(), roster);

    SignedRoster tampered = signedRoster;
    tampered.roster.replace(tampered.roster.find("Air"), 3, "Pro");
    EXPECT_FALSE(tampered.verified());

    // Whitespace changes the exact text: no longer the signed bytes.
    SignedRoster spaced = signedRoster;
    spaced.roster = " " + spaced.roster;
    EXPECT_FALSE(spaced.verified());

    // Signed by someone other than the roster's person.
    EXPECT_FALSE(SignedRoster::sign(roster, stranger).verified());
    MyMacsRoster claimed = roster;
    claimed.person = stranger.publicKeyBase64();
    EXPECT_TRUE(SignedRoster::sign(claimed, stranger).verified());
    SignedRoster swapped{SignedRoster::sign(claimed, stranger).roster, signedRoster.signature};
    EXPECT_FALSE(swapped.verified());

    EXPECT_FALSE((SignedRoster{"not json", signedRoster.signature}.verified()));
    EXPECT_FALSE((SignedRoster{signedRoster.roster, "bad"}.verified()));
    EXPECT_FALSE((SignedRoster{signedRoster.roster, ""}.verified()));
}
