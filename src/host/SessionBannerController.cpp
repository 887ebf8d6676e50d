#include "host/SessionBannerController.h"

#include "platform/Displays.h"
#include "platform/MainThread.h"

#include <QGuiApplication>
#include <QRectF>
#include <QScreen>

#include <algorithm>

namespace wl {

SessionBannerController::SessionBannerController(std::shared_ptr<Displays> displays, QObject* parent)
    : QObject(parent), displays_(std::move(displays))
{
}

SessionBannerController::~SessionBannerController()
{
    delete panel_.data();
}

void SessionBannerController::present(Actions actions)
{
    assertMainThread("SessionBannerController::present");
    hide();
    auto* view = new SessionBannerView(model, std::move(actions));
    view->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                         Qt::X11BypassWindowManagerHint);
    view->setAttribute(Qt::WA_ShowWithoutActivating);
    view->setWindowTitle(QStringLiteral("Wickerlane session"));
    view->setShapedToOutline(!displays_->blendsTranslucentWindows());
    panel_ = view;
    // A new banner takes mouse events.
    ignoresMouse_ = false;
    refreshPlacement();
    view->show();
    applyMouseHandling();
}

void SessionBannerController::hide()
{
    assertMainThread("SessionBannerController::hide");
    if (!panel_)
        return;
    panel_->hide();
    // It may be going from inside one of its own buttons.
    panel_->deleteLater();
    panel_ = nullptr;
}

QPoint SessionBannerController::placement(QSize size, QRect available, QRect trayIcon)
{
    QRect banner(QPoint(available.right() + 1 - size.width() - kRightMargin, available.top() + kTopMargin), size);
    if (trayIcon.isEmpty() || !banner.intersects(trayIcon))
        return banner.topLeft();
    QRect below = banner;
    below.moveTop(trayIcon.bottom() + 1 + kTopMargin);
    if (below.bottom() <= available.bottom())
        return below.topLeft();
    QRect beside = banner;
    beside.moveRight(trayIcon.left() - 1 - kRightMargin);
    beside.moveLeft(std::max(beside.left(), available.left()));
    return beside.topLeft();
}

void SessionBannerController::refreshPlacement()
{
    if (!panel_)
        return;
    panel_->refresh(model);
    // The main screen: the one with the primary output.
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    panel_->adjustSize();
    const QRect tray = trayIconGeometry ? trayIconGeometry() : QRect();
    panel_->move(placement(panel_->size(), screen->availableGeometry(), tray));
}

void SessionBannerController::setIgnoresMouseEvents(bool ignores)
{
    ignoresMouse_ = ignores;
    applyMouseHandling();
}

bool SessionBannerController::covers(QPointF pixel) const
{
    if (!panel_ || !panel_->isVisible())
        return false;
    // The window system's pixels are the device's; Qt places windows in its own.
    const qreal ratio = panel_->devicePixelRatioF();
    const QRectF frame(QPointF(panel_->pos()) * ratio, QSizeF(panel_->size()) * ratio);
    return frame.contains(pixel);
}

void SessionBannerController::applyMouseHandling()
{
    if (panel_)
        panel_->setLetsClicksThrough(ignoresMouse_);
}

} // namespace wl
