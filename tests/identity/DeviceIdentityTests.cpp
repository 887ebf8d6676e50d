#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "platform/KeyStore.h"
#include "platform/Log.h"
#include "platform/Required.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace wl;

namespace {

std::string bytes0To(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(i);
    return s;
}

class KeyStorage : public ::testing::Test {
protected:
    std::shared_ptr<MemoryKeyStore> store = std::make_shared<MemoryKeyStore>();
    DeviceIdentity identity{store};
};

} // namespace

TEST_F(KeyStorage, KeysAreMadeOnceAndReusedFromTheStore)
{
    auto device = identity.deviceSigningKey();
    auto person = identity.personSigningKey();
    auto mail = identity.mailAgreementKey();
    ASSERT_TRUE(device && person && mail);
    EXPECT_NE(device->raw(), person->raw());

    std::string stored;
    ASSERT_EQ(store->read("device-signing", stored), KeyStore::ReadStatus::found);
    EXPECT_EQ(stored, device->raw());
    ASSERT_EQ(store->read("person-signing", stored), KeyStore::ReadStatus::found);
    EXPECT_EQ(stored, person->raw());
    ASSERT_EQ(store->read("mail-agreement", stored), KeyStore::ReadStatus::found);
    EXPECT_EQ(stored, mail->raw());

    // Forgetting the memory cache reads the same keys back.
    identity.forget();
    EXPECT_EQ(identity.deviceSigningKey(), device);
    EXPECT_EQ(identity.personSigningKey(), person);
    EXPECT_EQ(identity.mailAgreementKey(), mail);
    EXPECT_EQ(identity.deviceId(), fingerprintOfRaw(device->publicKeyRaw()));
    EXPECT_EQ(identity.deviceId().size(), 64u);

    auto signature = identity.signAsDevice("text");
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifySignature(signature, "text", device->publicKeyBase64()));
}

TEST_F(KeyStorage, ConcurrentFirstUseMakesOneKey)
{
    std::vector<std::thread> threads;
    std::mutex lock;
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            auto key = identity.deviceSigningKey();
            std::lock_guard guard(lock);
            seen.insert(key ? key->raw() : "");
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen.count(""));
}

TEST_F(KeyStorage, UnreadableKeysReachTheCallerAsNothing)
{
    auto device = identity.deviceSigningKey();
    ASSERT_TRUE(device);
    identity.forget();
    store->setFailReads(true);
    CapturedLog log;
    EXPECT_FALSE(identity.deviceSigningKey());
    EXPECT_FALSE(identity.mailAgreementKey());
    EXPECT_FALSE(identity.signAsDevice("x"));
    EXPECT_EQ(identity.deviceId(), "");
    EXPECT_TRUE(log.contains("Wickerlane: "));

    // Once the store answers again the same key is back: nothing was replaced.
    store->setFailReads(false);
    EXPECT_EQ(identity.deviceSigningKey(), device);
}

TEST_F(KeyStorage, AMalformedStoredKeyIsUnreadableAndKept)
{
    store->write("device-signing", "short");
    EXPECT_FALSE(identity.deviceSigningKey());
    std::string stored;
    store->read("device-signing", stored);
    EXPECT_EQ(stored, "short");
}

TEST_F(KeyStorage, PersonKeyCanBeReplaced)
{
    const SigningKey adopted = SigningKey::generate();
    EXPECT_TRUE(identity.storePersonSigningKey(adopted));
    EXPECT_EQ(identity.personSigningKey(), adopted);
    identity.forget();
    EXPECT_EQ(identity.personSigningKey(), adopted);
    store->setFailWrites(true);
    EXPECT_FALSE(identity.storePersonSigningKey(SigningKey::generate()));
    EXPECT_EQ(identity.personSigningKey(), adopted);
}

using KeyStorageDeathTest = KeyStorage;

TEST_F(KeyStorageDeathTest, AKeyThatCannotBeStoredStopsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    store->setFailWrites(true);
    EXPECT_EXIT(identity.deviceSigningKey(), ::testing::ExitedWithCode(1), "Wickerlane: .*could not be stored");
    EXPECT_EXIT(identity.mailAgreementKey(), ::testing::ExitedWithCode(1), "mail-agreement");
}

// Without its store an identity would make new keys at every start, and every computer
// paired with this one would stop knowing it: a wiring mistake, shown where it is made.
TEST(KeyStorageWiring, AnIdentityMadeWithoutAKeyStoreFailsAtOnce)
{
    CapturedLog log;
    EXPECT_THROW(DeviceIdentity{nullptr}, WiringMistake);
    EXPECT_TRUE(log.contains("Wickerlane: DeviceIdentity was made without a key store"));
}

TEST(Proofs, MessagesHaveTheirTagsAndOrder)
{
    EXPECT_EQ(hostProofMessage("H", "helper", "host"), "wickerlane-host-proof|H|helper|host");
    EXPECT_EQ(helperProofMessage("H", "host", "helper"), "wickerlane-helper-proof|H|host|helper");
    EXPECT_EQ(offerSignatureMessage("host", "v=0"), "wickerlane-offer|host|v=0");
    EXPECT_EQ(answerSignatureMessage("helper", "v=0"), "wickerlane-answer|helper|v=0");
}

