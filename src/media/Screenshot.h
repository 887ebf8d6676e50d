#pragma once
// One picture of a display, for a help request: the display's pixels as they are now,
// without the cursor, with the windows given blacked out (the caller names the program's
// own windows, which stay out of it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class ScreenSource;

struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgrx; // 4 bytes a pixel, rows of width * 4 bytes
};

// displayId: an XRandR output id; an unknown one takes the first display. screen: a
// source of the calling thread's own. nullopt, with the reason in error, when the
// display can't be read.
std::optional<ScreenPicture> grabScreenshot(ScreenSource& screen, std::uint32_t displayId,
                                            const std::vector<std::uint64_t>& excluded, std::string& error);

} // namespace wl
