#pragma once
// Query items of requests that act as a device: pub, ts, sig. The values are returned
// as plain text; whoever builds the URL percent-encodes them.

#include "identity/Keys.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wl {

inline constexpr const char* kPurposeHost = "wickerlane-host";
inline constexpr const char* kPurposeMailbox = "wickerlane-mailbox";
inline constexpr const char* kPurposeKeys = "wickerlane-keys";
inline constexpr std::int64_t kSignedQueryWindowSeconds = 300;

// The signed text: purpose + "|" + id + "|" + ts.
std::string signedQueryMessage(const std::string& purpose, const std::string& id, const std::string& ts);

std::vector<std::pair<std::string, std::string>> signedQueryItems(const std::string& purpose, const SigningKey& key,
                                                                  std::int64_t nowUnix);
class DeviceIdentity;

// With the identity's device key and the current time; nullopt when the key cannot be read.
std::optional<std::vector<std::pair<std::string, std::string>>> signedQueryItems(const std::string& purpose,
                                                                                 DeviceIdentity& identity);

// id must be fingerprint(pub), ts a decimal integer within 300 s of now, sig valid.
bool checkSignedQuery(const std::string& purpose, const std::string& id, const std::string& pub, const std::string& ts,
                      const std::string& sig, std::int64_t nowUnix);

} // namespace wl
