#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "identity/PairedDeviceStore.h"
#include "identity/Random.h"
#include "identity/SignedQuery.h"

namespace wl {

std::string base64Encode(std::string_view) { return {}; }
std::optional<std::string> base64Decode(std::string_view) { return std::nullopt; }
std::string randomBytes(std::size_t count) { return std::string(count, '\0'); }
std::string newUUID() { return "00000000-0000-4000-8000-000000000000"; }

SigningKey::SigningKey(std::string raw, std::string publicRaw) : raw_(std::move(raw)), public_(std::move(publicRaw)) {}
SigningKey SigningKey::generate() { return SigningKey(std::string(32, '\0'), std::string(32, '\0')); }
std::optional<SigningKey> SigningKey::fromRaw(std::string_view) { return std::nullopt; }
std::string SigningKey::publicKeyRaw() const { return public_; }
std::string SigningKey::publicKeyBase64() const { return {}; }
std::string SigningKey::sign(std::string_view) const { return {}; }
AgreementKey::AgreementKey(std::string raw, std::string publicRaw) : raw_(std::move(raw)), public_(std::move(publicRaw)) {}
AgreementKey AgreementKey::generate() { return AgreementKey(std::string(32, '\0'), std::string(32, '\0')); }
std::optional<AgreementKey> AgreementKey::fromRaw(std::string_view) { return std::nullopt; }
std::string AgreementKey::publicKeyRaw() const { return public_; }
std::string AgreementKey::publicKeyBase64() const { return {}; }
std::optional<std::string> AgreementKey::sharedSecret(std::string_view) const { return std::nullopt; }
std::optional<std::string> keyFingerprint(const std::string&) { return std::nullopt; }
std::string fingerprintOfRaw(std::string_view) { return {}; }
bool verifySignature(const std::optional<std::string>&, std::string_view, const std::string&) { return false; }
std::string hexEncode(std::string_view) { return {}; }
std::string sha256(std::string_view) { return {}; }

std::optional<SigningKey> deviceSigningKey() { return std::nullopt; }
std::optional<SigningKey> personSigningKey() { return std::nullopt; }
std::optional<AgreementKey> mailAgreementKey() { return std::nullopt; }
void resetIdentityCache() {}
bool storePersonSigningKey(const SigningKey&) { return false; }
std::optional<std::string> signAsDevice(std::string_view) { return std::nullopt; }
std::string ownDeviceId() { return {}; }
std::string hostProofMessage(const std::string&, const std::string&, const std::string&) { return {}; }
std::string helperProofMessage(const std::string&, const std::string&, const std::string&) { return {}; }
std::string offerSignatureMessage(const std::string&, const std::string&) { return {}; }
std::string answerSignatureMessage(const std::string&, const std::string&) { return {}; }
std::string derivePINKey(const std::string&, std::string_view) { return std::string(32, '\0'); }
std::string makePINSalt() { return std::string(16, '\0'); }
std::string makePINProof(std::string_view, const std::string&, const std::string&) { return {}; }
bool checkPINProof(const std::optional<std::string>&, std::string_view, const std::string&, const std::string&) { return false; }
bool isValidPIN(const std::string&) { return false; }
std::string newPairingCode() { return "00000000"; }
std::optional<std::string> normalizePairingCode(std::string_view) { return std::nullopt; }
std::string pairingComparisonNumber(const std::string&, const std::string&, const std::string&) { return "000000"; }
int endReasonIndex(std::string_view) { return 4; }

std::string signedQueryMessage(const std::string&, const std::string&, const std::string&) { return {}; }
std::vector<std::pair<std::string, std::string>> signedQueryItems(const std::string&, const SigningKey&, std::int64_t) { return {}; }
std::optional<std::vector<std::pair<std::string, std::string>>> signedQueryItems(const std::string&) { return std::nullopt; }
bool checkSignedQuery(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&, std::int64_t) { return false; }

std::vector<PairedDevice> PairedDeviceStore::load() const { return {}; }
void PairedDeviceStore::save(const std::vector<PairedDevice>&) const {}

} // namespace wl
