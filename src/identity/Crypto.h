#pragma once
// Small wrappers over OpenSSL for the primitives the identity and mail code use.
// Binary values are raw bytes in std::string. None of them throws.

#include <optional>
#include <string>
#include <string_view>

namespace wl::crypto {

std::string sha256(std::string_view bytes);
std::string hmacSha256(std::string_view key, std::string_view message);
// nullopt only if OpenSSL fails.
std::optional<std::string> hkdfSha256(std::string_view ikm, std::string_view salt, std::string_view info,
                                      std::size_t length);
std::optional<std::string> pbkdf2Sha256(std::string_view password, std::string_view salt, int iterations,
                                        std::size_t length);
// ChaCha20-Poly1305 with a 32-byte key and 12-byte nonce; the 16-byte tag is appended.
std::optional<std::string> chachaSeal(std::string_view key, std::string_view nonce, std::string_view plaintext,
                                      std::string_view aad);
// nullopt when the sizes are wrong or the tag does not hold.
std::optional<std::string> chachaOpen(std::string_view key, std::string_view nonce, std::string_view sealed,
                                      std::string_view aad);
// Constant-time comparison of equal-length byte strings (false when lengths differ).
bool equalBytes(std::string_view a, std::string_view b);

} // namespace wl::crypto
