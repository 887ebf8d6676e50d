#pragma once
// This installation's keys, proofs, PINs, pairing codes and small helpers of the
// session handshake.
//
// DeviceIdentity: one installation's keys, kept in its key store under the items
// "device-signing", "person-signing" and "mail-agreement" and held in memory once read.
// Keys are made on first use. A key that cannot be stored stops the process (logged,
// then exit); a key that cannot be read gives nullopt (the shell turns that into its
// alert). Start-up makes one per installation and hands it to what acts as this device;
// a test that runs two installations in one process gives each its own.

#include "identity/Keys.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace wl {

enum class KeyError { unreadable };

inline constexpr const char* kDeviceSigningItem = "device-signing";
inline constexpr const char* kPersonSigningItem = "person-signing";
inline constexpr const char* kMailAgreementItem = "mail-agreement";

class KeyStore;

// Safe to use from any thread.
class DeviceIdentity {
public:
    // Keys in the given store (required: start-up hands in the platform's).
    explicit DeviceIdentity(std::shared_ptr<KeyStore> store);

    std::optional<SigningKey> deviceSigningKey();
    std::optional<SigningKey> personSigningKey();
    std::optional<AgreementKey> mailAgreementKey();
    // Replaces the person key (adopting a roster's person key); false if it cannot be stored.
    bool storePersonSigningKey(const SigningKey& key);

    std::optional<std::string> signAsDevice(std::string_view text);
    // The fingerprint of the device key, "" when it cannot be read.
    std::string deviceId();

    // Drops the keys held in memory: the next use reads the store again (after
    // something else wrote keys into it).
    void forget();

    KeyStore& keyStore() const { return *store_; }

private:
    template <class Key>
    std::optional<Key> loadOrMake(std::optional<Key>& slot, const std::string& item);

    std::shared_ptr<KeyStore> store_;
    std::mutex lock_;
    std::optional<SigningKey> device_;
    std::optional<SigningKey> person_;
    std::optional<AgreementKey> mail_;
};

std::string hostProofMessage(const std::string& hostId, const std::string& helperNonce, const std::string& hostNonce);
std::string helperProofMessage(const std::string& hostId, const std::string& hostNonce, const std::string& helperNonce);
std::string offerSignatureMessage(const std::string& hostNonce, const std::string& sdp);
std::string answerSignatureMessage(const std::string& helperNonce, const std::string& sdp);

inline constexpr int kPINIterations = 200000;
// 32 raw bytes, PBKDF2-HMAC-SHA256 with 200,000 iterations over the PIN's UTF-8 bytes.
std::string derivePINKey(const std::string& pin, std::string_view salt);
std::string makePINSalt();
// Base64 HMAC-SHA256(key, "wickerlane-pin|" + hostNonce + "|" + helperNonce).
std::string makePINProof(std::string_view key, const std::string& hostNonce, const std::string& helperNonce);
bool checkPINProof(const std::optional<std::string>& proofBase64, std::string_view key, const std::string& hostNonce,
                   const std::string& helperNonce);
// At least 6 characters, ASCII digits only.
bool isValidPIN(const std::string& text);

inline constexpr const char* kPairingAlphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
std::string newPairingCode();
std::optional<std::string> normalizePairingCode(std::string_view typed);
std::string pairingComparisonNumber(const std::string& code, const std::string& hostPublicKeyBase64,
                                    const std::string& helperPublicKeyBase64);

// stopped 0, helperLeft 1, connectionLost 2, accessRemoved 3, anything else 4.
int endReasonIndex(std::string_view reason);

} // namespace wl
