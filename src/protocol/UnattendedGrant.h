#pragma once
// Unattended access allowed to one helper: when, the PIN's derived key and salt
// (base64), and the count of wrong PINs.

#include "protocol/Date.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace wl {

struct UnattendedGrant {
    Date enabledAt = 0;
    std::optional<std::string> pinKey;
    std::optional<std::string> pinSalt;
    int failedAttempts = 0;

    bool operator==(const UnattendedGrant&) const = default;

    nlohmann::json toJson() const;
    static std::optional<UnattendedGrant> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<UnattendedGrant> decode(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
