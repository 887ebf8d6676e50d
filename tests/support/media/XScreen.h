#pragma once
// Test helpers on the private Xvfb: painting the root window, showing plain windows,
// reading the screen back, and comparing a decoded frame with it.

#include <api/video/video_frame.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wl::test {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

class XScreen {
public:
    XScreen();
    // Another X server than $DISPLAY's (a running program's own, ":N").
    explicit XScreen(const std::string& displayName);
    ~XScreen();
    bool ok() const { return display_ != nullptr; }
    int width() const;
    int height() const;

    void fill(int x, int y, int w, int h, Rgb color); // on the root window
    void paintPattern(int seed); // blocks, stripes and text-like detail
    unsigned long showWindow(int x, int y, int w, int h, Rgb color); // mapped and painted
    void destroyWindow(unsigned long window);
    void sync();

    // The screen as B,G,R,X bytes (width*4 per row).
    std::vector<uint8_t> grab(int x, int y, int w, int h);

private:
    void* display_ = nullptr;
};

// Frame → B,G,R,X bytes (full-range BT.601, as the capturer converts).
std::vector<uint8_t> frameToBgrx(const webrtc::VideoFrame& frame);

struct Difference {
    double meanAbs = 0; // per channel
    double largeFraction = 0; // pixels with a channel off by more than the tolerance
};
Difference compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int tolerance);

} // namespace wl::test
