#include "identity/Base64.h"
#include "identity/Keys.h"

#include <gtest/gtest.h>

using namespace wl;

namespace {

std::string fromHex(const std::string& hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct Vector {
    const char* secret;
    const char* publicKey;
    const char* message;
    const char* signature;
    const char* fingerprint;
};

// RFC 8032 section 7.1, tests 1-3; the fingerprint is SHA-256 of the public key.
const Vector kVectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe2465"
     "5141438e7a100b",
     "21fe31dfa154a261626bf854046fd2271b7bed4b6abe45aa58877ef47f9721b9"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb0"
     "0d291612bb0c00",
     "39f713d0a644253f04529421b9f51b9b08979d08295959c4f3990ee617f5139f"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28d"
     "c027beceea1ec40a",
     "dac073e0123bdea59dd9b3bda9cf6037f63aca82627d7abcd5c4ac29dd74003e"},
};

} // namespace

TEST(Keys, Ed25519MatchesRfc8032Vectors)
{
    for (const auto& v : kVectors) {
        auto key = SigningKey::fromRaw(fromHex(v.secret));
        ASSERT_TRUE(key);
        EXPECT_EQ(hexEncode(key->publicKeyRaw()), v.publicKey);
        const std::string message = fromHex(v.message);
        const std::string signature = key->sign(message);
        EXPECT_EQ(hexEncode(*base64Decode(signature)), v.signature);
        EXPECT_TRUE(verifySignature(signature, message, key->publicKeyBase64()));
        // The fingerprint (device id) of the public key.
        EXPECT_EQ(keyFingerprint(key->publicKeyBase64()), std::string(v.fingerprint));
        EXPECT_EQ(fingerprintOfRaw(key->publicKeyRaw()), v.fingerprint);
    }
}

TEST(Keys, FingerprintOfKnownBase64Key)
{
    EXPECT_EQ(keyFingerprint("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="),
              std::string("21fe31dfa154a261626bf854046fd2271b7bed4b6abe45aa58877ef47f9721b9"));
    EXPECT_FALSE(keyFingerprint(""));
    EXPECT_FALSE(keyFingerprint("not base64"));
    EXPECT_FALSE(keyFingerprint(base64Encode(std::string(31, 'a'))));
    EXPECT_FALSE(keyFingerprint(base64Encode(std::string(33, 'a'))));
    // Non-zero pad bits: the same bytes spelled another way are not a key.
    EXPECT_FALSE(keyFingerprint("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURp="));
}

TEST(Keys, VerificationFailsClosed)
{
    const SigningKey key = SigningKey::generate();
    const SigningKey other = SigningKey::generate();
    const std::string signature = key.sign("hello");
    EXPECT_TRUE(verifySignature(signature, "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(signature, "hellO", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(signature, "hello", other.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(std::nullopt, "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(std::string(), "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature("!!!!", "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(base64Encode(std::string(64, '\0')), "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(signature.substr(4), "hello", key.publicKeyBase64()));
    EXPECT_FALSE(verifySignature(signature, "hello", ""));
    EXPECT_FALSE(verifySignature(signature, "hello", "garbage"));
    EXPECT_FALSE(verifySignature(signature, "hello", base64Encode(std::string(32, '\0'))));
    std::string flipped = *base64Decode(signature);
    flipped[10] = static_cast<char>(flipped[10] ^ 1);
    EXPECT_FALSE(verifySignature(base64Encode(flipped), "hello", key.publicKeyBase64()));
}

TEST(Keys, RawKeysRoundTripAndWrongSizesAreRefused)
{
    const SigningKey key = SigningKey::generate();
    auto again = SigningKey::fromRaw(key.raw());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->publicKeyRaw(), key.publicKeyRaw());
    EXPECT_NE(SigningKey::generate().raw(), key.raw());
    EXPECT_FALSE(SigningKey::fromRaw(std::string(31, 'x')));
    EXPECT_FALSE(SigningKey::fromRaw(""));
    EXPECT_FALSE(AgreementKey::fromRaw(std::string(33, 'x')));
    EXPECT_EQ(base64Decode(key.publicKeyBase64()), key.publicKeyRaw());
}

TEST(Keys, X25519AgreesAndRefusesLowOrderPoints)
{
    // RFC 7748 section 6.1.
    auto alice = AgreementKey::fromRaw(fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    auto bob = AgreementKey::fromRaw(fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
    ASSERT_TRUE(alice && bob);
    EXPECT_EQ(hexEncode(alice->publicKeyRaw()), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(hexEncode(bob->publicKeyRaw()), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    const std::string expected = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
    EXPECT_EQ(hexEncode(*alice->sharedSecret(bob->publicKeyRaw())), expected);
    EXPECT_EQ(hexEncode(*bob->sharedSecret(alice->publicKeyRaw())), expected);

    EXPECT_FALSE(alice->sharedSecret(std::string(32, '\0'))); // all-zero result
    std::string one(32, '\0');
    one[0] = 1;
    EXPECT_FALSE(alice->sharedSecret(one));
    EXPECT_FALSE(alice->sharedSecret(std::string(31, '\x09')));
}
