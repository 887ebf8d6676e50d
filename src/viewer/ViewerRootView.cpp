#include "viewer/ViewerRootView.h"

#include "mail/AppServices.h"
#include "mail/PasswordCenter.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/ShownText.h"
#include "viewer/RemoteScreenView.h"
#include "viewer/ViewerController.h"
#include "viewer/ViewerPeer.h"
#include "style/Palette.h"
#include "style/TextStyle.h"
#include "style/Widgets.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

namespace {

constexpr const char* kDot = " \u00b7 ";

QLabel* titleLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(scaledFont(label->font(), 1.3));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

ViewerRootView::ViewerRootView(ViewerController& controller, QWidget* browsing, QWidget* parent)
    : QWidget(parent), controller_(&controller)
{
    screens_ = new QStackedLayout(this);
    browsing_ = browsing;
    browsing_->setParent(this);
    screens_->addWidget(browsing_);
    screens_->addWidget(makeWaiting());
    screens_->addWidget(makeSession());
    screens_->addWidget(makeMessage());
    // A change reaches what shows it: the session's changes the screens and the bar, its
    // status line's ticks the status label alone.
    connect(&controller.session(), &ViewerSession::changed, this, &ViewerRootView::refresh);
    connect(&controller.session(), &ViewerSession::statusChanged, this, &ViewerRootView::refreshStatus);
    refresh();
}

ViewerRootView::~ViewerRootView() = default;

QWidget* ViewerRootView::makeWaiting()
{
    auto* widget = new QWidget(this);
    auto* layout = new QVBoxLayout(widget);
    layout->setSpacing(16);
    layout->addStretch(1);
    auto* spinner = new QProgressBar(widget);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(120, 12);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    waitingLabel_ = titleLabel(widget);
    layout->addWidget(waitingLabel_);
    auto* cancel = new QPushButton(QStringLiteral("Cancel request"), widget);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->session().end();
    });
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return widget;
}

QWidget* ViewerRootView::makeMessage()
{
    auto* widget = new QWidget(this);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(32, 16, 32, 16);
    layout->setSpacing(16);
    layout->addStretch(1);
    messageLabel_ = titleLabel(widget);
    layout->addWidget(messageLabel_);
    auto* back = new QPushButton(QStringLiteral("Back to devices"), widget);
    connect(back, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->backToDevices();
    });
    layout->addWidget(back, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return widget;
}

