#include "platform/linux/XRandrDisplays.h"

#include "platform/Log.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace wl {

XRandrDisplays::XRandrDisplays()
{
    watchScreens();
}

XRandrDisplays::~XRandrDisplays()
{
    // Screen signals still queued or emitted from now on find no object to call.
    alive_.reset();
    if (watcher_) {
        if (QThread::currentThread() == watcher_->thread())
            delete watcher_.data();
        else
            watcher_->deleteLater();
    }
    if (connection_)
        XCloseDisplay(connection_);
}

bool XRandrDisplays::openConnection()
{
    if (connection_)
        return true;
    if (triedToOpen_)
        return false;
    triedToOpen_ = true;
    connection_ = XOpenDisplay(nullptr);
    if (!connection_) {
        Log::line("Wickerlane: cannot open the X display; no displays are known");
        return false;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(connection_, &eventBase, &errorBase) || !XRRQueryVersion(connection_, &major, &minor) ||
        major < 1 || (major == 1 && minor < 5)) {
        Log::line("Wickerlane: the X server has no RandR 1.5; no displays are known");
        XCloseDisplay(connection_);
        connection_ = nullptr;
        return false;
    }
    return true;
}

std::vector<Display> XRandrDisplays::list()
{
    watchScreens();
    std::lock_guard guard(lock_);
    if (!openConnection())
        return {};
    ::Display* dpy = connection_;
    Window root = DefaultRootWindow(dpy);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
    std::vector<Display> result;
    for (int i = 0; monitors && i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors[i];
        if (monitor.noutput < 1 || monitor.width <= 0 || monitor.height <= 0)
            continue;
        Display d;
        d.id = static_cast<std::uint32_t>(monitor.outputs[0]);
        d.x = monitor.x;
        d.y = monitor.y;
        d.width = monitor.width;
        d.height = monitor.height;
        d.main = monitor.primary != 0;
        if (resources) {
            if (XRROutputInfo* info = XRRGetOutputInfo(dpy, resources, monitor.outputs[0])) {
                d.name.assign(info->name, static_cast<std::size_t>(info->nameLen));
                XRRFreeOutputInfo(info);
            }
        }
        if (d.name.empty()) {
            if (char* atom = XGetAtomName(dpy, monitor.name)) {
                d.name = atom;
                XFree(atom);
            }
        }
        result.push_back(std::move(d));
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    if (resources)
        XRRFreeScreenResources(resources);

    // The main display first; without a primary output, the first monitor is main.
    auto primary = std::find_if(result.begin(), result.end(), [](const Display& d) { return d.main; });
    if (primary != result.end())
        std::rotate(result.begin(), primary, primary + 1);
    else if (!result.empty())
        result.front().main = true;
    for (std::size_t i = 1; i < result.size(); ++i)
        result[i].main = false;
    return result;
}

void XRandrDisplays::observerAdded()
{
    watchScreens();
}

void XRandrDisplays::watchScreens()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return;
    {
        std::lock_guard guard(lock_);
        if (watcher_)
            return;
        watcher_ = new QObject(app);
    }
    QObject* watcher = watcher_;
    std::weak_ptr<XRandrDisplays*> weak = alive_;
    auto changed = [weak] {
        if (auto self = weak.lock())
            (*self)->notifyObservers();
    };
    auto watchScreen = [watcher, changed](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, watcher, changed);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    QObject::connect(app, &QGuiApplication::screenAdded, watcher, [watchScreen, changed](QScreen* screen) {
        watchScreen(screen);
        changed();
    });
    QObject::connect(app, &QGuiApplication::screenRemoved, watcher, changed);
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, watcher, changed);
}

} // namespace wl
