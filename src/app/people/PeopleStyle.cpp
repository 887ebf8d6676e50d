#include "app/people/PeopleStyle.h"

#include "app/StyleKit.h"

#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <QStyleOptionButton>

#include <cmath>

namespace wl {

QFont peopleFont(TextStyle style, int weight)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    int size = 13;
    int own = QFont::Normal;
    switch (style) {
    case TextStyle::body: size = 13; break;
    case TextStyle::caption: size = 11; break;
    case TextStyle::callout: size = 12; break;
    case TextStyle::headline:
        size = 13;
        own = QFont::DemiBold;
        break;
    case TextStyle::title3: size = 16; break;
    case TextStyle::title2: size = 19; break;
    }
    font.setPixelSize(size);
    font.setWeight(static_cast<QFont::Weight>(weight >= 0 ? weight : own));
    return font;
}

QColor primaryText()
{
    return darkPalette().color(QPalette::WindowText);
}

QColor pillText()
{
    return makeSRGBColor(20 / 255.0, 18 / 255.0, 10 / 255.0);
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
    return colour;
}

// ---- symbols ----

namespace {

void clearPath(QPainter& p, const QPainterPath& path)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(path, Qt::black);
    p.restore();
}

void drawSymbol(QPainter& p, Symbol symbol, const QColor& colour, double s)
{
    p.setRenderHint(QPainter::Antialiasing);
    const auto at = [s](double x, double y) { return QPointF(x * s, y * s); };
    const auto box = [s](double x, double y, double w, double h) { return QRectF(x * s, y * s, w * s, h * s); };
    QPen pen(colour, std::max(1.2, s * 0.1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (symbol) {
    case Symbol::chevronDown: {
        pen.setWidthF(std::max(1.5, s * 0.13));
        p.setPen(pen);
        QPainterPath path(at(0.2, 0.36));
        path.lineTo(at(0.5, 0.66));
        path.lineTo(at(0.8, 0.36));
        p.drawPath(path);
        break;
    }
    case Symbol::handRaised: {
        QPainterPath hand;
        hand.addRoundedRect(box(0.24, 0.42, 0.56, 0.52), 0.2 * s, 0.2 * s);
        const double tops[] = {0.16, 0.08, 0.1, 0.2};
        for (int i = 0; i < 4; ++i)
            hand.addRoundedRect(box(0.25 + i * 0.135, tops[i], 0.11, 0.5), 0.055 * s, 0.055 * s);
        QPainterPath thumb;
        thumb.addRoundedRect(box(-0.06, -0.3, 0.12, 0.42), 0.06 * s, 0.06 * s);
        QTransform turn;
        turn.translate(0.22 * s, 0.62 * s);
        turn.rotate(-40);
        hand.addPath(turn.map(thumb));
        p.fillPath(hand.simplified(), colour);
        break;
    }
    case Symbol::laptopAndPhone: {
        pen.setWidthF(std::max(1.2, s * 0.07));
        p.setPen(pen);
        p.drawRoundedRect(box(0.1, 0.22, 0.56, 0.42), 0.04 * s, 0.04 * s);
        p.drawLine(at(0.02, 0.74), at(0.74, 0.74));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box(0.72, 0.38, 0.22, 0.42), 0.05 * s, 0.05 * s);
        break;
    }
    case Symbol::photoOnRectangle: {
        pen.setWidthF(std::max(1.1, s * 0.07));
        p.setPen(pen);
        p.drawRoundedRect(box(0.22, 0.12, 0.7, 0.56), 0.06 * s, 0.06 * s);
        QPainterPath front;
        front.addRoundedRect(box(0.06, 0.3, 0.7, 0.56), 0.06 * s, 0.06 * s);
        clearPath(p, front);
        p.drawPath(front);
        QPainterPath mountain(at(0.12, 0.8));
        mountain.lineTo(at(0.32, 0.56));
        mountain.lineTo(at(0.46, 0.7));
        mountain.lineTo(at(0.56, 0.62));
        mountain.lineTo(at(0.7, 0.8));
        mountain.closeSubpath();
        p.fillPath(mountain, colour);
        p.setBrush(colour);
        p.drawEllipse(at(0.56, 0.44), 0.05 * s, 0.05 * s);
        break;
    }
    case Symbol::replyArrow: {
        QPainterPath head(at(0.06, 0.42));
        head.lineTo(at(0.44, 0.1));
        head.lineTo(at(0.44, 0.74));
        head.closeSubpath();
        p.fillPath(head, colour);
        pen.setWidthF(0.2 * s);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        QPainterPath tail(at(0.4, 0.42));
        tail.cubicTo(at(0.72, 0.42), at(0.86, 0.56), at(0.86, 0.9));
        p.drawPath(tail);
        break;
    }
    case Symbol::lockShield: {
        QPainterPath shield(at(0.5, 0.04));
        shield.lineTo(at(0.9, 0.18));
        shield.lineTo(at(0.9, 0.48));
        shield.quadTo(at(0.88, 0.84), at(0.5, 0.98));
        shield.quadTo(at(0.12, 0.84), at(0.1, 0.48));
        shield.lineTo(at(0.1, 0.18));
        shield.closeSubpath();
        p.fillPath(shield, colour);
        QPainterPath lock;
        lock.addRoundedRect(box(0.33, 0.46, 0.34, 0.26), 0.04 * s, 0.04 * s);
        clearPath(p, lock);
        QPen shackle(Qt::black, 0.07 * s);
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(shackle);
        p.setBrush(Qt::NoBrush);
        p.drawArc(box(0.38, 0.28, 0.24, 0.3), 0, 180 * 16);
        p.drawLine(at(0.38, 0.43), at(0.38, 0.48));
        p.drawLine(at(0.62, 0.43), at(0.62, 0.48));
        p.restore();
        break;
    }
    case Symbol::checkmarkSeal: {
        QPainterPath seal;
        const int points = 12;
        for (int i = 0; i < points * 2; ++i) {
            const double angle = M_PI * i / points - M_PI / 2;
            const double r = (i % 2 ? 0.4 : 0.48) * s;
            const QPointF point(0.5 * s + r * std::cos(angle), 0.5 * s + r * std::sin(angle));
            if (i == 0)
                seal.moveTo(point);
            else
                seal.lineTo(point);
        }
        seal.closeSubpath();
        p.fillPath(seal, colour);
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, 0.1 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath check(at(0.32, 0.52));
        check.lineTo(at(0.45, 0.65));
        check.lineTo(at(0.69, 0.38));
        p.drawPath(check);
        p.restore();
        break;
    }
    case Symbol::key: {
        QPainterPath key;
        key.addEllipse(box(0.06, 0.06, 0.42, 0.42));
        QTransform turn;
        turn.translate(0.27 * s, 0.27 * s);
        turn.rotate(45);
        QPainterPath shaft;
        shaft.addRect(QRectF(0.12 * s, -0.06 * s, 0.72 * s, 0.12 * s));
        shaft.addRect(QRectF(0.6 * s, 0.04 * s, 0.1 * s, 0.14 * s));
        shaft.addRect(QRectF(0.74 * s, 0.04 * s, 0.1 * s, 0.18 * s));
        key.addPath(turn.map(shaft));
        p.fillPath(key.simplified(), colour);
        QPainterPath hole;
        hole.addEllipse(at(0.22, 0.22), 0.07 * s, 0.07 * s);
        clearPath(p, hole);
        break;
    }
    case Symbol::lock: {
        pen.setWidthF(0.11 * s);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(box(0.27, 0.08, 0.46, 0.5), 0, 180 * 16);
        p.drawLine(at(0.27, 0.33), at(0.27, 0.46));
        p.drawLine(at(0.73, 0.33), at(0.73, 0.46));
        QPainterPath body;
        body.addRoundedRect(box(0.14, 0.44, 0.72, 0.5), 0.08 * s, 0.08 * s);
        p.fillPath(body, colour);
        break;
    }
    }
}

} // namespace

