#include "platform/linux/XFixesCursorImages.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace wl {

XFixesCursorImages::XFixesCursorImages(std::string displayName) : displayName_(std::move(displayName)) { }

XFixesCursorImages::~XFixesCursorImages()
{
    if (display_)
        XCloseDisplay(display_);
}

bool XFixesCursorImages::open()
{
    assertMainThread("XFixesCursorImages::open");
    if (display_)
        return true;
    if (triedToOpen_)
        return false;
    triedToOpen_ = true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_) {
        Log::line("Wickerlane: cannot open the X display; the cursor's shape can't be read");
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XFixesQueryExtension(display_, &event, &error) || !XFixesQueryVersion(display_, &major, &minor)) {
        Log::line("Wickerlane: the X server has no XFixes extension; the cursor's shape can't be read");
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    return true;
}

std::optional<CursorImage> XFixesCursorImages::current()
{
    if (!open())
        return std::nullopt;
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    if (!image)
        return std::nullopt;
    CursorImage result;
    result.width = image->width;
    result.height = image->height;
    result.hotSpotX = image->xhot;
    result.hotSpotY = image->yhot;
    result.serial = image->cursor_serial;
    const std::size_t count = std::size_t(image->width) * std::size_t(image->height);
    result.pixels.reserve(count);
    // Each pixel is an unsigned long with the ARGB value in its low 32 bits.
    for (std::size_t i = 0; i < count && image->pixels; ++i)
        result.pixels.push_back(std::uint32_t(image->pixels[i] & 0xffffffffUL));
    XFree(image);
    return result;
}

} // namespace wl
