#include "protocol/UnattendedGrant.h"

namespace wl {

nlohmann::json UnattendedGrant::toJson() const { return nlohmann::json::object(); }
std::optional<UnattendedGrant> UnattendedGrant::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string UnattendedGrant::encode() const { return "{}"; }
std::optional<UnattendedGrant> UnattendedGrant::decode(std::string_view, std::string*) { return std::nullopt; }

} // namespace wl
