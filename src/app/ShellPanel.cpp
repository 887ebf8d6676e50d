#include "app/ShellPanel.h"

#include "app/AskForHelpView.h"
#include "app/PasswordsView.h"
#include "app/SendPasswordView.h"
#include "style/Palette.h"
#include "host/AskForHelpPanelController.h"
#include "mail/PasswordCenter.h"
#include "platform/CaptureExclusion.h"
#include "platform/Required.h"

#include <QGuiApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

ShellPanel::ShellPanel(const QString& title, std::shared_ptr<CaptureExclusion> excludedFrom, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(title);
    applyDarkStyle(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window follows the view's size and can't be resized by hand.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (excludedFrom) {
        // The native window exists from here on, so it is registered before it first shows.
        exclusion_ = std::make_unique<ScopedCaptureExclusion>(std::move(excludedFrom),
                                                              static_cast<CaptureExclusion::WindowId>(winId()));
    }
}

ShellPanel::~ShellPanel() = default;

void ShellPanel::scrollWhenTallerThanScreen()
{
    if (scroller_ || view_)
        return;
    scroller_ = new QScrollArea;
    scroller_->setObjectName(QStringLiteral("panelScroller"));
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(true);
    scroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The panel's own background behind the view.
    scroller_->setBackgroundRole(QPalette::Window);
    scroller_->viewport()->setBackgroundRole(QPalette::Window);
    scroller_->viewport()->setAutoFillBackground(false);
    // The panel sets its own size from the view's.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    layout()->addWidget(scroller_);
}

void ShellPanel::setView(QWidget* view)
{
    if (view_) {
        if (scroller_)
            scroller_->takeWidget();
        else
            layout()->removeWidget(view_);
        view_->removeEventFilter(this);
        view_->hide();
        view_->setParent(nullptr);
        view_->deleteLater();
    }
    view_ = view;
    if (view && scroller_) {
        view->setAutoFillBackground(false);
        // Its height is the one its content needs at its width (its minimum height at
        // least): the minimum size hints of wrapping texts, laid out narrower than they
        // are shown, would make it taller.
        QSizePolicy policy = view->sizePolicy();
        policy.setVerticalPolicy(QSizePolicy::Ignored);
        view->setSizePolicy(policy);
        scroller_->setWidget(view);
        view->installEventFilter(this);
        view->show();
        fit();
        return;
    }
    if (view) {
        view->setParent(this);
        layout()->addWidget(view);
        view->show();
    }
    layout()->activate();
}

bool ShellPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The view's layout has changed: its height may have too.
    if (watched == view_ && event->type() == QEvent::LayoutRequest)
        fit();
    return QWidget::eventFilter(watched, event);
}

QSize ShellPanel::sizeHint() const
{
    if (!scroller_ || !view_)
        return QWidget::sizeHint();
    return fitted().first;
}

std::pair<QSize, bool> ShellPanel::fitted() const
{
    const int width = view_->sizeHint().width();
    const int content = std::max(view_->hasHeightForWidth() ? view_->heightForWidth(width) : view_->sizeHint().height(),
                                 view_->minimumHeight());
    int height = content;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The window manager's frame counts against the screen too.
        const int frame = isVisible() ? frameGeometry().height() - this->height() : 0;
        height = std::min(height, screen->availableGeometry().height() - frame);
    }
    return {QSize(width, height), height < content};
}

void ShellPanel::fit()
{
    if (!scroller_ || !view_)
        return;
    const auto [size, scrolls] = fitted();
    // The panel decides on the bar itself: the scroll area alone would keep a bar it once
    // showed, for the view laid out narrower beside it is taller than the panel.
    scroller_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setFixedSize(size);
    // The scroll bar's range follows the view at once, whether the panel's size changed or not.
    QCoreApplication::postEvent(scroller_, new QEvent(QEvent::LayoutRequest));
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && isVisible()) {
        const QRect area = screen->availableGeometry();
        const QRect frame = frameGeometry();
        int down = 0;
        if (frame.bottom() > area.bottom())
            down = area.bottom() - frame.bottom();
        if (frame.top() + down < area.top())
            down = area.top() - frame.top();
        if (down != 0)
            move(pos() + QPoint(0, down));
    }
}

void ShellPanel::centre()
{
    if (scroller_) {
        fit();
    } else {
        layout()->activate();
        adjustSize();
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void ShellPanel::present()
{
    show();
    raise();
    activateWindow();
}

void ShellPanel::orderOut()
{
    hide();
}

bool ShellPanel::isOnScreen() const
{
    return isVisible();
}

void ShellPanel::discardLater()
{
    hide();
    deleteLater();
}

void installShellPanels(PasswordCenter& passwords, AskForHelpPanelController& askForHelp,
                        std::shared_ptr<CaptureExclusion> exclusion, TimerFactory timers)
{
    required(exclusion, "The shell's panels", "a capture exclusion");
    timers = requiredTimers(std::move(timers), "The shell's panels");
    PasswordCenter::WindowMakers makers;
    makers.passwords = [timers, exclusion](PasswordCenter& center) -> std::unique_ptr<PanelWindow> {
        auto panel = std::make_unique<ShellPanel>(QStringLiteral("Passwords"), exclusion);
        panel->setObjectName(QStringLiteral("passwordsPanel"));
        auto* view = new PasswordsView(center);
        view->setCopyTimers(timers);
        panel->setView(view);
        return panel;
    };
    makers.sendPassword = [exclusion](PasswordCenter& center) -> std::unique_ptr<SendPasswordWindow> {
        return std::make_unique<SendPasswordPanel>(center, exclusion);
    };
    passwords.setWindowMakers(std::move(makers));
    askForHelp.makePanel = [](HelpRequestCenter& center,
                              std::function<void()> onClose) -> std::unique_ptr<PanelWindow> {
        auto panel = std::make_unique<ShellPanel>(QStringLiteral("Ask for help"), nullptr);
        panel->setObjectName(QStringLiteral("askForHelpPanel"));
        // Replies and passwords that came back may be long: every line of them stays in reach.
        panel->scrollWhenTallerThanScreen();
        panel->setView(new AskForHelpView(center, std::move(onClose)));
        return panel;
    };
}

} // namespace wl
