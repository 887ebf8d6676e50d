#include "protocol/MailEnvelope.h"

namespace wl {

nlohmann::json MailEnvelope::toJson() const { return nlohmann::json::object(); }
std::optional<MailEnvelope> MailEnvelope::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string MailEnvelope::encode() const { return "{}"; }
std::optional<MailEnvelope> MailEnvelope::decode(std::string_view, std::string*) { return std::nullopt; }
MailEnvelope MailEnvelope::seal(const MailContent&, const SigningKey&, const std::string&, const std::string&) { return {}; }
std::optional<MailEnvelope> MailEnvelope::trySeal(const MailContent&, const SigningKey&, const std::string&, const std::string&) { return std::nullopt; }
std::string MailEnvelope::signedText() const { return {}; }
bool MailEnvelope::signatureHolds(const std::string&) const { return false; }
std::optional<MailContent> MailEnvelope::open(const AgreementKey&, const std::string&, const std::string&) const { return std::nullopt; }

} // namespace wl
