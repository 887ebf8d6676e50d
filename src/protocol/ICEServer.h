#pragma once
// A STUN or relay (TURN) server handed to WebRTC.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

struct ICEServer {
    std::vector<std::string> urls;
    std::optional<std::string> username;
    std::optional<std::string> credential;

    bool operator==(const ICEServer&) const = default;

    nlohmann::json toJson() const;
    static std::optional<ICEServer> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<ICEServer> decode(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
