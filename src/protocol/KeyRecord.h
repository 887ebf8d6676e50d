#pragma once
// A device's published mail key, signed by its device key over
// "wickerlane-key-record|" + id + "|" + signingKey + "|" + mailKey.

#include "identity/Keys.h"
#include "protocol/Date.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace wl {

struct KeyRecord {
    std::string id;
    std::string signingKey; // base64 Ed25519 public key
    std::string mailKey; // base64 X25519 public key
    Date publishedAt = 0;
    std::string signature; // base64

    static KeyRecord make(const SigningKey& device, const AgreementKey& mail, Date publishedAt);
    static std::string signedText(const std::string& id, const std::string& signingKey, const std::string& mailKey);
    // id == fingerprint(signingKey), mailKey decodes to 32 bytes and the signature holds.
    bool isValid() const;

    bool operator==(const KeyRecord&) const = default;

    nlohmann::json toJson() const;
    static std::optional<KeyRecord> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<KeyRecord> decode(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
