#include "protocol/SessionEvent.h"

#include "protocol/JsonFields.h"

#include <array>

namespace wl {

using jsonfields::put;

namespace {

constexpr std::array<const char*, 19> kKindWords = {
    "pointer",    "suggest",       "hide",          "mouseMove",      "mouseDown",
    "mouseUp",    "scroll",        "key",           "requestControl", "releaseControl",
    "mode",       "localActivity", "notice",        "cursor",         "displays",
    "microphone", "end",           "selectDisplay", "keyFrame"};

std::optional<DisplayInfo> readDisplayInfo(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "DisplayInfo");
    DisplayInfo d;
    r.integer("id", d.id);
    r.string("name", d.name);
    r.number("width", d.width);
    r.number("height", d.height);
    if (!r.ok())
        return std::nullopt;
    return d;
}

std::optional<CursorShape> readCursorShape(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "CursorShape");
    CursorShape c;
    r.string("png", c.png);
    r.number("width", c.width);
    r.number("height", c.height);
    r.number("hotSpotX", c.hotSpotX);
    r.number("hotSpotY", c.hotSpotY);
    r.number("screenWidth", c.screenWidth);
    if (!r.ok())
        return std::nullopt;
    return c;
}

std::optional<SessionEvent> readSessionEvent(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "SessionEvent");
    SessionEvent e;
    r.word("kind", e.kind, sessionEventKindFromString);
    r.number("x", e.x);
    r.number("y", e.y);
    r.integer("button", e.button);
    r.integer("clickCount", e.clickCount);
    r.number("dx", e.dx);
    r.number("dy", e.dy);
    r.integer("keyCode", e.keyCode);
    r.boolean("down", e.down);
    r.integer("flags", e.flags);
    r.word("mode", e.mode, helpModeFromString);
    r.boolean("active", e.active);
    r.string("text", e.text);
    r.record("cursorShape", e.cursorShape);
    r.records("displays", e.displays);
    r.integer("displayID", e.displayID);
    if (!r.ok())
        return std::nullopt;
    return e;
}

} // namespace

std::string toString(HelpMode mode)
{
    return mode == HelpMode::control ? "control" : "guide";
}

std::optional<HelpMode> helpModeFromString(std::string_view text)
{
    if (text == "guide")
        return HelpMode::guide;
    if (text == "control")
        return HelpMode::control;
    return std::nullopt;
}

std::string toString(SessionEvent::Kind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    return index < kKindWords.size() ? kKindWords[index] : "";
}

std::optional<SessionEvent::Kind> sessionEventKindFromString(std::string_view text)
{
    for (std::size_t i = 0; i < kKindWords.size(); ++i) {
        if (text == kKindWords[i])
            return static_cast<SessionEvent::Kind>(i);
    }
    return std::nullopt;
}

nlohmann::json DisplayInfo::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["name"] = name;
    j["width"] = width;
    j["height"] = height;
    return j;
}

WL_JSON_RECORD_CODING(DisplayInfo, readDisplayInfo)

nlohmann::json CursorShape::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["png"] = png;
    j["width"] = width;
    j["height"] = height;
    j["hotSpotX"] = hotSpotX;
    j["hotSpotY"] = hotSpotY;
    j["screenWidth"] = screenWidth;
    return j;
}

WL_JSON_RECORD_CODING(CursorShape, readCursorShape)

SessionEvent SessionEvent::make(Kind kind, double x, double y)
{
    SessionEvent e;
    e.kind = kind;
    e.x = x;
    e.y = y;
    return e;
}

nlohmann::json SessionEvent::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["kind"] = toString(kind);
    j["x"] = x;
    j["y"] = y;
    put(j, "button", button);
    put(j, "clickCount", clickCount);
    put(j, "dx", dx);
    put(j, "dy", dy);
    put(j, "keyCode", keyCode);
    put(j, "down", down);
    put(j, "flags", flags);
    if (mode)
        j["mode"] = toString(*mode);
    put(j, "active", active);
    put(j, "text", text);
    jsonfields::putRecord(j, "cursorShape", cursorShape);
    if (displays)
        j["displays"] = jsonfields::recordList(*displays);
    put(j, "displayID", displayID);
    return j;
}

WL_JSON_RECORD_CODING(SessionEvent, readSessionEvent)

} // namespace wl
