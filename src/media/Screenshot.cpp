#include "media/Screenshot.h"

#include "platform/ScreenSource.h"

#include <cstring>

namespace wl {

std::optional<ScreenPicture> grabScreenshot(ScreenSource& screen, std::uint32_t displayId,
                                            const std::vector<std::uint64_t>& excluded, std::string& error)
{
    if (!screen.open(error))
        return std::nullopt;
    ScreenRect region;
    std::uint32_t chosen = 0;
    screen.findDisplay(displayId, region, chosen); // an unknown display: the first one
    std::optional<ScreenFrame> frame;
    if (!screen.prepare(region, error) || !(frame = screen.grab(excluded, false, error))) {
        screen.release();
        return std::nullopt;
    }
    std::optional<ScreenPicture> picture;
    picture.emplace();
    picture->width = frame->width;
    picture->height = frame->height;
    const std::size_t rowBytes = std::size_t(frame->width) * 4;
    picture->bgrx.resize(rowBytes * std::size_t(frame->height));
    for (int y = 0; y < frame->height; ++y)
        std::memcpy(picture->bgrx.data() + std::size_t(y) * rowBytes,
                    frame->pixels + std::size_t(y) * std::size_t(frame->stride), rowBytes);
    screen.release();
    return picture;
}

} // namespace wl
