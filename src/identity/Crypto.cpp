#include "identity/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/sha.h>

#include <limits>
#include <memory>

namespace wl::crypto {

namespace {

const unsigned char* bytesOf(std::string_view s)
{
    static const unsigned char empty = 0;
    return s.empty() ? &empty : reinterpret_cast<const unsigned char*>(s.data());
}

bool fitsInt(std::size_t n)
{
    return n <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

} // namespace

std::string sha256(std::string_view bytes)
{
    std::string out(SHA256_DIGEST_LENGTH, '\0');
    SHA256(bytesOf(bytes), bytes.size(), reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

std::string hmacSha256(std::string_view key, std::string_view message)
{
    std::string out(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    if (!fitsInt(key.size()) ||
        HMAC(EVP_sha256(), bytesOf(key), static_cast<int>(key.size()), bytesOf(message), message.size(),
             reinterpret_cast<unsigned char*>(out.data()), &length) == nullptr)
        return {};
    out.resize(length);
    return out;
}

std::optional<std::string> hkdfSha256(std::string_view ikm, std::string_view salt, std::string_view info,
                                      std::size_t length)
{
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr));
    if (!ctx || !fitsInt(ikm.size()) || !fitsInt(salt.size()) || !fitsInt(info.size()))
        return std::nullopt;
    std::string out(length, '\0');
    std::size_t outLength = length;
    if (EVP_PKEY_derive_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_hkdf_md(ctx.get(), EVP_sha256()) <= 0 ||
        EVP_PKEY_CTX_set1_hkdf_salt(ctx.get(), bytesOf(salt), static_cast<int>(salt.size())) <= 0 ||
        EVP_PKEY_CTX_set1_hkdf_key(ctx.get(), bytesOf(ikm), static_cast<int>(ikm.size())) <= 0 ||
        EVP_PKEY_CTX_add1_hkdf_info(ctx.get(), bytesOf(info), static_cast<int>(info.size())) <= 0 ||
        EVP_PKEY_derive(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &outLength) <= 0 ||
        outLength != length)
        return std::nullopt;
    return out;
}

std::optional<std::string> pbkdf2Sha256(std::string_view password, std::string_view salt, int iterations,
                                        std::size_t length)
{
    if (!fitsInt(password.size()) || !fitsInt(salt.size()) || !fitsInt(length) || iterations < 1)
        return std::nullopt;
    std::string out(length, '\0');
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(bytesOf(password)), static_cast<int>(password.size()),
                          bytesOf(salt), static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(length), reinterpret_cast<unsigned char*>(out.data())) != 1)
        return std::nullopt;
    return out;
}

std::optional<std::string> chachaSeal(std::string_view key, std::string_view nonce, std::string_view plaintext,
                                      std::string_view aad)
{
    if (key.size() != 32 || nonce.size() != 12 || !fitsInt(plaintext.size()) || !fitsInt(aad.size()))
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    std::string out(plaintext.size() + 16, '\0');
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    int length = 0;
    int total = 0;
    if (EVP_EncryptInit_ex(ctx.get(), EVP_chacha20_poly1305(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, 12, nullptr) != 1 ||
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), bytesOf(nonce)) != 1)
        return std::nullopt;
    if (!aad.empty() && EVP_EncryptUpdate(ctx.get(), nullptr, &length, bytesOf(aad), static_cast<int>(aad.size())) != 1)
        return std::nullopt;
    if (!plaintext.empty()) {
        if (EVP_EncryptUpdate(ctx.get(), outBytes, &length, bytesOf(plaintext), static_cast<int>(plaintext.size())) !=
            1)
            return std::nullopt;
        total = length;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), outBytes + total, &length) != 1)
        return std::nullopt;
    total += length;
    if (static_cast<std::size_t>(total) != plaintext.size() ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, outBytes + total) != 1)
        return std::nullopt;
    return out;
}

std::optional<std::string> chachaOpen(std::string_view key, std::string_view nonce, std::string_view sealed,
                                      std::string_view aad)
{
    if (key.size() != 32 || nonce.size() != 12 || sealed.size() < 16 || !fitsInt(sealed.size()) || !fitsInt(aad.size()))
        return std::nullopt;
    const std::string_view cipher = sealed.substr(0, sealed.size() - 16);
    std::string tag(sealed.substr(sealed.size() - 16));
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    std::string out(cipher.size() + 16, '\0');
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    int length = 0;
    int total = 0;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_chacha20_poly1305(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, 12, nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytesOf(key), bytesOf(nonce)) != 1)
        return std::nullopt;
    if (!aad.empty() && EVP_DecryptUpdate(ctx.get(), nullptr, &length, bytesOf(aad), static_cast<int>(aad.size())) != 1)
        return std::nullopt;
    if (!cipher.empty()) {
        if (EVP_DecryptUpdate(ctx.get(), outBytes, &length, bytesOf(cipher), static_cast<int>(cipher.size())) != 1)
            return std::nullopt;
        total = length;
    }
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, 16, tag.data()) != 1)
        return std::nullopt;
    if (EVP_DecryptFinal_ex(ctx.get(), outBytes + total, &length) <= 0)
        return std::nullopt;
    total += length;
    out.resize(static_cast<std::size_t>(total));
    return out;
}

bool equalBytes(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && (a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0);
}

} // namespace wl::crypto
