#include "media/Screenshot.h"

#include "media/XGrab.h"
#include "platform/CaptureExclusion.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace wl {

std::optional<ScreenPicture> grabScreenshot(std::uint32_t displayId, const std::vector<std::uint64_t>& alsoExcluded,
                                            std::string& error)
{
    xgrab::errorCount(); // X errors are counted, never fatal
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        error = "cannot open the X display";
        return std::nullopt;
    }
    const Window root = DefaultRootWindow(display);
    xgrab::Rect region;
    std::uint32_t chosen = 0;
    xgrab::findDisplay(display, root, displayId, region, chosen);
    std::optional<ScreenPicture> picture;
    const int before = xgrab::errorCount();
    XImage* image = region.width > 0 && region.height > 0
        ? XGetImage(display, root, region.x, region.y, unsigned(region.width), unsigned(region.height), AllPlanes,
                    ZPixmap)
        : nullptr;
    XSync(display, False);
    if (!image || xgrab::errorCount() != before) {
        error = "the screen could not be read";
    } else if (image->bits_per_pixel != 32) {
        error = "the screen has " + std::to_string(image->bits_per_pixel) + " bits per pixel";
    } else {
        std::vector<std::uint64_t> excluded = CaptureExclusion::shared().windows();
        excluded.insert(excluded.end(), alsoExcluded.begin(), alsoExcluded.end());
        auto* pixels = reinterpret_cast<std::uint8_t*>(image->data);
        xgrab::blackOut(pixels, image->bytes_per_line, region, xgrab::viewableWindows(display, root, excluded));
        picture.emplace();
        picture->width = region.width;
        picture->height = region.height;
        const std::size_t rowBytes = std::size_t(region.width) * 4;
        picture->bgrx.resize(rowBytes * std::size_t(region.height));
        for (int y = 0; y < region.height; ++y)
            std::memcpy(picture->bgrx.data() + std::size_t(y) * rowBytes,
                        pixels + std::size_t(y) * std::size_t(image->bytes_per_line), rowBytes);
    }
    if (image)
        XDestroyImage(image);
    XCloseDisplay(display);
    return picture;
}

} // namespace wl
