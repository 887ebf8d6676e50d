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
#include <QScreen>
#include <QVBoxLayout>

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

void ShellPanel::setView(QWidget* view)
{
    if (view_) {
        layout()->removeWidget(view_);
        view_->hide();
        view_->setParent(nullptr);
        view_->deleteLater();
    }
    view_ = view;
    if (view) {
        view->setParent(this);
        layout()->addWidget(view);
        view->show();
    }
    layout()->activate();
}

void ShellPanel::centre()
{
    layout()->activate();
    adjustSize();
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
        panel->setView(new AskForHelpView(center, std::move(onClose)));
        return panel;
    };
}

} // namespace wl
