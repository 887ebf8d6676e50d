#include "protocol/SignalMessage.h"

namespace wl {

nlohmann::json SignalMessage::toJson() const { return nlohmann::json::object(); }
std::optional<SignalMessage> SignalMessage::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string SignalMessage::encode() const { return "{}"; }
std::optional<SignalMessage> SignalMessage::decode(std::string_view, std::string*) { return std::nullopt; }
SignalMessage SignalMessage::make(Kind kind) { SignalMessage m; m.kind = kind; return m; }
std::string toString(SignalMessage::Kind) { return {}; }
std::optional<SignalMessage::Kind> signalKindFromString(std::string_view) { return std::nullopt; }

} // namespace wl