QImage renderSymbol(Symbol symbol, const QColor& colour, int size)
{
    // Drawn at twice the size and scaled down: smooth edges at small sizes.
    const int big = std::max(1, size) * 2;
    QImage image(big, big, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        drawSymbol(p, symbol, colour, big);
    }
    return image.scaled(std::max(1, size), std::max(1, size), Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon symbolIcon(Symbol symbol, const QColor& colour, int size)
{
    return QIcon(QPixmap::fromImage(renderSymbol(symbol, colour, size)));
}

SymbolView::SymbolView(Symbol symbol, const QColor& colour, int size, QWidget* parent)
    : QWidget(parent), symbol_(symbol), colour_(colour), size_(size)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setRotation(double degrees)
{
    rotation_ = degrees;
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(width() / 2.0, height() / 2.0);
    p.rotate(rotation_);
    p.translate(-size_ / 2.0, -size_ / 2.0);
    p.drawImage(QPointF(0, 0), renderSymbol(symbol_, colour_, size_));
}

// ---- labels, panels, dividers ----

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

QLabel* plainLabel(const std::string& text, TextStyle style, const QColor& colour, QWidget* parent, bool wraps,
                   int weight)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
    label->setFont(peopleFont(style, weight));
    label->setWordWrap(wraps);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    setTextColour(label, colour);
    return label;
}

RoundedPanel::RoundedPanel(const QColor& fill, double radius, QWidget* parent)
    : QWidget(parent), fill_(fill), radius_(radius)
{
}

void RoundedPanel::setOutline(const QColor& colour, double width)
{
    outline_ = colour;
    outlineWidth_ = width;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(area, radius_, radius_);
    p.fillPath(shape, fill_);
    if (outlineWidth_ > 0 && outline_.alpha() > 0) {
        // Drawn inside the edge.
        const double half = outlineWidth_ / 2;
        QPainterPath edge;
        edge.addRoundedRect(area.adjusted(half, half, -half, -half), radius_ - half, radius_ - half);
        p.setPen(QPen(outline_, outlineWidth_));
        p.setBrush(Qt::NoBrush);
        p.drawPath(edge);
    }
}

Divider::Divider(const QColor& colour, int inset, QWidget* parent) : QWidget(parent), colour_(colour), inset_(inset)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRect(inset_, 0, std::max(0, width() - 2 * inset_), 1), colour_);
}

