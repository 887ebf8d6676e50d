#include "platform/linux/XFixesCursorImages.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace wl {

XFixesCursorImages::XFixesCursorImages(std::string displayName)
    : x_(
          "the cursor's shape can't be read",
          [](XConnection& x) {
              int event = 0, error = 0, major = 0, minor = 0;
              return XFixesQueryExtension(x.display(), &event, &error) &&
                      XFixesQueryVersion(x.display(), &major, &minor)
                  ? std::string()
                  : std::string("XFixes extension");
          },
          std::move(displayName))
{
}

XFixesCursorImages::~XFixesCursorImages() = default;

std::optional<CursorImage> XFixesCursorImages::current()
{
    XConnection* x = x_.get();
    if (!x)
        return std::nullopt;
    XFixesCursorImage* image = XFixesGetCursorImage(x->display());
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
