#pragma once
// The small windows of the shell (ask for help, send a password, passwords): a titled,
// closable window in the dark style that takes its size from the view it hosts, is
// centred on the screen, and comes to the front when presented. Its close box only puts
// it away. A panel that shows passwords is kept out of every picture of the screen that
// leaves this program (registered with the program's CaptureExclusion) for as long as it
// exists.

#include "mail/PanelWindow.h"
#include "platform/OneShotTimer.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace wl {

class AskForHelpPanelController;
class PasswordCenter;
class CaptureExclusion;
class ScopedCaptureExclusion;

class ShellPanel : public QWidget, public PanelWindow {
    Q_OBJECT
public:
    // excludedFrom: the registry that keeps the panel out of capture; null for a panel
    // that may be captured.
    ShellPanel(const QString& title, std::shared_ptr<CaptureExclusion> excludedFrom, QWidget* parent = nullptr);
    ~ShellPanel() override;

    // Hosts the view (the panel owns it); a view hosted before is deleted later.
    void setView(QWidget* view);
    QWidget* view() const { return view_; }
    bool isExcludedFromCapture() const { return exclusion_ != nullptr; }

    void centre() override;
    void present() override;
    void orderOut() override;
    bool isOnScreen() const override;
    void discardLater() override;

private:
    QPointer<QWidget> view_;
    std::unique_ptr<ScopedCaptureExclusion> exclusion_;
};

// Gives the controllers below the shell the makers of their windows: the "Passwords"
// and "Send a Password" panels of the password centre (both kept out of capture) and the
// "Ask for help" panel.
// exclusion: the registry that keeps the password panels out of capture (required);
// timers: where the passwords panel schedules the clearing of a copied password
// (required).
void installShellPanels(PasswordCenter& passwords, AskForHelpPanelController& askForHelp,
                        std::shared_ptr<CaptureExclusion> exclusion, TimerFactory timers);

} // namespace wl