TEST(Pin, DerivationMatchesKnownAnswer)
{
    // PBKDF2-HMAC-SHA256, 200,000 iterations, computed independently (Python hashlib).
    EXPECT_EQ(hexEncode(derivePINKey("123456", bytes0To(16))),
              "56e0f12982d8214698f473a77b69d38525948dfc7fefe58a8594e0447a4f8eea");
    EXPECT_EQ(hexEncode(derivePINKey("20240917", "wickerlane-salt!")),
              "19da8c4df22b70ae16070ba17eed88819d6ac74fef4504b1c563b3d9c52d066c");
    EXPECT_EQ(makePINSalt().size(), 16u);
    EXPECT_NE(makePINSalt(), makePINSalt());
}

TEST(Pin, ProofMatchesKnownAnswerAndChecksStrictly)
{
    const std::string key = bytes0To(32);
    const std::string proof = makePINProof(key, "hostNonce", "helperNonce");
    EXPECT_EQ(proof, "oF8UlRJLukHVxM8lu053MwRoN2qdnsn15r8CFAYl+MI=");
    EXPECT_TRUE(checkPINProof(proof, key, "hostNonce", "helperNonce"));

    EXPECT_FALSE(checkPINProof(proof, key, "helperNonce", "hostNonce"));
    EXPECT_FALSE(checkPINProof(proof, bytes0To(31), "hostNonce", "helperNonce"));
    EXPECT_FALSE(checkPINProof(std::nullopt, key, "hostNonce", "helperNonce"));
    EXPECT_FALSE(checkPINProof("", key, "hostNonce", "helperNonce"));
    EXPECT_FALSE(checkPINProof("not base64!", key, "hostNonce", "helperNonce"));
    EXPECT_FALSE(checkPINProof(proof.substr(0, 40), key, "hostNonce", "helperNonce"));
    EXPECT_FALSE(checkPINProof(base64Encode(*base64Decode(proof) + "x"), key, "hostNonce", "helperNonce"));
}

TEST(Pin, ValidPinsAreSixOrMoreAsciiDigits)
{
    EXPECT_TRUE(isValidPIN("123456"));
    EXPECT_TRUE(isValidPIN("0000000000"));
    EXPECT_FALSE(isValidPIN("12345"));
    EXPECT_FALSE(isValidPIN(""));
    EXPECT_FALSE(isValidPIN("12345a"));
    EXPECT_FALSE(isValidPIN("123 456"));
    EXPECT_FALSE(isValidPIN("-123456"));
    // Numerals of other scripts are typed differently on another keyboard: refused.
    EXPECT_FALSE(isValidPIN("\u0661\u0662\u0663\u0664\u0665\u0666")); // Arabic-Indic
    EXPECT_FALSE(isValidPIN("\uff11\uff12\uff13\uff14\uff15\uff16")); // full-width
    EXPECT_FALSE(isValidPIN("12345\u0667"));
}

TEST(Pairing, NewCodesUseTheAlphabet)
{
    const std::string alphabet = kPairingAlphabet;
    std::set<std::string> codes;
    for (int i = 0; i < 200; ++i) {
        const std::string code = newPairingCode();
        ASSERT_EQ(code.size(), 8u);
        for (char c : code)
            ASSERT_NE(alphabet.find(c), std::string::npos) << code;
        EXPECT_EQ(normalizePairingCode(code), code);
        codes.insert(code);
    }
    EXPECT_GT(codes.size(), 195u);
}

TEST(Pairing, NormalizationReadsWhatPeopleType)
{
    EXPECT_EQ(normalizePairingCode("7k3m-q9tz"), std::string("7K3MQ9TZ"));
    EXPECT_EQ(normalizePairingCode(" 7K3M Q9TZ "), std::string("7K3MQ9TZ"));
    EXPECT_EQ(normalizePairingCode("oOiIlL00"), std::string("00111100"));
    EXPECT_EQ(normalizePairingCode("ab.cd_ef/gh"), std::string("ABCDEFGH"));
    EXPECT_EQ(normalizePairingCode("UUUU7K3MQ9TZ"), std::string("7K3MQ9TZ")); // U is not a symbol
    EXPECT_FALSE(normalizePairingCode("7K3MQ9T"));
    EXPECT_FALSE(normalizePairingCode("7K3MQ9TZ0"));
    EXPECT_FALSE(normalizePairingCode(""));
    // Only ASCII is upper-cased: the dotless i and the long s do not turn into symbols.
    EXPECT_FALSE(normalizePairingCode("7K3MQ9T\xc4\xb1"));
    EXPECT_FALSE(normalizePairingCode("7K3MQ9T\xc5\xbf"));
    EXPECT_EQ(normalizePairingCode("7K3M\xc3\xa9Q9TZ"), std::string("7K3MQ9TZ"));
}

TEST(Pairing, ComparisonNumberMatchesKnownAnswer)
{
    const std::string host = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
    const std::string helper = "PUAXw+hDiVqStwqnTRt+vJyYLM8uxJaMwM1V8Sr0Zgw=";
    EXPECT_EQ(pairingComparisonNumber("7K3MQ9TZ", host, helper), "252567");
    EXPECT_EQ(pairingComparisonNumber("7K3MQ9TZ", helper, host), "624037");
    EXPECT_EQ(pairingComparisonNumber("7K3MQ9TZ", host, helper).size(), 6u);
}

TEST(EndReasons, IndexEachReason)
{
    EXPECT_EQ(endReasonIndex("stopped"), 0);
    EXPECT_EQ(endReasonIndex("helperLeft"), 1);
    EXPECT_EQ(endReasonIndex("connectionLost"), 2);
    EXPECT_EQ(endReasonIndex("accessRemoved"), 3);
    EXPECT_EQ(endReasonIndex("Stopped"), 4);
    EXPECT_EQ(endReasonIndex(""), 4);
}
