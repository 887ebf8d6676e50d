#include "protocol/Roster.h"

namespace wl {

nlohmann::json RosterMac::toJson() const { return nlohmann::json::object(); }
std::optional<RosterMac> RosterMac::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string RosterMac::encode() const { return "{}"; }
std::optional<RosterMac> RosterMac::decode(std::string_view, std::string*) { return std::nullopt; }
nlohmann::json MyMacsRoster::toJson() const { return nlohmann::json::object(); }
std::optional<MyMacsRoster> MyMacsRoster::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string MyMacsRoster::encode() const { return "{}"; }
std::optional<MyMacsRoster> MyMacsRoster::decode(std::string_view, std::string*) { return std::nullopt; }
nlohmann::json SignedRoster::toJson() const { return nlohmann::json::object(); }
std::optional<SignedRoster> SignedRoster::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string SignedRoster::encode() const { return "{}"; }
std::optional<SignedRoster> SignedRoster::decode(std::string_view, std::string*) { return std::nullopt; }
SignedRoster SignedRoster::sign(const MyMacsRoster&, const SigningKey&) { return {}; }
std::optional<MyMacsRoster> SignedRoster::verified() const { return std::nullopt; }

} // namespace wl
