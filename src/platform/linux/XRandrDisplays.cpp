#include "platform/linux/XRandrDisplays.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace wl {

namespace {

// The EDID property of an output; empty when it has none.
std::string outputEDID(::Display* dpy, RROutput output)
{
    Atom edid = XInternAtom(dpy, RR_PROPERTY_RANDR_EDID, True);
    if (edid == None)
        return {};
    unsigned char* data = nullptr;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    std::string bytes;
    if (XRRGetOutputProperty(dpy, output, edid, 0, 256, False, False, AnyPropertyType, &type, &format, &count,
                             &remaining, &data) == Success &&
        data && format == 8)
        bytes.assign(reinterpret_cast<const char*>(data), count);
    if (data)
        XFree(data);
    return bytes;
}

} // namespace

std::optional<std::string> monitorNameFromEDID(std::string_view edid)
{
    static const unsigned char header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    if (edid.size() < 128 || edid.compare(0, 8, std::string_view(reinterpret_cast<const char*>(header), 8)) != 0)
        return std::nullopt;
    // Four 18-byte descriptors; a display descriptor starts with three zero bytes and
    // its tag; 0xFC holds the name: up to 13 characters, ended by a line feed, padded.
    for (std::size_t at : {54u, 72u, 90u, 108u}) {
        auto byte = [&](std::size_t i) { return static_cast<unsigned char>(edid[at + i]); };
        if (byte(0) != 0 || byte(1) != 0 || byte(2) != 0 || byte(3) != 0xfc)
            continue;
        std::string name;
        for (std::size_t i = 5; i < 18; ++i) {
            unsigned char c = byte(i);
            if (c == 0x0a || c == 0)
                break;
            name += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
        }
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        if (!name.empty())
            return name;
    }
    return std::nullopt;
}

XRandrDisplays::XRandrDisplays(std::string displayName)
    : x_(
          "no displays are known",
          [](XConnection& x) {
              int eventBase = 0, errorBase = 0, major = 0, minor = 0;
              return XRRQueryExtension(x.display(), &eventBase, &errorBase) &&
                      XRRQueryVersion(x.display(), &major, &minor) && (major > 1 || (major == 1 && minor >= 5))
                  ? std::string()
                  : std::string("RandR 1.5");
          },
          std::move(displayName))
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
}

XConnection* XRandrDisplays::connection()
{
    XConnection* x = x_.get();
    if (x)
        x->adopt(); // callers hold lock_: no other thread uses it meanwhile
    return x;
}

bool XRandrDisplays::blendsTranslucentWindows()
{
    std::lock_guard guard(lock_);
    XConnection* x = connection();
    if (!x)
        return false;
    ::Display* dpy = x->display();
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(dpy));
    const Atom selection = XInternAtom(dpy, name.c_str(), False);
    return selection != None && XGetSelectionOwner(dpy, selection) != None;
}

std::vector<Display> XRandrDisplays::list()
{
    watchScreens();
    std::lock_guard guard(lock_);
    XConnection* x = connection();
    if (!x)
        return {};
    ::Display* dpy = x->display();
    Window root = DefaultRootWindow(dpy);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
    std::vector<Display> result;
    for (int i = 0; monitors && i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors[i];
        if (monitor.width <= 0 || monitor.height <= 0)
            continue;
        Display d;
        // A monitor set up without an output (xrandr --setmonitor NAME geometry none)
        // is numbered after its name, above every X resource id.
        const bool hasOutput = monitor.noutput >= 1;
        d.id = hasOutput ? static_cast<std::uint32_t>(monitor.outputs[0])
                         : kMonitorWithoutOutput | static_cast<std::uint32_t>(monitor.name);
        d.x = monitor.x;
        d.y = monitor.y;
        d.width = monitor.width;
        d.height = monitor.height;
        d.main = monitor.primary != 0;
        if (resources && hasOutput) {
            if (XRROutputInfo* info = XRRGetOutputInfo(dpy, resources, monitor.outputs[0])) {
                d.output.assign(info->name, static_cast<std::size_t>(info->nameLen));
                XRRFreeOutputInfo(info);
            }
        }
        if (d.output.empty()) {
            if (char* atom = XGetAtomName(dpy, monitor.name)) {
                d.output = atom;
                XFree(atom);
            }
        }
        d.name = hasOutput ? monitorNameFromEDID(outputEDID(dpy, monitor.outputs[0])).value_or(d.output) : d.output;
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
