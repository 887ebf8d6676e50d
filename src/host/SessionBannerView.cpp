#include "host/SessionBannerView.h"

#include "host/SessionBannerController.h"
#include "platform/ShownText.h"
#include "style/Palette.h"
#include "style/TextStyle.h"
#include "style/Widgets.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>

#include <utility>

namespace wl {

namespace {

// The dot in the mode's colour.
class Dot final : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(10, 10); }
    QColor colour = accent();

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(rect()));
    }
};

// The helper's microphone: a small waveform in teal.
class Waveform final : public QWidget {
public:
    explicit Waveform(QWidget* parent) : QWidget(parent) { setFixedSize(18, 18); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(accent(), 2, Qt::SolidLine, Qt::RoundCap));
        const double heights[] = {4, 9, 14, 8, 12, 5};
        for (int i = 0; i < 6; ++i) {
            const double x = 2 + i * 2.8, h = heights[i];
            painter.drawLine(QPointF(x, 9 - h / 2), QPointF(x, 9 + h / 2));
        }
    }
};

// A plain button that draws itself.
class BannerButton final : public QAbstractButton {
public:
    enum class Style { outlined, stop, microphone };
    BannerButton(Style style, QWidget* parent) : QAbstractButton(parent), style_(style)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFont(style == Style::stop ? floatingFont(16, QFont::Bold) : floatingFont(15, QFont::DemiBold));
    }
    bool on = false; // the microphone's state

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        switch (style_) {
        case Style::microphone: return {40, 40};
        case Style::stop: return {metrics.horizontalAdvance(text()) + 16 + 6 + 36, 40};
        case Style::outlined: return {metrics.horizontalAdvance(text()) + 28, 40};
        }
        return {40, 40};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect());
        const int alpha = isDown() ? 200 : 255;
        switch (style_) {
        case Style::outlined: {
            painter.setPen(QPen(withAlpha(floatingText(), int(255 * 0.7)), 1.5));
            painter.drawRoundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), r.height() / 2, r.height() / 2);
            painter.setPen(withAlpha(floatingText(), alpha));
            painter.setFont(font());
            painter.drawText(r, Qt::AlignCenter, text());
            return;
        }
        case Style::stop: {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withAlpha(floatingText(), alpha));
            painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
            const QFontMetricsF metrics(font());
            const double textWidth = metrics.horizontalAdvance(text());
            const double left = (r.width() - (12 + 6 + textWidth)) / 2;
            painter.setBrush(sessionBannerFill());
            painter.drawRoundedRect(QRectF(left, r.center().y() - 6, 12, 12), 2, 2);
            painter.setPen(sessionBannerFill());
            painter.setFont(font());
            painter.drawText(QRectF(left + 18, 0, textWidth + 2, r.height()), Qt::AlignVCenter | Qt::AlignLeft, text());
            return;
        }
        case Style::microphone: {
            const QRectF circle = r.adjusted(0.75, 0.75, -0.75, -0.75);
            painter.setPen(on ? Qt::NoPen : QPen(withAlpha(floatingText(), int(255 * 0.7)), 1.5));
            painter.setBrush(on ? accent() : Qt::transparent);
            painter.drawEllipse(circle);
            const QColor glyph = on ? sessionBannerFill() : floatingText();
            const QPointF c = r.center();
            // The microphone: capsule, cradle and stand.
            painter.setPen(Qt::NoPen);
            painter.setBrush(glyph);
            painter.drawRoundedRect(QRectF(c.x() - 4, c.y() - 11, 8, 14), 4, 4);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(glyph, 2, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(QRectF(c.x() - 7, c.y() - 6, 14, 12), 200 * 16, 140 * 16);
            painter.drawLine(QPointF(c.x(), c.y() + 6), QPointF(c.x(), c.y() + 10));
            if (!on) {
                painter.setPen(QPen(sessionBannerFill(), 4.5, Qt::SolidLine, Qt::RoundCap));
                painter.drawLine(c + QPointF(-9, -10), c + QPointF(9, 10));
                painter.setPen(QPen(glyph, 2, Qt::SolidLine, Qt::RoundCap));
                painter.drawLine(c + QPointF(-9, -10), c + QPointF(9, 10));
            }
            return;
        }
        }
    }

private:
    Style style_;
};

} // namespace

