#pragma once
// The small windows of the shell (ask for help, send a password, passwords): a titled,
// closable window in the dark style that takes its size from the view it hosts, is
// centred on the screen, and comes to the front when presented. A panel that scrolls
// grows with its view up to the height of the screen's available area and scrolls its
// view from there; it follows every change of the view's height and stays on the
// screen. Its close box only puts
// it away. A panel that shows passwords is kept out of every picture of the screen that
// leaves this program (registered with the program's CaptureExclusion) for as long as it
// exists.

#include "mail/PanelWindow.h"
#include "platform/OneShotTimer.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <utility>

class QScrollArea;

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
    // From now on the view scrolls in the panel when it is taller than the screen; the
    // panel is as wide as the view's size hint, the view as wide as the room left
    // beside the scroll bar. Before the first setView.
    void scrollWhenTallerThanScreen();
    bool scrolls() const { return scroller_ != nullptr; }
    QWidget* view() const { return view_; }
    bool isExcludedFromCapture() const { return exclusion_ != nullptr; }

    QSize sizeHint() const override;

    void centre() override;
    void present() override;
    void orderOut() override;
    bool isOnScreen() const override;
    void discardLater() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The panel as high as the view at the panel's width, within the screen's available
    // height, and moved back onto the screen where it grew past its edge.
    void fit();
    // The panel's size for the view, and whether the view scrolls in it.
    std::pair<QSize, bool> fitted() const;

    QPointer<QWidget> view_;
    QScrollArea* scroller_ = nullptr;
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
