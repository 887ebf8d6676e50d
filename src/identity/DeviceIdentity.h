#pragma once
// This installation's keys, proofs, PINs, pairing codes and small helpers of the
// session handshake.
//
// Keys are made on first use in KeyStore::standard() under the items
// "device-signing", "person-signing" and "mail-agreement". A key that cannot be stored
// stops the process (logged, then exit); a key that cannot be read gives nullopt (the
// shell turns that into its alert).

#include "identity/Keys.h"

#include <optional>
#include <string>
#include <string_view>

namespace wl {

enum class KeyError { unreadable };

inline constexpr const char* kDeviceSigningItem = "device-signing";
inline constexpr const char* kPersonSigningItem = "person-signing";
inline constexpr const char* kMailAgreementItem = "mail-agreement";

std::optional<SigningKey> deviceSigningKey();
std::optional<SigningKey> personSigningKey();
std::optional<AgreementKey> mailAgreementKey();
// Forget the keys cached in memory (tests; after installing another KeyStore).
void resetIdentityCache();
// Replaces the person key (adopting a roster's person key); false if it cannot be stored.
bool storePersonSigningKey(const SigningKey& key);

std::optional<std::string> signAsDevice(std::string_view text);
std::string ownDeviceId();

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
