#pragma once
// The image of the pointer's current cursor. The desktop backend asks XFixes; the
// stand-in (none()) has none.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace wl {

struct CursorImage {
    int width = 0, height = 0; // pixels
    int hotSpotX = 0, hotSpotY = 0; // from the top-left corner
    // Changes whenever the cursor changes.
    std::uint64_t serial = 0;
    // width × height pixels, rows from the top, premultiplied ARGB (alpha in the top byte).
    std::vector<std::uint32_t> pixels;
};

class CursorImages {
public:
    virtual ~CursorImages() = default;
    virtual std::optional<CursorImage> current() = 0;

    // The safe stand-in: nothing known, nothing done.
    static std::shared_ptr<CursorImages> none();
};

} // namespace wl
