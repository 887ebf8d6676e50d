#pragma once
// Sealed mail for one recipient: X25519 with a fresh ephemeral key, HKDF-SHA256,
// ChaCha20-Poly1305, and the sender's Ed25519 signature over every field.

#include "identity/Keys.h"
#include "protocol/MailContent.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace wl {

struct MailEnvelope {
    std::string id; // lower-case UUID
    std::string from; // sender device id
    std::string to; // recipient device id
    std::string ephemeralKey; // base64 X25519 public key
    std::string nonce; // base64, 12 bytes
    std::string box; // base64 ciphertext with the tag appended
    std::string signature; // base64

    static MailEnvelope seal(const MailContent& content, const SigningKey& sender, const std::string& toId,
                             const std::string& recipientMailKeyBase64);
    // As seal, but nullopt when the recipient key is malformed or agreement fails
    // (seal then gives an envelope with an empty box that never opens).
    static std::optional<MailEnvelope> trySeal(const MailContent& content, const SigningKey& sender,
                                               const std::string& toId, const std::string& recipientMailKeyBase64);
    // The text the sender signs.
    std::string signedText() const;
    // True when from is the fingerprint of that key and its signature over signedText() holds.
    bool signatureHolds(const std::string& senderSigningKeyBase64) const;
    // nullopt when to != ownId, the signature does not hold for the sender key (as above), any
    // field is not strict base64 of the right size, the agreement is all-zero, or the box
    // does not open or does not hold a MailContent.
    std::optional<MailContent> open(const AgreementKey& recipient, const std::string& ownId,
                                    const std::string& senderSigningKeyBase64) const;

    bool operator==(const MailEnvelope&) const = default;

    nlohmann::json toJson() const;
    static std::optional<MailEnvelope> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<MailEnvelope> decode(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
