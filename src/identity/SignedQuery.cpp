#include "identity/SignedQuery.h"

#include "identity/DeviceIdentity.h"

#include <charconv>
#include <chrono>

namespace wl {

std::string signedQueryMessage(const std::string& purpose, const std::string& id, const std::string& ts)
{
    return purpose + "|" + id + "|" + ts;
}

std::vector<std::pair<std::string, std::string>> signedQueryItems(const std::string& purpose, const SigningKey& key,
                                                                  std::int64_t nowUnix)
{
    const std::string id = fingerprintOfRaw(key.publicKeyRaw());
    const std::string ts = std::to_string(nowUnix);
    return {{"pub", key.publicKeyBase64()}, {"ts", ts}, {"sig", key.sign(signedQueryMessage(purpose, id, ts))}};
}

std::optional<std::vector<std::pair<std::string, std::string>>> signedQueryItems(const std::string& purpose,
                                                                                 DeviceIdentity& identity)
{
    auto key = identity.deviceSigningKey();
    if (!key)
        return std::nullopt;
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return signedQueryItems(purpose, *key, static_cast<std::int64_t>(now));
}

bool checkSignedQuery(const std::string& purpose, const std::string& id, const std::string& pub, const std::string& ts,
                      const std::string& sig, std::int64_t nowUnix)
{
    // ts: a plain decimal integer (optional leading minus), nothing else.
    if (ts.empty() || ts.size() > 19)
        return false;
    std::int64_t stamp = 0;
    const char* begin = ts.data();
    const char* end = ts.data() + ts.size();
    if (*begin == '+')
        return false;
    auto [ptr, ec] = std::from_chars(begin, end, stamp);
    if (ec != std::errc() || ptr != end)
        return false;
    // Compare without overflow: both fit comfortably once the size is bounded.
    const long double difference = static_cast<long double>(nowUnix) - static_cast<long double>(stamp);
    if (difference > kSignedQueryWindowSeconds || difference < -kSignedQueryWindowSeconds)
        return false;
    auto fingerprint = keyFingerprint(pub);
    if (!fingerprint || *fingerprint != id)
        return false;
    return verifySignature(sig, signedQueryMessage(purpose, id, ts), pub);
}

} // namespace wl
