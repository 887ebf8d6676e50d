#include "app/ShellWidgets.h"

#include "app/StyleKit.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace wl {

QColor systemYellow()
{
    return QColor(255, 214, 10);
}

QColor systemGreen()
{
    return QColor(48, 209, 88);
}

QColor systemOrange()
{
    return QColor(255, 159, 10);
}

QColor systemRed()
{
    return QColor(255, 69, 58);
}

QFont textFont(TextStyle style, int weight)
{
    QFont font = QFont(QStringLiteral("DejaVu Sans"));
    int pixels = 13;
    int styleWeight = QFont::Normal;
    switch (style) {
    case TextStyle::title2:
        pixels = 18;
        styleWeight = QFont::Bold;
        break;
    case TextStyle::title3: pixels = 16; break;
    case TextStyle::headline:
        pixels = 13;
        styleWeight = QFont::DemiBold;
        break;
    case TextStyle::body: pixels = 13; break;
    case TextStyle::callout: pixels = 12; break;
    case TextStyle::caption: pixels = 11; break;
    }
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight >= 0 ? weight : styleWeight));
    return font;
}

QFont monospacedFont(TextStyle style)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(textFont(style).pixelSize());
    return font;
}

void setLabelColour(QLabel& label, const QColor& colour)
{
    QPalette palette = label.palette();
    const QColor text = colour.isValid() ? colour : darkPalette().color(QPalette::WindowText);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    label.setPalette(palette);
}

QLabel* makeLabel(const QString& text, TextStyle style, const QColor& colour, const char* objectName, bool wraps,
                  QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(textFont(style));
    label->setTextFormat(Qt::PlainText);
    if (colour.isValid())
        setLabelColour(*label, colour);
    if (objectName)
        label->setObjectName(QString::fromLatin1(objectName));
    if (wraps) {
        label->setWordWrap(true);
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    }
    return label;
}

QLabel* makeSymbolLabel(Symbol symbol, int size, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolPixmap(symbol, size, colour, label->devicePixelRatioF()));
    label->setFixedSize(size, size);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

RoundedBox::RoundedBox(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void RoundedBox::setFill(const QColor& fill)
{
    fill_ = fill;
    update();
}

void RoundedBox::setRadius(qreal radius)
{
    radius_ = radius;
    update();
}

void RoundedBox::setOutline(const QColor& colour, qreal width, bool dashed)
{
    outlineColour_ = colour;
    outlineWidth_ = width;
    dashed_ = dashed;
    update();
}

void RoundedBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    if (fill_.alpha() > 0) {
        QPainterPath path;
        path.addRoundedRect(box, radius_, radius_);
        painter.fillPath(path, fill_);
    }
    if (outlineWidth_ > 0 && outlineColour_.alpha() > 0) {
        // Inside the edge: the stroke's outer side lies on the box.
        const qreal inset = outlineWidth_ / 2;
        QPen pen(outlineColour_, outlineWidth_);
        if (dashed_)
            pen.setDashPattern({5 / outlineWidth_, 4 / outlineWidth_});
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), radius_ - inset, radius_ - inset);
    }
}

void makeProminent(QPushButton& button, const QColor& tint)
{
    const QColor text = tint.lightnessF() > 0.55 ? QColor(14, 26, 25) : QColor(Qt::white);
    button.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px; "
                                        "padding: 5px 14px; font-weight: 600; }"
                                        "QPushButton:hover { background: %3; }"
                                        "QPushButton:pressed { background: %4; }"
                                        "QPushButton:disabled { background: %5; color: %6; }")
                             .arg(tint.name(), text.name(), tint.lighter(110).name(), tint.darker(115).name(),
                                  QColor(64, 66, 72).name(), QColor(130, 133, 139).name()));
}

void makeBorderless(QPushButton& button)
{
    button.setFlat(true);
    button.setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 2px; }"
                                        "QPushButton:pressed { background: rgba(255,255,255,0.08); "
                                        "border-radius: 4px; }"));
}

void makeLarge(QPushButton& button)
{
    button.setMinimumHeight(30);
    QFont font = textFont(TextStyle::body);
    button.setFont(font);
}

void discardWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->setObjectName(QString());
    widget->setParent(nullptr);
    widget->deleteLater();
}

void setElidedText(QLabel& label, const QString& text, int width)
{
    label.setText(QFontMetrics(label.font()).elidedText(text, Qt::ElideRight, width));
    label.setToolTip(text);
}

} // namespace wl
