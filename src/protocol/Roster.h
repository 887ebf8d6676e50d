#pragma once
// The signed "My Macs" roster: the exact JSON text of MyMacsRoster plus the person
// key's signature over "wickerlane-mymacs|" + that text.

#include "identity/Keys.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

struct RosterMac {
    std::string id;
    std::string publicKey;
    std::string name;

    bool operator==(const RosterMac&) const = default;

    nlohmann::json toJson() const;
    static std::optional<RosterMac> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<RosterMac> decode(std::string_view text, std::string* error = nullptr);
};

struct MyMacsRoster {
    std::string person; // base64 person signing public key
    std::int64_t version = 0;
    std::vector<RosterMac> macs;

    bool operator==(const MyMacsRoster&) const = default;

    nlohmann::json toJson() const;
    static std::optional<MyMacsRoster> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<MyMacsRoster> decode(std::string_view text, std::string* error = nullptr);
};

inline constexpr const char* kRosterSignatureTag = "wickerlane-mymacs|";

struct SignedRoster {
    std::string roster; // exact JSON text of a MyMacsRoster
    std::string signature; // base64

    static SignedRoster sign(const MyMacsRoster& roster, const SigningKey& personKey);
    // The roster when the text decodes and the signature by its person key holds.
    std::optional<MyMacsRoster> verified() const;

    bool operator==(const SignedRoster&) const = default;

    nlohmann::json toJson() const;
    static std::optional<SignedRoster> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<SignedRoster> decode(std::string_view text, std::string* error = nullptr);
};

} // namespace wl
