#include "style/ProgramStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>

namespace wl {

namespace {

// `from` moved towards `to` by `amount` (0…1).
QColor blend(const QColor& from, const QColor& to, double amount)
{
    const auto mix = [amount](float a, float b) { return a + (b - a) * static_cast<float>(amount); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()));
}

// How an indicator is drawn in the option's state.
struct IndicatorLook {
    QColor fill;
    QColor edge;
    QColor mark;
    bool marked = false; // checked (or partly, for a box)
    bool partial = false;
};

IndicatorLook indicatorLook(const QStyleOption& option)
{
    const QPalette& palette = option.palette;
    const bool enabled = option.state & QStyle::State_Enabled;
    const QColor ground = palette.color(QPalette::Window);
    const QColor text = palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    IndicatorLook look;
    look.marked = option.state & (QStyle::State_On | QStyle::State_NoChange);
    look.partial = option.state & QStyle::State_NoChange;
    // Halfway from the ground to the text: clear of the ground on a dark window and on a
    // light one, yet quieter than the label beside it.
    look.edge = blend(ground, text, enabled ? 0.55 : 0.3);
    look.fill = palette.color(QPalette::Base);
    if (option.state & QStyle::State_Sunken)
        look.fill = blend(look.fill, text, 0.2);
    if (look.marked) {
        look.fill = palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
        look.edge = look.fill;
        look.mark = palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::HighlightedText);
    }
    if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange))
        look.edge = palette.color(QPalette::Highlight);
    return look;
}

} // namespace

ProgramStyle::ProgramStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) { }

void ProgramStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                 const QWidget* widget) const
{
    if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const IndicatorLook look = indicatorLook(*option);
    // A square of the indicator's size, centred; the one-pixel edge lies on whole pixels.
    const int side = std::min(option->rect.width(), option->rect.height());
    QRectF box(0, 0, side - 1, side - 1);
    box.moveCenter(QRectF(option->rect).center());
    box.moveTopLeft(QPointF(std::floor(box.left()) + 0.5, std::floor(box.top()) + 0.5));

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(look.edge, 1));
    painter->setBrush(look.fill);
    if (element == PE_IndicatorRadioButton) {
        painter->drawEllipse(box);
        if (look.marked) {
            const double dot = side * 0.36;
            painter->setPen(Qt::NoPen);
            painter->setBrush(look.mark);
            painter->drawEllipse(box.center(), dot / 2, dot / 2);
        }
    } else {
        painter->drawRoundedRect(box, 3, 3);
        if (look.marked) {
            QPen markPen(look.mark, std::max(1.5, side / 8.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            painter->setPen(markPen);
            painter->setBrush(Qt::NoBrush);
            const QRectF in = box.adjusted(side * 0.22, side * 0.22, -side * 0.22, -side * 0.22);
            if (look.partial) {
                painter->drawLine(QPointF(in.left(), in.center().y()), QPointF(in.right(), in.center().y()));
            } else {
                QPainterPath tick;
                tick.moveTo(in.left(), in.top() + in.height() * 0.55);
                tick.lineTo(in.left() + in.width() * 0.38, in.bottom());
                tick.lineTo(in.right(), in.top());
                painter->drawPath(tick);
            }
        }
    }
    painter->restore();
}

} // namespace wl
