#include "host/GuideOverlayView.h"

#include "host/GuideOverlayController.h"
#include "platform/ShownText.h"
#include "style/Palette.h"
#include "style/TextStyle.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPathStroker>

#include <cmath>
#include <numbers>
#include <utility>

namespace wl {

QPainterPath arrowPath(const QRectF& rect)
{
    static const QPointF grid[] = {{0, 0}, {0, 17}, {4.5, 12.8}, {7.5, 19.4}, {10.5, 18}, {7.5, 11.6}, {13.7, 11.6}};
    const double sx = rect.width() / 14, sy = rect.height() / 20;
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : grid) {
        const QPointF mapped(rect.left() + p.x() * sx, rect.top() + p.y() * sy);
        if (first)
            path.moveTo(mapped);
        else
            path.lineTo(mapped);
        first = false;
    }
    path.closeSubpath();
    return path;
}

GuideOverlayView::GuideOverlayView(GuideModel model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    pulseTimer_.setInterval(33);
    connect(&pulseTimer_, &QTimer::timeout, this, [this] { update(ringBounds().toAlignedRect()); });
}

QPointF GuideOverlayView::at(double x, double y) const
{
    return QPointF(x * width(), y * height());
}

std::pair<double, double> GuideOverlayView::pulseAt(qint64 elapsedMs)
{
    // Ease in and out over each 0.8 s, forth and back.
    const double phase = double(elapsedMs % (2 * kPulseMs)) / kPulseMs;
    const double t = phase <= 1 ? phase : 2 - phase;
    const double eased = (1 - std::cos(std::numbers::pi * t)) / 2;
    return {0.85 + (1.2 - 0.85) * eased, 1.0 - 0.45 * eased};
}

QRectF GuideOverlayView::ringBounds() const
{
    QRectF bounds;
    const double reach = kRingDiameter * 1.2 / 2 + 4;
    for (const auto& suggestion : model_.suggestions) {
        const QPointF centre = at(suggestion.point.x, suggestion.point.y);
        bounds |= QRectF(centre.x() - reach, centre.y() - reach, 2 * reach, 2 * reach);
    }
    return bounds;
}

void GuideOverlayView::present()
{
    presented_ = true;
    redraw();
}

void GuideOverlayView::refresh(GuideModel model)
{
    model_ = std::move(model);
    redraw();
}

void GuideOverlayView::redraw()
{
    if (shaped_) {
        const QRegion region = drawingsRegion();
        if (presented_ && !region.isEmpty()) {
            setMask(region);
            if (!isVisible())
                show();
        } else if (isVisible()) {
            hide();
        }
    } else if (presented_ && !isVisible()) {
        show();
    }
    if (model_.suggestions.empty() || shaped_ || !isVisible()) {
        pulseTimer_.stop();
    } else if (!pulseTimer_.isActive()) {
        pulseClock_.start();
        pulseTimer_.start();
    }
    update();
}

void GuideOverlayView::hideEvent(QHideEvent* event)
{
    pulseTimer_.stop();
    QWidget::hideEvent(event);
}

QRegion GuideOverlayView::drawingsRegion() const
{
    QRegion region;
    for (const auto& suggestion : model_.suggestions) {
        const QPoint centre = at(suggestion.point.x, suggestion.point.y).toPoint();
        const int outer = int(std::ceil(kRingDiameter / 2 + 3)), inner = int(std::floor(kRingDiameter / 2 - 3));
        region += QRegion(QRect(centre - QPoint(outer, outer), QSize(2 * outer, 2 * outer)), QRegion::Ellipse)
                      .subtracted(
                          QRegion(QRect(centre - QPoint(inner, inner), QSize(2 * inner, 2 * inner)), QRegion::Ellipse));
    }
    if (model_.pointer) {
        const QPointF tip = at(model_.pointer->x, model_.pointer->y);
        QPainterPathStroker edge;
        edge.setWidth(2);
        QPainterPath arrow = arrowPath(QRectF(tip, kArrowSize));
        arrow = arrow.united(edge.createStroke(arrow));
        region += QRegion(arrow.toFillPolygon().toPolygon());
        QPainterPath tag;
        const QRectF rect = tagRect(tip);
        tag.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
        region += QRegion(tag.toFillPolygon().toPolygon());
    }
    return region.intersected(rect());
}

QRectF GuideOverlayView::tagRect(QPointF tip) const
{
    const QFontMetricsF metrics(floatingFont(13, QFont::DemiBold));
    const QString name = QString::fromStdString(shownName(model_.helperName));
    const double w = metrics.horizontalAdvance(name) + 16, h = metrics.height() + 6;
    // Beside the arrow (2 apart), hanging 20 below the tip.
    return QRectF(tip.x() + kArrowSize.width() + 2, tip.y() + 20, w, h);
}

void GuideOverlayView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    for (const auto& suggestion : model_.suggestions) {
        // Shaped to its drawings, the ring stays still at its middle size.
        const auto [scale, opacity] =
            shaped_ ? std::pair{1.0, 1.0} : pulseAt(pulseClock_.isValid() ? pulseClock_.elapsed() : 0);
        const QPointF centre = at(suggestion.point.x, suggestion.point.y);
        const double radius = kRingDiameter / 2 * scale;
        painter.setOpacity(opacity);
        painter.setPen(QPen(guideAccent(), 4 * scale));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, radius, radius);
        painter.setOpacity(1);
    }

    if (model_.pointer) {
        const QPointF tip = at(model_.pointer->x, model_.pointer->y);
        const QPainterPath arrow = arrowPath(QRectF(tip, kArrowSize));
        painter.fillPath(arrow, guideAccent());
        QPen outline(floatingText(), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        outline.setMiterLimit(10);
        painter.strokePath(arrow, outline);

        const QRectF tag = tagRect(tip);
        painter.setPen(Qt::NoPen);
        painter.setBrush(guideAccent());
        painter.drawRoundedRect(tag, tag.height() / 2, tag.height() / 2);
        painter.setPen(floatingText());
        painter.setFont(floatingFont(13, QFont::DemiBold));
        painter.drawText(tag, Qt::AlignCenter, QString::fromStdString(shownName(model_.helperName)));
    }
}

} // namespace wl
