#pragma once
// Ed25519 signing keys and X25519 agreement keys held as raw 32-byte private keys,
// device ids (fingerprints) and signature checks.

#include <optional>
#include <string>
#include <string_view>

namespace wl {

class SigningKey {
public:
    static SigningKey generate();
    // nullopt unless exactly 32 bytes.
    static std::optional<SigningKey> fromRaw(std::string_view raw32);

    const std::string& raw() const { return raw_; }
    std::string publicKeyRaw() const;
    std::string publicKeyBase64() const;
    // Base64 Ed25519 signature over the UTF-8 bytes of text.
    std::string sign(std::string_view text) const;

    bool operator==(const SigningKey&) const = default;

private:
    explicit SigningKey(std::string raw, std::string publicRaw);
    std::string raw_;
    std::string public_;
};

class AgreementKey {
public:
    static AgreementKey generate();
    static std::optional<AgreementKey> fromRaw(std::string_view raw32);

    const std::string& raw() const { return raw_; }
    std::string publicKeyRaw() const;
    std::string publicKeyBase64() const;
    // X25519 with the peer's raw public key; nullopt on a malformed key or an all-zero result.
    std::optional<std::string> sharedSecret(std::string_view peerPublicRaw) const;

    bool operator==(const AgreementKey&) const = default;

private:
    explicit AgreementKey(std::string raw, std::string publicRaw);
    std::string raw_;
    std::string public_;
};

// Device id: lower-case hex SHA-256 of the decoded 32-byte public key; nullopt when the
// text is not strict base64 of exactly 32 bytes.
std::optional<std::string> keyFingerprint(const std::string& publicKeyBase64);
std::string fingerprintOfRaw(std::string_view publicKeyRaw);

// Ed25519 check; false on anything malformed (absent signature, bad base64, wrong sizes).
bool verifySignature(const std::optional<std::string>& signatureBase64, std::string_view text,
                     const std::string& publicKeyBase64);

// Lower-case hex of bytes; SHA-256 of bytes (raw 32 bytes).
std::string hexEncode(std::string_view bytes);
std::string sha256(std::string_view bytes);

} // namespace wl
