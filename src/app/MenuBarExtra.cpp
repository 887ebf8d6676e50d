#include "app/MenuBarExtra.h"

#include "host/HostController.h"
#include "platform/Log.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
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
    tray_->setIcon(MenuBarIcon::image(state, colour_));
    tray_->setToolTip(QString::fromStdString(MenuBarIcon::description(state)));
}

bool MenuBarExtra::show()
{
    tray_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Log::line("Wickerlane: this desktop shows no tray icons; open Wickerlane again to see its window");
        return false;
    }
    // Once the panel has drawn itself around the icon.
    QPointer<MenuBarExtra> self(this);
    for (int delay : {400, 2000})
        QTimer::singleShot(delay, this, [self] {
            if (self)
                self->fitPanel();
        });
    return true;
}

void MenuBarExtra::fitPanel()
{
    const QRect icon = tray_->geometry();
    QScreen* screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen || icon.isEmpty())
        return;
    // A ring of two pixels just outside the icon is the panel.
    const QRect ring = icon.adjusted(-2, -2, 2, 2).intersected(screen->geometry());
    const QImage shot = screen->grabWindow(0, ring.x(), ring.y(), ring.width(), ring.height()).toImage();
    if (shot.isNull())
        return;
    double red = 0, green = 0, blue = 0;
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            if (x >= 2 && x < shot.width() - 2 && y >= 2 && y < shot.height() - 2)
                continue;
            const QColor pixel = shot.pixelColor(x, y);
            red += pixel.redF();
            green += pixel.greenF();
            blue += pixel.blueF();
            ++count;
        }
    if (!count)
        return;
    const QColor panel = QColor::fromRgbF(float(red / count), float(green / count), float(blue / count));
    const QColor colour = MenuBarIcon::colourFor(panel);
    if (colour == colour_)
        return;
    colour_ = colour;
    showState();
}

} // namespace wl
