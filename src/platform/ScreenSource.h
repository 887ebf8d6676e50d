#pragma once
// The screen as the screen capturer and the help request's screenshot read it: where a
// display lies, and its pixels now. The desktop's is X11ScreenSource (platform/linux);
// tests use synthetic frames made in memory (tests/support).
//
// A source is used by one thread at a time (the capture thread, a screenshot's worker)
// and connects to the screen on that thread, at open().

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// A grabbed picture: 4 bytes a pixel (little-endian BGRx), rows of stride bytes.
struct ScreenFrame {
    std::uint8_t* pixels = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

class ScreenSource {
public:
    virtual ~ScreenSource() = default;

    // Connects to the screen; false with the reason in error. Cheap once connected.
    virtual bool open(std::string& error) = 0;
    // Whether grabs can have the cursor drawn in (after open()).
    virtual bool canShowCursor() = 0;
    // The rectangle of a display (by id) on the screen, else of the first display, else
    // of the whole screen; chosen: the id of the display used (0 for the whole screen).
    // False when displayId was not found (rect and chosen then tell the stand-in).
    virtual bool findDisplay(std::uint32_t displayId, ScreenRect& rect, std::uint32_t& chosen) = 0;
    // Makes ready to grab region; false with the reason in error.
    virtual bool prepare(const ScreenRect& region, std::string& error) = 0;
    // The prepared region as it is now, with the windows named blacked out (their
    // window manager's frames too) and, when withCursor, the cursor drawn in; nullopt
    // with the reason in error when it can't be read. The pixels stay valid until the
    // next grab(), prepare() or release().
    virtual std::optional<ScreenFrame> grab(const std::vector<std::uint64_t>& excluded, bool withCursor,
                                            std::string& error) = 0;
    // Frees what prepare() took.
    virtual void release() = 0;
};

// Makes a source for a thread that reads the screen.
using ScreenSources = std::function<std::unique_ptr<ScreenSource>()>;

} // namespace wl
