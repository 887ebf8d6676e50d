#include "style/Widgets.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPaintEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QTextDocument>
#include <QWindow>

namespace wl {

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
        // Its height follows its width: without that, layouts give it the height of
        // its text laid out at its preferred width, and longer texts lose lines.
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
        policy.setHeightForWidth(true);
        label->setSizePolicy(policy);
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

void setMenuItemText(QMenu& menu, QAction& item, const QString& text, const QString& tail)
{
    const QFontMetrics metrics(menu.font());
    const QString whole = text + tail;
    QString shown = whole;
    if (metrics.horizontalAdvance(whole) > kMenuTextWidth)
        shown =
            metrics.elidedText(text, Qt::ElideRight, std::max(0, kMenuTextWidth - metrics.horizontalAdvance(tail))) +
            tail;
    item.setText(QString(shown).replace(QLatin1Char('&'), QStringLiteral("&&")));
    // As rich text that quotes the text as it is: a tool tip would read markup in plain
    // text as its own, and it wraps a long text only when it is rich text.
    item.setToolTip(shown == whole ? QString() : Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal));
    menu.setToolTipsVisible(true);
}

ElidedLabel::ElidedLabel(const std::string& text, TextStyle style, const QColor& colour, QWidget* parent, int weight)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(textFont(style, weight));
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setTextColour(this, colour);
    fullText_ = QString::fromStdString(text);
    for (QChar& c : fullText_)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    setText(fullText_);
    setToolTip(fullText_);
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(fullText_) + margins.left() + margins.right() + 2 * margin(),
            QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")) + margins.left() + margins.right() + 2 * margin(),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(fullText_, Qt::ElideRight, contentsRect().width() - 2 * margin());
    if (shown != text())
        setText(shown);
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
    p.drawImage(QPointF(0, 0), symbolImage(symbol_, size_, colour_));
}

// ---- labels, panels, dividers ----

namespace {

void paintText(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

// Puts a widget's text colour back when its palette is replaced behind its back: the
// style-sheet style restores the palette a widget had when it was first polished whenever
// it polishes it again (a new parent, say), which would undo a later change of colour.
class TextColourKeeper final : public QObject {
public:
    using QObject::QObject;
    static constexpr const char* kProperty = "wlTextColour";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            if (auto* widget = qobject_cast<QWidget*>(watched)) {
                const QColor colour = widget->property(kProperty).value<QColor>();
                if (colour.isValid() && widget->palette().color(QPalette::WindowText) != colour)
                    paintText(*widget, colour);
            }
        return false;
    }
};

QObject* textColourKeeper()
{
    static QPointer<TextColourKeeper> keeper;
    if (!keeper)
        keeper = new TextColourKeeper(QCoreApplication::instance());
    return keeper;
}

} // namespace

void setTextColour(QWidget* widget, const QColor& colour)
{
    widget->setProperty(TextColourKeeper::kProperty, colour);
    widget->installEventFilter(textColourKeeper());
    paintText(*widget, colour);
}

QLabel* plainLabel(const std::string& text, TextStyle style, const QColor& colour, QWidget* parent, bool wraps,
                   int weight)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
    label->setFont(textFont(style, weight));
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
    setFont(textFont(TextStyle::callout, QFont::Bold));
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
        p.drawImage(QPointF(x, (height() - 14) / 2.0), symbolImage(symbol_, 14, textColour_));
        x += 14 + 6;
    }
    p.setPen(textColour_);
    p.setFont(font());
    p.drawText(QRect(x, 0, width() - x - 14, height()), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
}

void styleNoteField(QWidget& field)
{
    field.setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border: 1px solid %2; "
                                       "border-radius: 6px; padding: 3px; }")
                            .arg(fieldFill().name(), controlFill().name()));
}

