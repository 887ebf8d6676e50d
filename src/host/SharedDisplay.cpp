#include "host/SharedDisplay.h"

#include <QGuiApplication>
#include <QScreen>

#include <mutex>

namespace wl {

namespace {
std::mutex sharedLock;
bool sharedKnown = false;
std::uint32_t sharedId = 0;
} // namespace

std::vector<DisplayInfo> currentDisplays(Displays& displays)
{
    std::vector<DisplayInfo> result;
    for (const auto& display : displays.list())
        result.push_back(DisplayInfo{display.id, display.name, static_cast<double>(display.width),
                                     static_cast<double>(display.height)});
    return result;
}

std::uint32_t sharedDisplay(Displays& displays)
{
    std::lock_guard guard(sharedLock);
    if (!sharedKnown) {
        // Without any display there is nothing to remember yet; ask again next time.
        std::uint32_t main = displays.mainDisplayID();
        if (main == 0)
            return 0;
        sharedId = main;
        sharedKnown = true;
    }
    return sharedId;
}

std::uint32_t rememberedSharedDisplay()
{
    std::lock_guard guard(sharedLock);
    return sharedKnown ? sharedId : 0;
}

void setSharedDisplay(std::uint32_t id)
{
    std::lock_guard guard(sharedLock);
    sharedId = id;
    sharedKnown = true;
}

void resetSharedDisplay()
{
    std::lock_guard guard(sharedLock);
    sharedId = 0;
    sharedKnown = false;
}

std::optional<Display> screenForDisplay(Displays& displays)
{
    std::uint32_t shared = sharedDisplay(displays);
    auto all = displays.list();
    for (const auto& display : all)
        if (display.id == shared)
            return display;
    if (all.empty())
        return std::nullopt;
    return all.front();
}

QScreen* qscreenForDisplay(Displays& displays)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return nullptr;
    if (auto display = screenForDisplay(displays)) {
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
