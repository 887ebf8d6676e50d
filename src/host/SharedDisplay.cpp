#include "host/SharedDisplay.h"

#include <QGuiApplication>
#include <QScreen>

#include <mutex>

namespace wl {

std::vector<DisplayInfo> currentDisplays(Displays& displays)
{
    std::vector<DisplayInfo> result;
    for (const auto& display : displays.list())
        result.push_back(DisplayInfo{display.id, display.name, static_cast<double>(display.width),
                                     static_cast<double>(display.height)});
    return result;
}

SharedDisplay::SharedDisplay(std::shared_ptr<Displays> displays) : displays_(std::move(displays)) { }

std::uint32_t SharedDisplay::id()
{
    std::lock_guard guard(lock_);
    if (!known_) {
        // Without any display there is nothing to remember yet; ask again next time.
        std::uint32_t main = displays_->mainDisplayID();
        if (main == 0)
            return 0;
        id_ = main;
        known_ = true;
    }
    return id_;
}

std::uint32_t SharedDisplay::remembered() const
{
    std::lock_guard guard(lock_);
    return known_ ? id_ : 0;
}

void SharedDisplay::set(std::uint32_t id)
{
    std::lock_guard guard(lock_);
    id_ = id;
    known_ = true;
}

std::optional<Display> SharedDisplay::screen()
{
    std::uint32_t shared = id();
    auto all = displays_->list();
    for (const auto& display : all)
        if (display.id == shared)
            return display;
    if (all.empty())
        return std::nullopt;
    return all.front();
}

QScreen* SharedDisplay::qscreen()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return nullptr;
    if (auto display = screen()) {
        QString name = QString::fromStdString(display->output.empty() ? display->name : display->output);
        for (QScreen* screen : screens)
            if (!name.isEmpty() && screen->name() == name)
                return screen;
        QRect wanted(display->x, display->y, display->width, display->height);
        for (QScreen* screen : screens) {
            QRect geometry = screen->geometry();
            qreal ratio = screen->devicePixelRatio();
            QRect pixels(geometry.topLeft(), geometry.size() * ratio);
            if (pixels == wanted)
                return screen;
        }
    }
    return screens.front();
}

} // namespace wl
