#include "media/XGrab.h"

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

std::vector<Rect> viewableWindows(Display* display, XID root, const std::vector<std::uint64_t>& windows)
{
    std::vector<Rect> rects;
    for (auto id : windows) {
        int before = errorCount();
        XWindowAttributes attributes{};
        Status ok = XGetWindowAttributes(display, Window(id), &attributes);
        if (!ok || errorCount() != before || attributes.map_state != IsViewable)
            continue;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, Window(id), root, 0, 0, &x, &y, &child);
        if (errorCount() != before)
            continue;
        int b = attributes.border_width;
        rects.push_back({x - b, y - b, attributes.width + 2 * b, attributes.height + 2 * b});
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