QWidget* ViewerRootView::makeSession()
{
    session_ = new QWidget(this);
    sessionLayout_ = new QVBoxLayout(session_);
    sessionLayout_->setContentsMargins(0, 0, 0, 0);
    sessionLayout_->setSpacing(0);

    auto* bar = new QWidget(session_);
    sessionBar_ = bar;
    // The host's name and the controls on the first line; the status and the mode below
    // them, the status with the rest of the window's width, wrapping where even that is
    // too narrow. So the bar fits the main window at its default size.
    auto* lines = new QVBoxLayout(bar);
    lines->setContentsMargins(10, 10, 10, 10);
    lines->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    lines->addLayout(row);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    hostName_ = new QLabel(bar);
    hostName_->setTextFormat(Qt::PlainText);
    hostName_->setFont(scaledFont(hostName_->font(), 1.0, QFont::Bold));
    row->addWidget(hostName_);
    status_ = new QLabel(bar);
    QFont digits = scaledFont(status_->font(), 0.92);
    digits.setStyleHint(QFont::Monospace);
    status_->setFont(digits);
    setTextColourSheet(*status_, quietText());
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    row->addStretch(1);
    statusRow->addWidget(status_, 1);
    modeLabel_ = new QLabel(bar);
    statusRow->addWidget(modeLabel_, 0, Qt::AlignRight | Qt::AlignTop);
    displayChooser_ = new QToolButton(bar);
    displayChooser_->setObjectName(QStringLiteral("displayChooser"));
    displayChooser_->setPopupMode(QToolButton::InstantPopup);
    displayChooser_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    displayChooser_->setToolTip(QStringLiteral("Choose which of their screens to see"));
    displayChooser_->setMenu(new QMenu(displayChooser_));
    row->addWidget(displayChooser_);
    releaseButton_ = new QPushButton(QStringLiteral("Release Control"), bar);
    connect(releaseButton_, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->session().releaseControl();
    });
    row->addWidget(releaseButton_);
    takeOverButton_ = new QPushButton(QStringLiteral("Ask to Take Over"), bar);
    connect(takeOverButton_, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->session().requestControl();
    });
    row->addWidget(takeOverButton_);
    soundButton_ = new QPushButton(bar);
    connect(soundButton_, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->session().setSoundOn();
    });
    row->addWidget(soundButton_);
    theirMic_ = new QLabel(bar);
    theirMic_->setFont(scaledFont(theirMic_->font(), 0.92));
    row->addWidget(theirMic_);
    micButton_ = new QPushButton(bar);
    connect(micButton_, &QPushButton::clicked, this, &ViewerRootView::microphoneButton);
    row->addWidget(micButton_);
    passwordButton_ = new QPushButton(QStringLiteral("Password\u2026"), bar);
    passwordButton_->setToolTip(QStringLiteral("Send them a password, locked so only their Mac can open it"));
    passwordButton_->setAccessibleName(QStringLiteral("Send a password"));
    connect(passwordButton_, &QPushButton::clicked, this, &ViewerRootView::sendPasswordButton);
    row->addWidget(passwordButton_);
    auto* endButton = new QPushButton(QStringLiteral("End"), bar);
    connect(endButton, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->session().end();
    });
    row->addWidget(endButton);
    lines->addLayout(statusRow);
    sessionLayout_->addWidget(bar);

    notice_ = new QLabel(session_);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setWordWrap(true);
    notice_->setFont(scaledFont(notice_->font(), 0.92));
    notice_->setContentsMargins(10, 0, 10, 8);
    sessionLayout_->addWidget(notice_);
    return session_;
}

void ViewerRootView::selectDisplay(const DisplayInfo& display)
{
    if (controller_)
        controller_->session().selectDisplay(display);
}

void ViewerRootView::microphoneButton()
{
    if (controller_)
        controller_->session().microphoneButton();
}

void ViewerRootView::sendPasswordButton()
{
    if (!controller_ || !controller_->session().handshake())
        return;
    controller_->passwords().composer().show(controller_->session().handshake()->device);
}

