#pragma once
// The program's tray icon with the host's menu: a QSystemTrayIcon (a StatusNotifierItem
// where the desktop has one, else an XEmbed icon) showing the state's icon and, as its
// tool tip, the state's description. The menu opens from either mouse button. Without a
// tray on the desktop this is said once in the log; the main window stays reachable by
// launching the program again.

#include "app/HostMenu.h"
#include "app/MenuBarLabel.h"

#include <QObject>

#include <memory>

class QSystemTrayIcon;

namespace wl {

class MenuBarExtra final : public QObject {
    Q_OBJECT
public:
    MenuBarExtra(HostController& host, ViewerController& viewer, HostMenu::Actions actions, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    // Puts the icon into the tray; false when the desktop has no tray (yet).
    bool show();

    // Looks at the panel around the icon and draws the icon in the colour that stands
    // out on it (an XEmbed tray; a StatusNotifier host keeps the default).
    void fitPanel();
    const QColor& iconColour() const { return colour_; }

    QSystemTrayIcon& trayIcon() const { return *tray_; }
    HostMenu& menu() const { return *menu_; }
    MenuBarLabel& label() const { return *label_; }

private:
    void showState();

    std::unique_ptr<HostMenu> menu_;
    std::unique_ptr<MenuBarLabel> label_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QColor colour_ = MenuBarIcon::panelColour();
};

} // namespace wl
