#include "host/SuggestionCard.h"

#include "platform/ShownText.h"
#include "style/Palette.h"
#include "style/TextStyle.h"
#include "style/Widgets.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>
#include <QVBoxLayout>

namespace wl {

namespace {

// A plain button that draws itself: a capsule filled or outlined, or the close cross.
class CardButton final : public QAbstractButton {
public:
    enum class Style { filled, outlined, cross };
    CardButton(Style style, const QString& text, QWidget* parent) : QAbstractButton(parent), style_(style)
    {
        setText(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFont(style == Style::filled ? floatingFont(14, QFont::Bold) : floatingFont(14, QFont::DemiBold));
    }
    QSize sizeHint() const override
    {
        if (style_ == Style::cross)
            return {24, 24};
        return {QFontMetrics(font()).horizontalAdvance(text()) + 24, 30};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect());
        const double pressed = isDown() ? 0.8 : 1.0;
        if (style_ == Style::cross) {
            const QColor white = withAlpha(floatingText(), int(255 * 0.85 * pressed));
            painter.setPen(QPen(white, 2.2, Qt::SolidLine, Qt::RoundCap));
            const QPointF c = r.center();
            const double d = 4.5;
            painter.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
            painter.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
            return;
        }
        const double radius = r.height() / 2;
        if (style_ == Style::filled) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(floatingText(), int(255 * pressed)));
            painter.drawRoundedRect(r, radius, radius);
            painter.setPen(guideAccent());
        } else {
            painter.setPen(QPen(withAlpha(floatingText(), int(255 * 0.8 * pressed)), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), radius, radius);
            painter.setPen(floatingText());
        }
        painter.setFont(font());
        painter.drawText(r, Qt::AlignCenter, text());
    }

private:
    Style style_;
};

} // namespace

SuggestionCard::SuggestionCard(const std::string& helperName, Actions actions, QWidget* parent)
    : FloatingPanel(guideAccent(), kRadius, parent), actions_(std::move(actions))
{
    const QString name = QString::fromStdString(shownName(helperName));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    column->setSizeConstraint(QLayout::SetFixedSize);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    title_ = new QLabel(this);
    title_->setTextFormat(Qt::PlainText);
    title_->setText(name + QStringLiteral(" suggests clicking here"));
    title_->setFont(floatingFont(15, QFont::DemiBold));
    setFloatingTextSheet(*title_);
    top->addWidget(title_);
    top->addSpacing(12);
    top->addStretch(1);
    close_ = new CardButton(CardButton::Style::cross, QString(), this);
    close_->setAccessibleName(QStringLiteral("Dismiss"));
    close_->setToolTip(QStringLiteral("Not now: you can click it yourself, or ignore it"));
    top->addWidget(close_);
    column->addLayout(top);

    auto* answers = new QHBoxLayout;
    answers->setSpacing(8);
    thisTime_ = new CardButton(CardButton::Style::filled,
                               QStringLiteral("Let ") + name + QStringLiteral(" do it this time"), this);
    thisTime_->setToolTip(QStringLiteral("Clicks there for you, once."));
    always_ = new CardButton(CardButton::Style::outlined,
                             QStringLiteral("Let ") + name + QStringLiteral(" do it always"), this);
    always_->setToolTip(Qt::convertFromPlainText(
        QStringLiteral("For the rest of this session, ") + name +
        QStringLiteral("'s suggested clicks happen right away. Turn it off any time with Ask each time.")));
    answers->addWidget(thisTime_);
    answers->addWidget(always_);
    answers->addStretch(1);
    column->addLayout(answers);

    connect(close_, &QAbstractButton::clicked, this, [this] {
        if (actions_.dismiss)
            actions_.dismiss();
    });
    connect(thisTime_, &QAbstractButton::clicked, this, [this] {
        if (actions_.doThisTime)
            actions_.doThisTime();
    });
    connect(always_, &QAbstractButton::clicked, this, [this] {
        if (actions_.doAlways)
            actions_.doAlways();
    });
}

} // namespace wl
