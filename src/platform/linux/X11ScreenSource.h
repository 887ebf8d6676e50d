#pragma once
// ScreenSource on the X server: a display's rectangle from XRandR monitors (display id =
// RandR output id), pixels through XShm (XGetImage where the server shares no memory
// with us), windows kept out blacked out with their window manager's frames, and the
// cursor composited from XFixes. X delivers 8 bits per channel whatever its depth.
//
// Opens a connection of its own on the thread that calls open(); that thread alone
// uses it afterwards (XConnection's rule).

#include "platform/ScreenSource.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _XImage XImage;

namespace wl {

class XConnection;

class X11ScreenSource final : public ScreenSource {
public:
    // The X display to read; the environment's ($DISPLAY) when empty.
    explicit X11ScreenSource(std::string displayName = {});
    ~X11ScreenSource() override;

    bool open(std::string& error) override;
    bool canShowCursor() override { return fixes_; }
    bool findDisplay(std::uint32_t displayId, ScreenRect& rect, std::uint32_t& chosen) override;
    bool prepare(const ScreenRect& region, std::string& error) override;
    std::optional<ScreenFrame> grab(const std::vector<std::uint64_t>& excluded, bool withCursor,
                                    std::string& error) override;
    void release() override;

private:
    struct Segment;
    void compositeCursor(const ScreenFrame& frame);

    std::string displayName_;
    std::unique_ptr<XConnection> x_;
    bool shm_ = false;
    bool fixes_ = false;
    std::unique_ptr<Segment> segment_;
    XImage* image_ = nullptr;
    ScreenRect region_;
};

} // namespace wl
