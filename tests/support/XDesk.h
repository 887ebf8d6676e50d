#pragma once
// A private desktop for tests of the host's on-screen parts: an Xvfb whose one screen
// is split into two RandR monitors side by side (the left one primary; Xvfb has a
// single RandR output, so the right one is a monitor of its own without an output) and
// a compositing manager (xcompmgr), so translucent windows are blended as on a desktop.
// Everything ends with this object.
#include "XvfbServer.h"

#include <string>
#include <sys/types.h>

namespace wl::test {

struct DeskRect {
    int x = 0, y = 0, width = 0, height = 0;
};

class XDesk {
public:
    static constexpr DeskRect kLeft{0, 0, 1280, 720};
    static constexpr DeskRect kRight{1280, 0, 1024, 768};

    XDesk();
    ~XDesk();
    XDesk(const XDesk&) = delete;
    XDesk& operator=(const XDesk&) = delete;

    bool ok() const { return ok_; }
    const std::string& display() const { return xvfb_.display(); }

private:
    XvfbServer xvfb_;
    pid_t compositor_ = -1;
    bool ok_ = false;
};

} // namespace wl::test
