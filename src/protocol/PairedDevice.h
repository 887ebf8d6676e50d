#pragma once
// A paired Mac: id (fingerprint), name, signing public key (base64), when it was
// paired, an optional unattended grant and an optional person (base64 person key).

#include "protocol/Date.h"
#include "protocol/UnattendedGrant.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

struct PairedDevice {
    std::string id;
    std::string name;
    std::string publicKey;
    Date pairedAt = 0;
    std::optional<UnattendedGrant> unattended;
    std::optional<std::string> person;

    bool operator==(const PairedDevice&) const = default;

    nlohmann::json toJson() const;
    static std::optional<PairedDevice> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<PairedDevice> decode(std::string_view text, std::string* error = nullptr);

    // A JSON array of devices.
    static std::string encodeList(const std::vector<PairedDevice>& devices);
    static std::optional<std::vector<PairedDevice>> decodeList(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