// ---- buttons ----

QPushButton* plainButton(const QString& title, const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setFlat(true);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 0px; "
                                         "text-align: left; color: %1; }"
                                         "QPushButton:disabled { color: %2; }")
                              .arg(colour.name(QColor::HexArgb), withOpacity(colour, 0.55).name(QColor::HexArgb)));
    return button;
}

PillButton::PillButton(const QString& title, const QColor& fill, const QColor& textColour, QWidget* parent)
    : QPushButton(title, parent), fill_(fill), textColour_(textColour)
{
    setFont(peopleFont(TextStyle::callout, QFont::Bold));
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(32);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PillButton::setSymbol(Symbol symbol)
{
    hasSymbol_ = true;
    symbol_ = symbol;
    updateGeometry();
    update();
}

QSize PillButton::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    return {14 + (hasSymbol_ ? 14 + 6 : 0) + textWidth + 14, 32};
}

void PillButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = fill_;
    if (isDown())
        fill = fill.darker(115);
    else if (underMouse())
        fill = fill.lighter(108);
    if (!isEnabled())
        fill = withOpacity(fill, 0.5);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 9, 9);
    p.fillPath(shape, fill);
    if (hasFocus()) {
        p.setPen(QPen(withOpacity(Qt::white, 0.6), 1.5));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
    int x = 14;
    if (hasSymbol_) {
        p.drawImage(QPointF(x, (height() - 14) / 2.0), renderSymbol(symbol_, textColour_, 14));
        x += 14 + 6;
    }
    p.setPen(textColour_);
    p.setFont(font());
    p.drawText(QRect(x, 0, width() - x - 14, height()), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
}

} // namespace wl
