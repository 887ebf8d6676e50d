#include "protocol/PairedDevice.h"

namespace wl {

nlohmann::json PairedDevice::toJson() const { return nlohmann::json::object(); }
std::optional<PairedDevice> PairedDevice::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string PairedDevice::encode() const { return "{}"; }
std::optional<PairedDevice> PairedDevice::decode(std::string_view, std::string*) { return std::nullopt; }
std::string PairedDevice::encodeList(const std::vector<PairedDevice>&) { return "[]"; }
std::optional<std::vector<PairedDevice>> PairedDevice::decodeList(std::string_view, std::string*) { return std::nullopt; }

} // namespace wl
