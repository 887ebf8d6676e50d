#pragma once
// The tray icon, drawn in code: an arch with a pointer standing in it, and a mark for
// the state. The icon is 22 x 18 points; a tray icon is not tinted on Linux, so it is
// drawn in one colour that fits the panel (the style kit's text colour, light on the
// dark panels most desktops have).

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSizeF>

#include <string>

class QPainter;

namespace wl {

class MenuBarIcon {
public:
    enum class State { ready, helpRequested, inSession, attention, off };

    static constexpr QSizeF kSize{22, 18};

    // The state's description: the tray's tool tip and the icon's accessible name.
    static std::string description(State state);
    // The icon for the state, in the panel colour at 1x and 2x; the same icon (same
    // cache key) on every call after the first.
    static QIcon image(State state);
    // The icon's picture at a scale (2 for a 44 x 36 image), transparent around it.
    static QImage render(State state, qreal scale, const QColor& colour);
    // Draws the icon in points, the origin at the top left, y growing downwards.
    static void draw(QPainter& painter, State state, const QColor& colour);
    // The colour the tray icon is drawn in.
    static QColor panelColour();
};

} // namespace wl
