#pragma once
// The STUN/TURN servers the service hands out in `iceServers` frames. TURN credentials
// follow coturn's use-auth-secret scheme: username "<expiry>:<device id>", credential
// base64(HMAC-SHA1(secret, username)).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace wl::service {

class RelayServers {
public:
    RelayServers(std::vector<std::string> stunUrls, std::vector<std::string> turnUrls, std::string turnSecret,
                 std::chrono::seconds lifetime);

    // {"kind":"iceServers","iceServers":[...]} for a binding to host `deviceId`; the list is
    // [] when nothing is configured.
    std::string iceServersFrame(const std::string& deviceId, std::int64_t nowUnix) const;

    static std::string turnCredential(const std::string& secret, const std::string& username);

private:
    std::vector<std::string> stun_;
    std::vector<std::string> turn_;
    std::string secret_;
    std::chrono::seconds lifetime_;
};

} // namespace wl::service
