#include "identity/DeviceIdentity.h"

#include "identity/Base64.h"
#include "identity/Crypto.h"
#include "identity/Random.h"
#include "platform/KeyStore.h"
#include "platform/Log.h"
#include "platform/Required.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace wl {

namespace {

[[noreturn]] void stopBecauseUnstorable(const std::string& item)
{
    Log::line("Wickerlane: the key \"" + item + "\" could not be stored in the key store; stopping.");
    std::exit(EXIT_FAILURE);
}

std::string pinMessage(const std::string& hostNonce, const std::string& helperNonce)
{
    return "wickerlane-pin|" + hostNonce + "|" + helperNonce;
}

} // namespace

DeviceIdentity::DeviceIdentity(std::shared_ptr<KeyStore> store)
    : store_(required(store, "DeviceIdentity", "a key store"))
{
}

// Loads the item, or makes and stores a new key when there is none.
// Called with the lock held.
template <class Key>
std::optional<Key> DeviceIdentity::loadOrMake(std::optional<Key>& slot, const std::string& item)
{
    if (slot)
        return slot;
    KeyStore& store = *store_;
    std::string bytes;
    switch (store.read(item, bytes)) {
    case KeyStore::ReadStatus::found: {
        auto key = Key::fromRaw(bytes);
        if (!key) {
            Log::line("Wickerlane: the key \"" + item + "\" in the key store is not a valid key.");
            return std::nullopt;
        }
        slot = key;
        return slot;
    }
    case KeyStore::ReadStatus::failed:
        Log::line("Wickerlane: the key \"" + item + "\" could not be read from the key store.");
        return std::nullopt;
    case KeyStore::ReadStatus::notFound: break;
    }
    Key key = Key::generate();
    if (!store.write(item, key.raw()))
        stopBecauseUnstorable(item);
    slot = key;
    return slot;
}

std::optional<SigningKey> DeviceIdentity::deviceSigningKey()
{
    std::lock_guard guard(lock_);
    return loadOrMake(device_, kDeviceSigningItem);
}

std::optional<SigningKey> DeviceIdentity::personSigningKey()
{
    std::lock_guard guard(lock_);
    return loadOrMake(person_, kPersonSigningItem);
}

std::optional<AgreementKey> DeviceIdentity::mailAgreementKey()
{
    std::lock_guard guard(lock_);
    return loadOrMake(mail_, kMailAgreementItem);
}

void DeviceIdentity::forget()
{
    std::lock_guard guard(lock_);
    device_.reset();
    person_.reset();
    mail_.reset();
}

bool DeviceIdentity::storePersonSigningKey(const SigningKey& key)
{
    std::lock_guard guard(lock_);
    if (!store_->write(kPersonSigningItem, key.raw())) {
        Log::line("Wickerlane: the person key could not be stored in the key store.");
        return false;
    }
    person_ = key;
    return true;
}

std::optional<std::string> DeviceIdentity::signAsDevice(std::string_view text)
{
    auto key = deviceSigningKey();
    if (!key)
        return std::nullopt;
    return key->sign(text);
}

std::string DeviceIdentity::deviceId()
{
    auto key = deviceSigningKey();
    return key ? fingerprintOfRaw(key->publicKeyRaw()) : std::string();
}

std::string hostProofMessage(const std::string& hostId, const std::string& helperNonce, const std::string& hostNonce)
{
    return "wickerlane-host-proof|" + hostId + "|" + helperNonce + "|" + hostNonce;
}

std::string helperProofMessage(const std::string& hostId, const std::string& hostNonce, const std::string& helperNonce)
{
    return "wickerlane-helper-proof|" + hostId + "|" + hostNonce + "|" + helperNonce;
}

std::string offerSignatureMessage(const std::string& hostNonce, const std::string& sdp)
{
    return "wickerlane-offer|" + hostNonce + "|" + sdp;
}

std::string answerSignatureMessage(const std::string& helperNonce, const std::string& sdp)
{
    return "wickerlane-answer|" + helperNonce + "|" + sdp;
}

std::string derivePINKey(const std::string& pin, std::string_view salt)
{
    auto key = crypto::pbkdf2Sha256(pin, salt, kPINIterations, 32);
    return key ? *key : std::string();
}

std::string makePINSalt()
{
    return randomBytes(16);
}

std::string makePINProof(std::string_view key, const std::string& hostNonce, const std::string& helperNonce)
{
    return base64Encode(crypto::hmacSha256(key, pinMessage(hostNonce, helperNonce)));
}

bool checkPINProof(const std::optional<std::string>& proofBase64, std::string_view key, const std::string& hostNonce,
                   const std::string& helperNonce)
{
    if (!proofBase64)
        return false;
    auto proof = base64Decode(*proofBase64);
    if (!proof || proof->size() != 32)
        return false;
    const std::string expected = crypto::hmacSha256(key, pinMessage(hostNonce, helperNonce));
    return expected.size() == 32 && crypto::equalBytes(*proof, expected);
}

bool isValidPIN(const std::string& text)
{
    if (text.size() < 6)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::string newPairingCode()
{
    const std::string bytes = randomBytes(8);
    std::string code;
    code.reserve(8);
    for (char b : bytes)
        code += kPairingAlphabet[static_cast<unsigned char>(b) % 32];
    return code;
}

std::optional<std::string> normalizePairingCode(std::string_view typed)
{
    static const std::string_view alphabet(kPairingAlphabet);
    std::string code;
    for (char c : typed) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c == 'O')
            c = '0';
        else if (c == 'I' || c == 'L')
            c = '1';
        if (alphabet.find(c) == std::string_view::npos)
            continue;
        code += c;
        if (code.size() > 8)
            return std::nullopt;
    }
    if (code.size() != 8)
        return std::nullopt;
    return code;
}

std::string pairingComparisonNumber(const std::string& code, const std::string& hostPublicKeyBase64,
                                    const std::string& helperPublicKeyBase64)
{
    const std::string digest =
        crypto::sha256("wickerlane-pair|" + code + "|" + hostPublicKeyBase64 + "|" + helperPublicKeyBase64);
    const std::uint32_t value = (std::uint32_t(static_cast<unsigned char>(digest[0])) << 24) |
        (std::uint32_t(static_cast<unsigned char>(digest[1])) << 16) |
        (std::uint32_t(static_cast<unsigned char>(digest[2])) << 8) |
        std::uint32_t(static_cast<unsigned char>(digest[3]));
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(value % 1000000u));
    return text;
}

int endReasonIndex(std::string_view reason)
{
    if (reason == "stopped")
        return 0;
    if (reason == "helperLeft")
        return 1;
    if (reason == "connectionLost")
        return 2;
    if (reason == "accessRemoved")
        return 3;
    return 4;
}

} // namespace wl
