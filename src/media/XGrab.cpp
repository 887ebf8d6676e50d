#include "media/XGrab.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace wl::xgrab {

namespace {

std::atomic<int> errors{0};

int countError(Display*, XErrorEvent*)
{
    ++errors;
    return 0;
}

} // namespace

Rect intersect(const Rect& a, const Rect& b)
{
    int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

int errorCount()
{
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(countError); });
    return errors.load();
}

bool findDisplay(Display* display, XID root, uint32_t displayId, Rect& rect, uint32_t& chosen)
{
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    int pick = -1;
    for (int i = 0; monitors && i < count && pick < 0; ++i) {
        for (int o = 0; o < monitors[i].noutput; ++o) {
            if (uint32_t(monitors[i].outputs[o]) == displayId)
                pick = i;
        }
    }
    bool found = pick >= 0;
    if (pick < 0 && count > 0) // unknown display: the first one
        pick = 0;
    if (pick >= 0) {
        const auto& m = monitors[pick];
        rect = {m.x, m.y, m.width, m.height};
        chosen = m.noutput > 0 ? uint32_t(m.outputs[0]) : 0;
    } else {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, root, &attributes);
        rect = {0, 0, attributes.width, attributes.height};
        chosen = 0;
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    return found;
}

namespace {

Rect boundingRect(const Rect& a, const Rect& b)
{
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

// The client rectangle grown by the frame extents its window manager announces
// (_NET_FRAME_EXTENTS: left, right, top, bottom), or the client rectangle as it is.
Rect withFrameExtents(Display* display, Window window, const Rect& client)
{
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", True);
    if (extents == None)
        return client;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Rect frame = client;
    if (XGetWindowProperty(display, window, extents, 0, 4, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        type == XA_CARDINAL && format == 32 && count == 4 && data) {
        // Format 32 properties come as longs.
        const auto* v = reinterpret_cast<const long*>(data);
        const auto side = [](long value) { return int(std::clamp(value, 0L, 4096L)); };
        frame = {client.x - side(v[0]), client.y - side(v[2]), client.width + side(v[0]) + side(v[1]),
                 client.height + side(v[2]) + side(v[3])};
    }
    if (data)
        XFree(data);
    return frame;
}

// The window a reparenting window manager put the client into (its ancestor just below
// the root), when there is one; 0 otherwise.
Window frameWindow(Display* display, Window root, Window window)
{
    Window current = window;
    for (int depth = 0; depth < 16; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == 0)
            return 0;
        if (parent == root)
            return current == window ? 0 : current;
        current = parent;
    }
    return 0;
}

// Root-relative rectangle of a window, borders included; false when it can't be read
// or isn't viewable.
bool viewableRect(Display* display, Window root, Window window, Rect& rect)
{
    const int before = errorCount();
    XWindowAttributes attributes{};
    Status ok = XGetWindowAttributes(display, window, &attributes);
    if (!ok || errorCount() != before || attributes.map_state != IsViewable)
        return false;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    if (errorCount() != before)
        return false;
    const int b = attributes.border_width;
    rect = {x - b, y - b, attributes.width + 2 * b, attributes.height + 2 * b};
    return true;
}

} // namespace

std::vector<Rect> viewableWindows(Display* display, XID root, const std::vector<std::uint64_t>& windows)
{
    XWindowAttributes rootAttributes{};
    XGetWindowAttributes(display, root, &rootAttributes);
    std::vector<Rect> rects;
    for (auto id : windows) {
        Rect client;
        if (!viewableRect(display, root, Window(id), client))
            continue;
        const int before = errorCount();
        // The window manager's title bar and borders go with the window.
        Rect frame = withFrameExtents(display, Window(id), client);
        Rect parent;
        if (Window decorated = frameWindow(display, root, Window(id)); decorated &&
            viewableRect(display, root, decorated, parent) &&
            // A virtual root spanning the whole screen is no frame.
            !(parent.width >= rootAttributes.width && parent.height >= rootAttributes.height))
            frame = boundingRect(frame, parent);
        rects.push_back(errorCount() == before ? frame : client);
    }
    return rects;
}

void blackOut(uint8_t* pixels, int stride, const Rect& region, const std::vector<Rect>& rects)
{
    for (const Rect& window : rects) {
        Rect hit = intersect(window, region);
        for (int y = 0; y < hit.height; ++y) {
            uint8_t* row =
                pixels + std::size_t(hit.y - region.y + y) * std::size_t(stride) + std::size_t(hit.x - region.x) * 4;
            std::memset(row, 0, std::size_t(hit.width) * 4);
        }
    }
}

} // namespace wl::xgrab
