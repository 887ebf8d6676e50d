#include "app/MenuBarIcon.h"

#include "style/Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <map>

namespace wl {

std::string MenuBarIcon::description(State state)
{
    switch (state) {
    case State::ready: return "Wickerlane, ready";
    case State::helpRequested: return "Wickerlane, help requested";
    case State::inSession: return "Wickerlane, in a session";
    case State::attention: return "Wickerlane, needs attention";
    case State::off: return "Wickerlane, help requests off";
    }
    return "Wickerlane";
}

QColor MenuBarIcon::panelColour()
{
    return trayIconOnDarkPanel();
}

QColor MenuBarIcon::lightPanelColour()
{
    return trayIconOnLightPanel();
}

QColor MenuBarIcon::colourFor(const QColor& panel)
{
    const double luminance = 0.2126 * panel.redF() + 0.7152 * panel.greenF() + 0.0722 * panel.blueF();
    return luminance > 0.55 ? lightPanelColour() : panelColour();
}

void MenuBarIcon::draw(QPainter& painter, State state, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);

    // The arch, open at the bottom: up the left side, over the top (through (9, 2)) and
    // down the right side.
    QPainterPath arch;
    arch.moveTo(2, 17);
    arch.lineTo(2, 9);
    arch.arcTo(QRectF(2, 2, 14, 14), 180, -180);
    arch.lineTo(16, 17);

    // An arrow pointer pointing up and to the left, its tip at (7.4, 6.8).
    const QPointF tip = QPointF(9, 8) + QPointF(-1.6, -1.2);
    QPainterPath pointer;
    pointer.moveTo(tip);
    for (auto offset : {QPointF(0, 7.2), QPointF(1.6, 5.7), QPointF(2.8, 8.2), QPointF(3.9, 7.7), QPointF(2.7, 5.3),
                        QPointF(4.7, 5.3)})
        pointer.lineTo(tip + offset);
    pointer.closeSubpath();

    auto strokePen = [&](qreal width, Qt::PenCapStyle cap) {
        QPen pen(colour, width);
        pen.setCapStyle(cap);
        pen.setJoinStyle(Qt::MiterJoin);
        return pen;
    };

    if (state == State::inSession) {
        // A solid dome with a pointer-shaped hole.
        arch.closeSubpath();
        painter.fillPath(arch, colour);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(pointer, Qt::black);
        painter.restore();
        return;
    }

    painter.strokePath(arch, strokePen(1.6, Qt::FlatCap));
    painter.fillPath(pointer, colour);

    switch (state) {
    case State::helpRequested: painter.drawEllipse(QRectF(16, 0.5, 5.4, 5.4)); break;
    case State::attention:
        painter.setPen(strokePen(1.8, Qt::RoundCap));
        painter.drawLine(QPointF(20, 3), QPointF(20, 11));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(18.9, 13.9, 2.2, 2.2));
        break;
    case State::off: {
        // First a wider band is cleared around the slash, so that the slash stands free
        // of the arch and the pointer; then the slash itself.
        const QLineF slash(QPointF(0.5, 18), QPointF(18, 0.5));
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(strokePen(3.6, Qt::FlatCap));
        painter.drawLine(slash);
        painter.restore();
        painter.setPen(strokePen(1.6, Qt::RoundCap));
        painter.drawLine(slash);
        break;
    }
    case State::ready:
    case State::inSession: break;
    }
    painter.restore();
}

QImage MenuBarIcon::render(State state, qreal scale, const QColor& colour)
{
    QImage image(static_cast<int>(std::ceil(kSize.width() * scale)),
                 static_cast<int>(std::ceil(kSize.height() * scale)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    draw(painter, state, colour);
    painter.end();
    return image;
}

QIcon MenuBarIcon::image(State state, const QColor& colour)
{
    static std::map<std::pair<State, QRgb>, QIcon> cache;
    const auto key = std::make_pair(state, colour.rgba());
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    QIcon icon;
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pixmap = QPixmap::fromImage(render(state, scale, colour));
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    cache.emplace(key, icon);
    return icon;
}

} // namespace wl
