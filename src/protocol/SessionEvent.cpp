#include "protocol/SessionEvent.h"

namespace wl {

nlohmann::json DisplayInfo::toJson() const { return nlohmann::json::object(); }
std::optional<DisplayInfo> DisplayInfo::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string DisplayInfo::encode() const { return "{}"; }
std::optional<DisplayInfo> DisplayInfo::decode(std::string_view, std::string*) { return std::nullopt; }
nlohmann::json CursorShape::toJson() const { return nlohmann::json::object(); }
std::optional<CursorShape> CursorShape::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string CursorShape::encode() const { return "{}"; }
std::optional<CursorShape> CursorShape::decode(std::string_view, std::string*) { return std::nullopt; }
nlohmann::json SessionEvent::toJson() const { return nlohmann::json::object(); }
std::optional<SessionEvent> SessionEvent::fromJson(const nlohmann::json&, std::string*) { return std::nullopt; }
std::string SessionEvent::encode() const { return "{}"; }
std::optional<SessionEvent> SessionEvent::decode(std::string_view, std::string*) { return std::nullopt; }
std::string toString(HelpMode) { return {}; }
std::optional<HelpMode> helpModeFromString(std::string_view) { return std::nullopt; }
SessionEvent SessionEvent::make(Kind kind, double x, double y) { SessionEvent e; e.kind = kind; e.x = x; e.y = y; return e; }
std::string toString(SessionEvent::Kind) { return {}; }
std::optional<SessionEvent::Kind> sessionEventKindFromString(std::string_view) { return std::nullopt; }

} // namespace wl
