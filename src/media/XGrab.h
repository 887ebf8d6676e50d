#pragma once
// What the screen capturer and the one-off screenshot share on X11: where a display
// lies on the root window, the rectangles of windows kept out of a picture, and
// blacking them out. X errors on these connections (a window that went away, a failed
// grab) never end the process: they are counted, and callers compare the count.

#include <cstdint>
#include <vector>

typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace wl::xgrab {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

Rect intersect(const Rect& a, const Rect& b);

// Installs the counting error handler (once per process) and returns the count so far.
int errorCount();

// The rectangle of an XRandR output (by id), else of the first monitor, else the root.
// chosen: the output id used (0 for the root). Returns false when the id was not found.
bool findDisplay(Display* display, XID root, uint32_t displayId, Rect& rect, uint32_t& chosen);

// Root-relative rectangles of those windows that are viewable, with their window
// manager's frame (title bar and borders): the frame extents the window manager
// announces and the frame window it put the window into.
std::vector<Rect> viewableWindows(Display* display, XID root, const std::vector<std::uint64_t>& windows);

// Paints black where the rectangles meet the region (pixels: 4 bytes each, rows of
// stride bytes, covering region).
void blackOut(uint8_t* pixels, int stride, const Rect& region, const std::vector<Rect>& rects);

} // namespace wl::xgrab
