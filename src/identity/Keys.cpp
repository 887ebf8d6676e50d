#include "identity/Keys.h"

#include "identity/Base64.h"
#include "identity/Crypto.h"
#include "identity/Random.h"

#include <openssl/evp.h>

#include <memory>

namespace wl {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

const unsigned char* bytesOf(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

Pkey privateKey(int type, std::string_view raw32)
{
    return Pkey(EVP_PKEY_new_raw_private_key(type, nullptr, bytesOf(raw32), raw32.size()));
}

Pkey publicKey(int type, std::string_view raw32)
{
    return Pkey(EVP_PKEY_new_raw_public_key(type, nullptr, bytesOf(raw32), raw32.size()));
}

std::optional<std::string> publicOf(int type, std::string_view raw32)
{
    if (raw32.size() != 32)
        return std::nullopt;
    Pkey key = privateKey(type, raw32);
    if (!key)
        return std::nullopt;
    std::string out(32, '\0');
    std::size_t length = out.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(out.data()), &length) != 1 ||
        length != 32)
        return std::nullopt;
    return out;
}

} // namespace

// ---- SigningKey ----

SigningKey::SigningKey(std::string raw, std::string publicRaw) : raw_(std::move(raw)), public_(std::move(publicRaw)) { }

SigningKey SigningKey::generate()
{
    for (;;) {
        if (auto key = fromRaw(randomBytes(32)))
            return *key;
    }
}

std::optional<SigningKey> SigningKey::fromRaw(std::string_view raw32)
{
    auto pub = publicOf(EVP_PKEY_ED25519, raw32);
    if (!pub)
        return std::nullopt;
    return SigningKey(std::string(raw32), std::move(*pub));
}

std::string SigningKey::publicKeyRaw() const
{
    return public_;
}
std::string SigningKey::publicKeyBase64() const
{
    return base64Encode(public_);
}

std::string SigningKey::sign(std::string_view text) const
{
    Pkey key = privateKey(EVP_PKEY_ED25519, raw_);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!key || !ctx)
        return {};
    std::string signature(64, '\0');
    std::size_t length = signature.size();
    static const unsigned char empty = 0;
    const unsigned char* data = text.empty() ? &empty : bytesOf(text);
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, data, text.size()) !=
            1 ||
        length != 64)
        return {};
    return base64Encode(signature);
}

// ---- AgreementKey ----

AgreementKey::AgreementKey(std::string raw, std::string publicRaw) : raw_(std::move(raw)), public_(std::move(publicRaw))
{
}

AgreementKey AgreementKey::generate()
{
    for (;;) {
        if (auto key = fromRaw(randomBytes(32)))
            return *key;
    }
}

std::optional<AgreementKey> AgreementKey::fromRaw(std::string_view raw32)
{
    auto pub = publicOf(EVP_PKEY_X25519, raw32);
    if (!pub)
        return std::nullopt;
    return AgreementKey(std::string(raw32), std::move(*pub));
}

std::string AgreementKey::publicKeyRaw() const
{
    return public_;
}
std::string AgreementKey::publicKeyBase64() const
{
    return base64Encode(public_);
}

std::optional<std::string> AgreementKey::sharedSecret(std::string_view peerPublicRaw) const
{
    if (peerPublicRaw.size() != 32)
        return std::nullopt;
    Pkey own = privateKey(EVP_PKEY_X25519, raw_);
    Pkey peer = publicKey(EVP_PKEY_X25519, peerPublicRaw);
    if (!own || !peer)
        return std::nullopt;
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(own.get(), nullptr));
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1)
        return std::nullopt;
    std::string secret(32, '\0');
    std::size_t length = secret.size();
    if (EVP_PKEY_derive(ctx.get(), reinterpret_cast<unsigned char*>(secret.data()), &length) != 1 || length != 32)
        return std::nullopt;
    // A low-order peer key gives the all-zero secret: refuse it.
    if (crypto::equalBytes(secret, std::string(32, '\0')))
        return std::nullopt;
    return secret;
}

// ---- Fingerprints and signatures ----

std::string hexEncode(std::string_view bytes)
{
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::string sha256(std::string_view bytes)
{
    return crypto::sha256(bytes);
}

std::string fingerprintOfRaw(std::string_view publicKeyRaw)
{
    return hexEncode(crypto::sha256(publicKeyRaw));
}

std::optional<std::string> keyFingerprint(const std::string& publicKeyBase64)
{
    auto raw = base64Decode(publicKeyBase64);
    if (!raw || raw->size() != 32)
        return std::nullopt;
    return fingerprintOfRaw(*raw);
}

bool verifySignature(const std::optional<std::string>& signatureBase64, std::string_view text,
                     const std::string& publicKeyBase64)
{
    if (!signatureBase64)
        return false;
    auto signature = base64Decode(*signatureBase64);
    auto pub = base64Decode(publicKeyBase64);
    if (!signature || signature->size() != 64 || !pub || pub->size() != 32)
        return false;
    Pkey key = publicKey(EVP_PKEY_ED25519, *pub);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!key || !ctx)
        return false;
    static const unsigned char empty = 0;
    const unsigned char* data = text.empty() ? &empty : bytesOf(text);
    return EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(ctx.get(), bytesOf(*signature), signature->size(), data, text.size()) == 1;
}

} // namespace wl