void ViewerRootView::refresh()
{
    if (!controller_)
        return;
    ViewerController& c = *controller_;
    using Kind = ViewerController::Phase::Kind;
    const auto& phase = c.session().phase();
    switch (phase.kind) {
    case Kind::browsing: screens_->setCurrentWidget(browsing_); break;
    case Kind::waiting:
        waitingLabel_->setText(
            QStringLiteral("Waiting for %1 to allow access").arg(QString::fromStdString(shownName(phase.text))));
        screens_->setCurrentIndex(1);
        break;
    case Kind::message:
        messageLabel_->setText(QString::fromStdString(phase.text));
        screens_->setCurrentIndex(3);
        break;
    case Kind::connected: screens_->setCurrentIndex(2); break;
    }
    if (phase.kind != Kind::connected) {
        fitWindowToSession(false);
        if (remoteScreen_) {
            remoteScreen_->deleteLater();
            remoteScreen_ = nullptr;
            shownPeer_ = nullptr;
        }
        return;
    }

    hostName_->setText(QString::fromStdString(shownName(phase.text)));
    status_->setText(QString::fromStdString(c.session().connectionInfo()));

    // The mode label.
    QString modeText;
    QColor modeColour;
    if (c.session().mode() == HelpMode::control) {
        modeText = c.session().theyHaveTheMouse()
            ? QStringLiteral("They have the mouse") + kDot + QStringLiteral("paused")
            : QStringLiteral("In control");
        modeColour = c.session().theyHaveTheMouse() ? takenOverText() : QColor{};
        modeLabel_->setToolTip({});
    } else if (c.session().clicksGoThrough()) {
        modeText = QStringLiteral("Guide") + kDot + QStringLiteral("your clicks go through");
        modeColour = takenOverText();
        modeLabel_->setToolTip(QStringLiteral("They chose to let your suggested clicks happen for this session"));
    } else {
        modeText = QStringLiteral("Guide") + kDot + QStringLiteral("click to suggest");
        modeColour = quietText();
        modeLabel_->setToolTip({});
    }
    modeLabel_->setText(modeText);
    setTextColourSheet(*modeLabel_, modeColour);

    // The display chooser, with two or more displays: its menu is made again only when
    // the displays change, so that an open menu stays as it is.
    const auto& displays = c.session().displays();
    displayChooser_->setVisible(displays.size() >= 2);
    if (displays.size() >= 2) {
        QMenu* menu = displayChooser_->menu();
        if (displays != shownDisplays_) {
            menu->clear();
            for (const auto& display : displays) {
                QAction* action = menu->addAction(QString());
                setMenuItemText(*menu, *action, QString::fromStdString(shownName(display.name)));
                action->setCheckable(true);
                connect(action, &QAction::triggered, this, [this, display] { selectDisplay(display); });
            }
            shownDisplays_ = displays;
        }
        QString shown = QStringLiteral("Screen");
        const QList<QAction*> actions = menu->actions();
        for (qsizetype i = 0; i < actions.size() && i < static_cast<qsizetype>(displays.size()); ++i) {
            const auto& display = displays[static_cast<std::size_t>(i)];
            const bool isShared = c.session().sharedDisplayID() && *c.session().sharedDisplayID() == display.id;
            if (isShared)
                shown = QString::fromStdString(shownName(display.name));
            actions[i]->setChecked(isShared);
        }
        displayChooser_->setText(QStringLiteral("\u25a3 ") + shown);
    }

    releaseButton_->setVisible(c.session().mode() == HelpMode::control);
    takeOverButton_->setVisible(c.session().mode() == HelpMode::guide);
    takeOverButton_->setText(c.session().controlRequested() ? QStringLiteral("Asking\u2026")
                                                            : QStringLiteral("Ask to Take Over"));
    takeOverButton_->setEnabled(!c.session().controlRequested());

    soundButton_->setText(c.session().soundOn() ? QStringLiteral("Sound on") : QStringLiteral("Sound off"));
    soundButton_->setToolTip(c.session().soundOn() ? QStringLiteral("Mute their Mac's sound")
                                                   : QStringLiteral("Play their Mac's sound"));
    soundButton_->setAccessibleName(c.session().soundOn() ? QStringLiteral("Mute sound")
                                                          : QStringLiteral("Unmute sound"));

    theirMic_->setText(c.session().theirMicrophoneOn() ? QStringLiteral("Their mic on")
                                                       : QStringLiteral("Their mic off"));
    theirMic_->setToolTip(c.session().theirMicrophoneOn()
                              ? QStringLiteral("You can hear them")
                              : QStringLiteral("Their microphone is off. Only they can turn it on."));
    setTextColourSheet(*theirMic_, c.session().theirMicrophoneOn() ? QColor{} : quietText());

    // A microphone left on whose input device went away records nothing: it says so, and
    // a click leaves it off instead of waiting for the next input device.
    if (c.session().microphoneOn()) {
        micButton_->setText(QStringLiteral("Mic on"));
        micButton_->setToolTip(QStringLiteral("Your microphone is on. Click to turn it off."));
        micButton_->setAccessibleName(QStringLiteral("Turn your microphone off"));
    } else if (c.session().microphoneAway()) {
        micButton_->setText(QStringLiteral("No mic"));
        micButton_->setToolTip(
            QStringLiteral("Your microphone went away. It comes back on when you connect one. Click to leave it off."));
        micButton_->setAccessibleName(QStringLiteral("Leave your microphone off"));
    } else {
        micButton_->setText(QStringLiteral("Mic off"));
        micButton_->setToolTip(QStringLiteral("Turn on your microphone to talk with them"));
        micButton_->setAccessibleName(QStringLiteral("Turn your microphone on"));
    }
    setTextColourSheet(*micButton_, c.session().microphoneOn() ? microphoneOnText() : QColor{});

    notice_->setVisible(c.session().notice().has_value());
    notice_->setText(QString::fromStdString(shownText(c.session().notice().value_or(""), kShownLineLength)));

    // The remote screen follows the session's peer.
    if (c.session().peer() != shownPeer_) {
        if (remoteScreen_)
            remoteScreen_->deleteLater();
        remoteScreen_ = nullptr;
        shownPeer_ = c.session().peer();
        if (auto peer = c.session().sharedPeer()) {
            remoteScreen_ = new RemoteScreenView(peer, c.keyboardLayout(), session_);
            sessionLayout_->addWidget(remoteScreen_, 1);
        }
    }
    if (remoteScreen_) {
        remoteScreen_->setMode(c.session().mode());
        remoteScreen_->setCursorShape(c.session().remoteCursor());
    }
    // Where the window is short of room, the bar's buttons give up the style's minimum
    // button width (meant for dialogs) before the bar asks for a wider window.
    for (auto* button : sessionBar_->findChildren<QPushButton*>())
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 20);
    fitBar();
}

