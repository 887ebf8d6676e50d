#include "protocol/MailContent.h"

namespace wl {

nlohmann::json MailContent::toJson() const { return nlohmann::json::object(); }
std::optional<MailContent> MailContent::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string MailContent::encode() const { return "{}"; }
std::optional<MailContent> MailContent::decode(std::string_view, std::string*) { return std::nullopt; }
std::string toString(MailContent::Kind) { return {}; }
std::optional<MailContent::Kind> mailKindFromString(std::string_view) { return std::nullopt; }

} // namespace wl
