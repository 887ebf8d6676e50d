#include "protocol/MailEnvelope.h"

#include "identity/Base64.h"
#include "identity/Crypto.h"
#include "identity/Random.h"
#include "protocol/JsonFields.h"

namespace wl {

namespace {

std::optional<MailEnvelope> readMailEnvelope(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "MailEnvelope");
    MailEnvelope e;
    r.string("id", e.id);
    r.string("from", e.from);
    r.string("to", e.to);
    r.string("ephemeralKey", e.ephemeralKey);
    r.string("nonce", e.nonce);
    r.string("box", e.box);
    r.string("signature", e.signature);
    if (!r.ok())
        return std::nullopt;
    return e;
}

std::string infoText(const std::string& id, const std::string& from, const std::string& to)
{
    return "wickerlane-mail|" + id + "|" + from + "|" + to;
}

std::optional<std::string> mailKey(const std::string& shared, const std::string& ephemeralPublic,
                                   const std::string& recipientPublic, const std::string& info)
{
    return crypto::hkdfSha256(shared, ephemeralPublic + recipientPublic, info, 32);
}

} // namespace

std::optional<MailEnvelope> MailEnvelope::trySeal(const MailContent& content, const SigningKey& sender,
                                                  const std::string& toId, const std::string& recipientMailKeyBase64)
{
    auto recipientPublic = base64Decode(recipientMailKeyBase64);
    if (!recipientPublic || recipientPublic->size() != 32)
        return std::nullopt;
    MailEnvelope e;
    e.id = newUUID();
    e.from = fingerprintOfRaw(sender.publicKeyRaw());
    e.to = toId;
    const AgreementKey ephemeral = AgreementKey::generate();
    auto shared = ephemeral.sharedSecret(*recipientPublic);
    if (!shared)
        return std::nullopt;
    const std::string info = infoText(e.id, e.from, e.to);
    auto key = mailKey(*shared, ephemeral.publicKeyRaw(), *recipientPublic, info);
    if (!key)
        return std::nullopt;
    const std::string nonce = randomBytes(12);
    auto box = crypto::chachaSeal(*key, nonce, content.encode(), info);
    if (!box)
        return std::nullopt;
    e.ephemeralKey = ephemeral.publicKeyBase64();
    e.nonce = base64Encode(nonce);
    e.box = base64Encode(*box);
    e.signature = sender.sign(e.signedText());
    return e;
}

MailEnvelope MailEnvelope::seal(const MailContent& content, const SigningKey& sender, const std::string& toId,
                                const std::string& recipientMailKeyBase64)
{
    if (auto sealed = trySeal(content, sender, toId, recipientMailKeyBase64))
        return *sealed;
    MailEnvelope e;
    e.id = newUUID();
    e.from = fingerprintOfRaw(sender.publicKeyRaw());
    e.to = toId;
    return e;
}

std::string MailEnvelope::signedText() const
{
    return infoText(id, from, to) + "|" + ephemeralKey + "|" + nonce + "|" + box;
}

bool MailEnvelope::signatureHolds(const std::string& senderSigningKeyBase64) const
{
    auto fingerprint = keyFingerprint(senderSigningKeyBase64);
    if (!fingerprint || *fingerprint != from)
        return false;
    return verifySignature(signature, signedText(), senderSigningKeyBase64);
}

std::optional<MailContent> MailEnvelope::open(const AgreementKey& recipient, const std::string& ownId,
                                              const std::string& senderSigningKeyBase64) const
{
    if (to != ownId || !signatureHolds(senderSigningKeyBase64))
        return std::nullopt;
    auto ephemeralPublic = base64Decode(ephemeralKey);
    auto nonceBytes = base64Decode(nonce);
    auto sealed = base64Decode(box);
    if (!ephemeralPublic || ephemeralPublic->size() != 32 || !nonceBytes || nonceBytes->size() != 12 || !sealed)
        return std::nullopt;
    auto shared = recipient.sharedSecret(*ephemeralPublic);
    if (!shared)
        return std::nullopt;
    const std::string info = infoText(id, from, to);
    auto key = mailKey(*shared, *ephemeralPublic, recipient.publicKeyRaw(), info);
    if (!key)
        return std::nullopt;
    auto plaintext = crypto::chachaOpen(*key, *nonceBytes, *sealed, info);
    if (!plaintext)
        return std::nullopt;
    return MailContent::decode(*plaintext);
}

nlohmann::json MailEnvelope::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["from"] = from;
    j["to"] = to;
    j["ephemeralKey"] = ephemeralKey;
    j["nonce"] = nonce;
    j["box"] = box;
    j["signature"] = signature;
    return j;
}

WL_JSON_RECORD_CODING(MailEnvelope, readMailEnvelope)

} // namespace wl