void ViewerRootView::refreshStatus()
{
    if (!controller_ || controller_->session().phase().kind != ViewerController::Phase::Kind::connected)
        return;
    status_->setText(QString::fromStdString(controller_->session().connectionInfo()));
    fitBar();
}

void ViewerRootView::fitBar()
{
    fitWindowToSession(true);
    // Labels and buttons shown or changed just now count once their layout has settled.
    QTimer::singleShot(0, this, [self = QPointer<ViewerRootView>(this)] {
        if (self && self->screens_->currentWidget() == self->session_)
            self->fitWindowToSession(true);
    });
}

void ViewerRootView::fitWindowToSession(bool inSession)
{
    // The session's bar needs its room: while connected, the window is at least as wide
    // as the bar (growing if it was narrower); afterwards its own minimum returns.
    QWidget* top = window();
    if (!top || top == this)
        return;
    if (!inSession) {
        if (windowMinimumWidth_ >= 0)
            top->setMinimumWidth(windowMinimumWidth_);
        windowMinimumWidth_ = -1;
        return;
    }
    if (windowMinimumWidth_ < 0)
        windowMinimumWidth_ = top->minimumWidth();
    const int needed = sessionBar_->minimumSizeHint().width() + std::max(0, top->width() - width());
    top->setMinimumWidth(std::max(windowMinimumWidth_, needed));
}

QString ViewerRootView::screenName() const
{
    switch (screens_->currentIndex()) {
    case 0: return QStringLiteral("browsing");
    case 1: return QStringLiteral("waiting");
    case 2: return QStringLiteral("connected");
    default: return QStringLiteral("message");
    }
}

QString ViewerRootView::waitingText() const
{
    return waitingLabel_->text();
}

QString ViewerRootView::messageText() const
{
    return messageLabel_->text();
}

QString ViewerRootView::modeText() const
{
    return modeLabel_->text();
}

QString ViewerRootView::takeOverText() const
{
    return takeOverButton_->isVisibleTo(session_) ? takeOverButton_->text() : QString();
}

bool ViewerRootView::takeOverEnabled() const
{
    return takeOverButton_->isEnabled();
}

bool ViewerRootView::displayChooserShown() const
{
    return displayChooser_->isVisibleTo(session_);
}

QString ViewerRootView::displayChooserText() const
{
    return displayChooser_->text();
}

QString ViewerRootView::noticeText() const
{
    return notice_->isVisibleTo(session_) ? notice_->text() : QString();
}

QString ViewerRootView::microphoneText() const
{
    return micButton_->text();
}

QString ViewerRootView::statusText() const
{
    return status_->text();
}

} // namespace wl