void styleFormField(QWidget& field)
{
    field.setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: 1px solid %2; "
                                       "border-radius: 6px; padding: 4px 6px; }"
                                       "QLineEdit:focus { border-color: %3; }")
                            .arg(fieldFill().name(), controlFill().name(), accent().name()));
}

void styleSegment(QPushButton& segment, int index, int count)
{
    const char* corners = index == 0 ? "border-top-left-radius: 6px; border-bottom-left-radius: 6px;"
        : index == count - 1         ? "border-top-right-radius: 6px; border-bottom-right-radius: 6px;"
                                     : "";
    segment.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid "
                                         "%3; padding: 4px 0; %4 }"
                                         "QPushButton:checked { background: %5; color: white; }")
                              .arg(segmentFill().name(), primaryText().name(), controlFill().name(),
                                   QLatin1String(corners), segmentCheckedFill().name()));
}

void stylePlainButton(QPushButton& button, const QColor& textColour)
{
    button.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; "
                                        "border-radius: 6px; padding: 5px 14px; }"
                                        "QPushButton:pressed { background: %3; }")
                             .arg(controlFill().name(), textColour.name(), controlPressedFill().name()));
}

void styleFrameless(QPushButton& button)
{
    button.setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
}

void styleSmallFilledButton(QPushButton& button, const QColor& fill, const QColor& textColour)
{
    button.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 5px; "
                                        "padding: 4px 12px; font-weight: 600; }")
                             .arg(fill.name(), textColour.name()));
}

void setTextColourSheet(QWidget& widget, const QColor& colour)
{
    widget.setStyleSheet(colour.isValid() ? QStringLiteral("color: %1;").arg(colour.name()) : QString());
}

void setFloatingTextSheet(QWidget& widget)
{
    widget.setStyleSheet(QStringLiteral("color: white; background: transparent;"));
}

QRegion roundedRegion(const QRect& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(rect), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

FloatingPanel::FloatingPanel(const QColor& fill, double radius, QWidget* parent)
    : QWidget(parent), fill_(fill), radius_(radius)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

double FloatingPanel::cornerRadius() const
{
    return radius_ == kCapsule ? height() / 2.0 : radius_;
}

void FloatingPanel::setShapedToOutline(bool shaped)
{
    shaped_ = shaped;
    applyShape();
}

void FloatingPanel::setLetsClicksThrough(bool through)
{
    clicksThrough_ = through;
    applyInputRegion();
}

void FloatingPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyShape();
    // A hidden window gets its new size only as it shows.
    if (isVisible())
        applyInputRegion();
}

void FloatingPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window takes its size on the screen only after this event.
    QMetaObject::invokeMethod(
        this, [this] { applyInputRegion(); }, Qt::QueuedConnection);
}

void FloatingPanel::applyInputRegion()
{
    // On the platform window alone, so the panel is not made again.
    QWindow* window = windowHandle();
    if (!window)
        return;
    if (clicksThrough_) {
        window->setFlag(Qt::WindowTransparentForInput, true);
        return;
    }
    // Qt on X11 gives a window that stops letting clicks through an input region of the
    // size it has at that moment, and leaves it as it is when the window grows: a click on
    // the new part would go through to the window beneath. The region is given again at
    // each new size.
    if (window->flags() & Qt::WindowTransparentForInput) {
        window->setFlag(Qt::WindowTransparentForInput, false);
        inputRegionSize_ = size();
    } else if (inputRegionSize_.isValid() && inputRegionSize_ != size()) {
        window->setFlag(Qt::WindowTransparentForInput, true);
        window->setFlag(Qt::WindowTransparentForInput, false);
        inputRegionSize_ = size();
    }
}

void FloatingPanel::applyShape()
{
    if (shaped_)
        setMask(roundedRegion(rect(), cornerRadius()));
    else
        clearMask();
}

void FloatingPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    const double radius = cornerRadius();
    painter.drawRoundedRect(QRectF(rect()), radius, radius);
}

} // namespace wl
