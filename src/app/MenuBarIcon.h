#pragma once
// The tray icon, drawn in code: an arch with a pointer standing in it, and a mark for
// the state. The icon is 22 x 18 points; a tray icon is not tinted on Linux, so it is
// drawn in one colour that fits the panel: light on dark panels, dark on light ones
// (the tray looks at the panel around the icon; light until it knows).

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
    // The icon for the state in a colour, at 1x and 2x; the same icon (same cache key)
    // on every call after the first.
    static QIcon image(State state, const QColor& colour = panelColour());
    // The icon's picture at a scale (2 for a 44 x 36 image), transparent around it.
    static QImage render(State state, qreal scale, const QColor& colour);
    // Draws the icon in points, the origin at the top left, y growing downwards.
    static void draw(QPainter& painter, State state, const QColor& colour);
    // The colours the tray icon is drawn in: for dark panels (the default) and light ones.
    static QColor panelColour();
    static QColor lightPanelColour();
    // The colour that stands out on a panel of this colour.
    static QColor colourFor(const QColor& panel);
};

} // namespace wl
