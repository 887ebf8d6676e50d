#include "app/MenuBarExtra.h"

#include "host/HostController.h"
#include "platform/Log.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace wl {

MenuBarExtra::MenuBarExtra(HostController& host, ViewerController& viewer, HostMenu::Actions actions, QObject* parent)
    : QObject(parent),
      menu_(std::make_unique<HostMenu>(host, host.messenger(), host.helpRequests(), std::move(actions))),
      label_(std::make_unique<MenuBarLabel>(host, viewer, host.helpRequests())),
      tray_(std::make_unique<QSystemTrayIcon>())
{
    tray_->setContextMenu(menu_->menu());
    // The menu drops down on a plain click too, as the tray's whole interface.
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            menu_->menu()->popup(QCursor::pos());
    });
    connect(label_.get(), &MenuBarLabel::changed, this, &MenuBarExtra::showState);
    showState();
}

MenuBarExtra::~MenuBarExtra()
{
    tray_->setContextMenu(nullptr);
}

void MenuBarExtra::showState()
{
    const auto state = label_->state();
    tray_->setIcon(MenuBarIcon::image(state));
    tray_->setToolTip(QString::fromStdString(MenuBarIcon::description(state)));
}

bool MenuBarExtra::show()
{
    tray_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Log::line("Wickerlane: this desktop shows no tray icons; open Wickerlane again to see its window");
        return false;
    }
    return true;
}

} // namespace wl
