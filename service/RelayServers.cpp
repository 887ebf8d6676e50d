#include "RelayServers.h"

#include "identity/Base64.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace wl::service {

RelayServers::RelayServers(std::vector<std::string> stunUrls, std::vector<std::string> turnUrls, std::string turnSecret,
                           std::chrono::seconds lifetime)
    : stun_(std::move(stunUrls)), turn_(std::move(turnUrls)), secret_(std::move(turnSecret)), lifetime_(lifetime)
{
}

std::string RelayServers::turnCredential(const std::string& secret, const std::string& username)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()),
              reinterpret_cast<const unsigned char*>(username.data()), username.size(), digest, &length))
        return {};
    return base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
}

std::string RelayServers::iceServersFrame(const std::string& deviceId, std::int64_t nowUnix) const
{
    nlohmann::json servers = nlohmann::json::array();
    if (!stun_.empty())
        servers.push_back({{"urls", stun_}});
    if (!turn_.empty()) {
        nlohmann::json turn = {{"urls", turn_}};
        if (!secret_.empty()) {
            std::string username = std::to_string(nowUnix + lifetime_.count()) + ":" + deviceId;
            turn["username"] = username;
            turn["credential"] = turnCredential(secret_, username);
        }
        servers.push_back(std::move(turn));
    }
    nlohmann::json frame = {{"kind", "iceServers"}, {"iceServers", std::move(servers)}};
    return frame.dump();
}

} // namespace wl::service
