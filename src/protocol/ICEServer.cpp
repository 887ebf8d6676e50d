#include "protocol/ICEServer.h"

namespace wl {

nlohmann::json ICEServer::toJson() const { return nlohmann::json::object(); }
std::optional<ICEServer> ICEServer::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string ICEServer::encode() const { return "{}"; }
std::optional<ICEServer> ICEServer::decode(std::string_view, std::string*) { return std::nullopt; }

} // namespace wl
