#pragma once
// Events on the "guide" data channel, JSON text.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

enum class HelpMode { guide, control };
std::string toString(HelpMode mode);
std::optional<HelpMode> helpModeFromString(std::string_view text);

struct DisplayInfo {
    std::uint32_t id = 0;
    std::string name;
    double width = 0;
    double height = 0;

    bool operator==(const DisplayInfo&) const = default;

    nlohmann::json toJson() const;
    static std::optional<DisplayInfo> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<DisplayInfo> decode(std::string_view text, std::string* error = nullptr);
};

struct CursorShape {
    std::string png; // base64 PNG
    double width = 0;
    double height = 0;
    double hotSpotX = 0;
    double hotSpotY = 0;
    double screenWidth = 0;

    bool operator==(const CursorShape&) const = default;

    nlohmann::json toJson() const;
    static std::optional<CursorShape> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<CursorShape> decode(std::string_view text, std::string* error = nullptr);
};

struct SessionEvent {
    enum class Kind {
        pointer,
        suggest,
        hide,
        mouseMove,
        mouseDown,
        mouseUp,
        scroll,
        key,
        requestControl,
        releaseControl,
        mode,
        localActivity,
        notice,
        cursor,
        displays,
        microphone,
        end,
        selectDisplay,
        keyFrame
    };

    Kind kind = Kind::pointer;
    double x = 0;
    double y = 0;
    std::optional<int> button;
    std::optional<int> clickCount;
    std::optional<double> dx;
    std::optional<double> dy;
    std::optional<int> keyCode;
    std::optional<bool> down;
    std::optional<std::uint64_t> flags;
    std::optional<HelpMode> mode;
    std::optional<bool> active;
    std::optional<std::string> text;
    std::optional<CursorShape> cursorShape;
    std::optional<std::vector<DisplayInfo>> displays;
    std::optional<std::uint32_t> displayID;

    static SessionEvent make(Kind kind, double x = 0, double y = 0);

    bool operator==(const SessionEvent&) const = default;

    nlohmann::json toJson() const;
    // Needs kind, x and y.
    static std::optional<SessionEvent> fromJson(const nlohmann::json& j, std::string* error = nullptr);
    std::string encode() const;
    static std::optional<SessionEvent> decode(std::string_view text, std::string* error = nullptr);
};

std::string toString(SessionEvent::Kind kind);
std::optional<SessionEvent::Kind> sessionEventKindFromString(std::string_view text);

} // namespace wl
