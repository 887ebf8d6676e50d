#include "platform/linux/X11ScreenSource.h"

#include "platform/linux/XConnection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace wl {

namespace {

ScreenRect intersect(const ScreenRect& a, const ScreenRect& b)
{
    int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

ScreenRect boundingRect(const ScreenRect& a, const ScreenRect& b)
{
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

// The client rectangle grown by the frame extents its window manager announces
// (_NET_FRAME_EXTENTS: left, right, top, bottom), or the client rectangle as it is.
ScreenRect withFrameExtents(::Display* display, Window window, const ScreenRect& client)
{
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", True);
    if (extents == None)
        return client;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ScreenRect frame = client;
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
Window frameWindow(::Display* display, Window root, Window window)
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
bool viewableRect(XConnection& connection, Window root, Window window, ScreenRect& rect)
{
    ::Display* display = connection.display();
    const int before = connection.errorCount();
    XWindowAttributes attributes{};
    Status ok = XGetWindowAttributes(display, window, &attributes);
    if (!ok || connection.errorCount() != before || attributes.map_state != IsViewable)
        return false;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    if (connection.errorCount() != before)
        return false;
    const int b = attributes.border_width;
    rect = {x - b, y - b, attributes.width + 2 * b, attributes.height + 2 * b};
    return true;
}

// Root-relative rectangles of those windows that are viewable, with their window
// manager's frame (title bar and borders): the frame extents the window manager
// announces and the frame window it put the window into.
std::vector<ScreenRect> viewableWindows(XConnection& connection, const std::vector<std::uint64_t>& windows)
{
    ::Display* display = connection.display();
    const Window root = connection.root();
    XWindowAttributes rootAttributes{};
    XGetWindowAttributes(display, root, &rootAttributes);
    std::vector<ScreenRect> rects;
    for (auto id : windows) {
        ScreenRect client;
        if (!viewableRect(connection, root, Window(id), client))
            continue;
        const int before = connection.errorCount();
        // The window manager's title bar and borders go with the window.
        ScreenRect frame = withFrameExtents(display, Window(id), client);
        ScreenRect parent;
        if (Window decorated = frameWindow(display, root, Window(id)); decorated &&
            viewableRect(connection, root, decorated, parent) &&
            // A virtual root spanning the whole screen is no frame.
            !(parent.width >= rootAttributes.width && parent.height >= rootAttributes.height))
            frame = boundingRect(frame, parent);
        rects.push_back(connection.errorCount() == before ? frame : client);
    }
    return rects;
}

// Paints black where the rectangles meet the frame, which covers region.
void blackOut(const ScreenFrame& frame, const ScreenRect& region, const std::vector<ScreenRect>& rects)
{
    for (const ScreenRect& window : rects) {
        ScreenRect hit = intersect(window, region);
        for (int y = 0; y < hit.height; ++y) {
            std::uint8_t* row = frame.pixels + std::size_t(hit.y - region.y + y) * std::size_t(frame.stride) +
                std::size_t(hit.x - region.x) * 4;
            std::memset(row, 0, std::size_t(hit.width) * 4);
        }
    }
}

} // namespace

struct X11ScreenSource::Segment {
    XShmSegmentInfo info{};
};

X11ScreenSource::X11ScreenSource(std::string displayName) : displayName_(std::move(displayName)) { }

X11ScreenSource::~X11ScreenSource()
{
    release();
}

bool X11ScreenSource::open(std::string& error)
{
    if (x_)
        return true;
    x_ = XConnection::open(displayName_);
    if (!x_) {
        error = "cannot open the X display";
        return false;
    }
    shm_ = XShmQueryExtension(x_->display());
    int eventBase = 0, errorBase = 0;
    fixes_ = XFixesQueryExtension(x_->display(), &eventBase, &errorBase);
    return true;
}

bool X11ScreenSource::findDisplay(std::uint32_t displayId, ScreenRect& rect, std::uint32_t& chosen)
{
    ::Display* display = x_->display();
    const Window root = x_->root();
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    int pick = -1;
    for (int i = 0; monitors && i < count && pick < 0; ++i) {
        for (int o = 0; o < monitors[i].noutput; ++o) {
            if (std::uint32_t(monitors[i].outputs[o]) == displayId)
                pick = i;
        }
    }
    bool found = pick >= 0;
    if (pick < 0 && count > 0) // unknown display: the first one
        pick = 0;
    if (pick >= 0) {
        const auto& m = monitors[pick];
        rect = {m.x, m.y, m.width, m.height};
        chosen = m.noutput > 0 ? std::uint32_t(m.outputs[0]) : 0;
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

void X11ScreenSource::release()
{
    if (!image_)
        return;
    if (segment_) {
        XShmDetach(x_->display(), &segment_->info);
        XSync(x_->display(), False);
        XDestroyImage(image_);
        shmdt(segment_->info.shmaddr);
        segment_.reset();
    } else {
        XDestroyImage(image_);
    }
    image_ = nullptr;
}

bool X11ScreenSource::prepare(const ScreenRect& region, std::string& error)
{
    release();
    region_ = region;
    if (region.width <= 0 || region.height <= 0) {
        error = "the display has no size";
        return false;
    }
    if (!shm_)
        return true;
    ::Display* display = x_->display();
    Visual* visual = DefaultVisual(display, DefaultScreen(display));
    int depth = DefaultDepth(display, DefaultScreen(display));
    auto segment = std::make_unique<Segment>();
    XShmSegmentInfo& info = segment->info;
    XImage* image = XShmCreateImage(display, visual, unsigned(depth), ZPixmap, nullptr, &info, unsigned(region.width),
                                    unsigned(region.height));
    if (!image) {
        shm_ = false;
        return true;
    }
    info.shmid = shmget(IPC_PRIVATE, std::size_t(image->bytes_per_line) * std::size_t(image->height), IPC_CREAT | 0600);
    info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    info.readOnly = False;
    shmctl(info.shmid, IPC_RMID, nullptr);
    if (info.shmaddr == reinterpret_cast<char*>(-1) || !XShmAttach(display, &info)) {
        image->data = nullptr;
        XDestroyImage(image);
        shm_ = false;
    } else if (!x_->sync()) { // e.g. a remote X server: no shared memory
        XDestroyImage(image);
        shmdt(info.shmaddr);
        shm_ = false;
    } else {
        image_ = image;
        segment_ = std::move(segment);
    }
    return true;
}

std::optional<ScreenFrame> X11ScreenSource::grab(const std::vector<std::uint64_t>& excluded, bool withCursor,
                                                 std::string& error)
{
    ::Display* display = x_->display();
    if (segment_ && image_) {
        if (!XShmGetImage(display, x_->root(), image_, region_.x, region_.y, AllPlanes)) {
            error = "the screen could not be read";
            return std::nullopt;
        }
    } else {
        if (image_)
            XDestroyImage(image_);
        image_ = XGetImage(display, x_->root(), region_.x, region_.y, unsigned(region_.width), unsigned(region_.height),
                           AllPlanes, ZPixmap);
        if (!image_ || !x_->sync()) {
            error = "the screen could not be read";
            return std::nullopt;
        }
    }
    if (image_->bits_per_pixel != 32) {
        error = "the screen has " + std::to_string(image_->bits_per_pixel) + " bits per pixel";
        return std::nullopt;
    }
    ScreenFrame frame{reinterpret_cast<std::uint8_t*>(image_->data), image_->bytes_per_line, region_.width,
                      region_.height};
    // Excluded windows go black before anything else sees the picture.
    blackOut(frame, region_, viewableWindows(*x_, excluded));
    if (withCursor && fixes_)
        compositeCursor(frame);
    return frame;
}

// Blends the current cursor (premultiplied ARGB) onto the frame.
void X11ScreenSource::compositeCursor(const ScreenFrame& frame)
{
    XFixesCursorImage* cursor = XFixesGetCursorImage(x_->display());
    if (!cursor)
        return;
    int left = int(cursor->x) - int(cursor->xhot) - region_.x;
    int top = int(cursor->y) - int(cursor->yhot) - region_.y;
    for (int cy = 0; cy < int(cursor->height); ++cy) {
        int y = top + cy;
        if (y < 0 || y >= region_.height)
            continue;
        for (int cx = 0; cx < int(cursor->width); ++cx) {
            int x = left + cx;
            if (x < 0 || x >= region_.width)
                continue;
            auto argb = std::uint32_t(cursor->pixels[std::size_t(cy) * cursor->width + std::size_t(cx)]); // low 32 bits
            std::uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            std::uint8_t* p = frame.pixels + std::size_t(y) * std::size_t(frame.stride) + std::size_t(x) * 4;
            std::uint32_t inverse = 255 - alpha;
            p[0] = std::uint8_t((argb & 0xff) + (p[0] * inverse + 127) / 255);
            p[1] = std::uint8_t(((argb >> 8) & 0xff) + (p[1] * inverse + 127) / 255);
            p[2] = std::uint8_t(((argb >> 16) & 0xff) + (p[2] * inverse + 127) / 255);
        }
    }
    XFree(cursor);
}

} // namespace wl