SessionBannerView::SessionBannerView(SessionBannerModel model, Actions actions, QWidget* parent)
    : FloatingPanel(sessionBannerFill(), kCapsule, parent), model_(std::move(model)), actions_(std::move(actions))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 6, 6, 6);
    row->setSpacing(12);
    row->setSizeConstraint(QLayout::SetFixedSize);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(10);
    statusRow->setContentsMargins(0, 0, 4, 0);
    dot_ = new Dot(this);
    statusRow->addWidget(dot_);
    status_ = new QLabel(this);
    status_->setFont(floatingFont(16, QFont::DemiBold));
    setFloatingTextSheet(*status_);
    status_->setTextFormat(Qt::PlainText);
    statusRow->addWidget(status_);
    helperMicrophone_ = new Waveform(this);
    statusRow->addWidget(helperMicrophone_);
    row->addLayout(statusRow);

    askEachTime_ = new BannerButton(BannerButton::Style::outlined, this);
    askEachTime_->setText(QStringLiteral("Ask each time"));
    row->addWidget(askEachTime_);
    microphone_ = new BannerButton(BannerButton::Style::microphone, this);
    row->addWidget(microphone_);
    control_ = new BannerButton(BannerButton::Style::outlined, this);
    row->addWidget(control_);
    stop_ = new BannerButton(BannerButton::Style::stop, this);
    stop_->setText(QStringLiteral("Stop"));
    stop_->setAccessibleName(QStringLiteral("Stop"));
    row->addWidget(stop_);

    auto call = [this](std::function<void()> Actions::*action) {
        return [this, action] {
            // The action may end the session, and this view with it.
            auto run = actions_.*action;
            if (run)
                run();
        };
    };
    connect(askEachTime_, &QAbstractButton::clicked, this, call(&Actions::onAskEachTime));
    connect(microphone_, &QAbstractButton::clicked, this, call(&Actions::onToggleMicrophone));
    connect(control_, &QAbstractButton::clicked, this, call(&Actions::onToggleControl));
    connect(stop_, &QAbstractButton::clicked, this, call(&Actions::onStop));
    redraw();
}

QString SessionBannerView::statusLine(const SessionBannerModel& model)
{
    const QString name = QString::fromStdString(shownName(model.helperFirstName));
    if (model.mode == HelpMode::control)
        return model.localActive ? QStringLiteral("You have the mouse \u00b7 ") + name + QStringLiteral(" is paused")
                                 : name + QStringLiteral(" is controlling your Mac");
    return model.clicksGoThrough ? name + QStringLiteral(" is helping \u00b7 their clicks go through")
                                 : name + QStringLiteral(" is helping with your Mac");
}

void SessionBannerView::refresh(SessionBannerModel model)
{
    model_ = std::move(model);
    redraw();
}

void SessionBannerView::redraw()
{
    const QString name = QString::fromStdString(shownName(model_.helperFirstName));
    static_cast<Dot*>(dot_)->colour = model_.mode == HelpMode::control ? controlModeAccent() : accent();
    dot_->update();
    status_->setText(statusLine(model_));
    helperMicrophone_->setVisible(model_.helperMicrophoneOn);
    helperMicrophone_->setToolTip(
        Qt::convertFromPlainText(name + QStringLiteral("'s microphone is on: you can hear them")));
    helperMicrophone_->setAccessibleName(name + QStringLiteral("'s microphone is on"));
    askEachTime_->setVisible(model_.mode == HelpMode::guide && model_.clicksGoThrough);

    auto* microphone = static_cast<BannerButton*>(microphone_);
    microphone->on = model_.microphoneOn;
    if (model_.microphoneOn) {
        microphone_->setToolTip(
            Qt::convertFromPlainText(QStringLiteral("Your microphone is on. Click to turn it off.")));
        microphone_->setAccessibleName(QStringLiteral("Turn your microphone off"));
    } else if (model_.microphoneAway) {
        microphone_->setToolTip(Qt::convertFromPlainText(QStringLiteral(
            "Your microphone went away. It comes back on when you connect one. Click to leave it off.")));
        microphone_->setAccessibleName(QStringLiteral("Leave your microphone off"));
    } else {
        microphone_->setToolTip(Qt::convertFromPlainText(QStringLiteral("Your microphone is off. Click to talk with ") +
                                                         name + QStringLiteral(".")));
        microphone_->setAccessibleName(QStringLiteral("Turn your microphone on"));
    }
    microphone_->update();

    control_->setText(model_.mode == HelpMode::control ? QStringLiteral("Take back control")
                                                       : QStringLiteral("Let ") + name + QStringLiteral(" take over"));
    control_->updateGeometry();
    layout()->activate();
    adjustSize();
}

} // namespace wl
