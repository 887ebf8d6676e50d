#include "protocol/KeyRecord.h"

#include "identity/Base64.h"
#include "protocol/JsonFields.h"

namespace wl {

namespace {

std::optional<KeyRecord> readKeyRecord(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "KeyRecord");
    KeyRecord k;
    r.string("id", k.id);
    r.string("signingKey", k.signingKey);
    r.string("mailKey", k.mailKey);
    r.number("publishedAt", k.publishedAt);
    r.string("signature", k.signature);
    if (!r.ok())
        return std::nullopt;
    return k;
}

} // namespace

std::string KeyRecord::signedText(const std::string& id, const std::string& signingKey, const std::string& mailKey)
{
    return "wickerlane-key-record|" + id + "|" + signingKey + "|" + mailKey;
}

KeyRecord KeyRecord::make(const SigningKey& device, const AgreementKey& mail, Date publishedAt)
{
    KeyRecord k;
    k.id = fingerprintOfRaw(device.publicKeyRaw());
    k.signingKey = device.publicKeyBase64();
    k.mailKey = mail.publicKeyBase64();
    k.publishedAt = publishedAt;
    k.signature = device.sign(signedText(k.id, k.signingKey, k.mailKey));
    return k;
}

bool KeyRecord::isValid() const
{
    auto fingerprint = keyFingerprint(signingKey);
    if (!fingerprint || *fingerprint != id)
        return false;
    auto mail = base64Decode(mailKey);
    if (!mail || mail->size() != 32)
        return false;
    return verifySignature(signature, signedText(id, signingKey, mailKey), signingKey);
}

nlohmann::json KeyRecord::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["signingKey"] = signingKey;
    j["mailKey"] = mailKey;
    j["publishedAt"] = publishedAt;
    j["signature"] = signature;
    return j;
}

WL_JSON_RECORD_CODING(KeyRecord, readKeyRecord)

} // namespace wl
