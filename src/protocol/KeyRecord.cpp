#include "protocol/KeyRecord.h"

namespace wl {

nlohmann::json KeyRecord::toJson() const { return nlohmann::json::object(); }
std::optional<KeyRecord> KeyRecord::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string KeyRecord::encode() const { return "{}"; }
std::optional<KeyRecord> KeyRecord::decode(std::string_view, std::string*) { return std::nullopt; }
KeyRecord KeyRecord::make(const SigningKey&, const AgreementKey&, Date) { return {}; }
std::string KeyRecord::signedText(const std::string&, const std::string&, const std::string&) { return {}; }
bool KeyRecord::isValid() const { return false; }

} // namespace wl
