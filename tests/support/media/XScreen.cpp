#include "XScreen.h"

#include <api/video/i420_buffer.h>

#include <libyuv/convert_argb.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace wl::test {

namespace {
Display* D(void* p)
{
    return static_cast<Display*>(p);
}
unsigned long pixel(Rgb c)
{
    return (unsigned long)c.r << 16 | (unsigned long)c.g << 8 | c.b;
}
} // namespace

XScreen::XScreen() : display_(XOpenDisplay(nullptr)) { }

XScreen::XScreen(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) { }

XScreen::~XScreen()
{
    if (display_)
        XCloseDisplay(D(display_));
}

int XScreen::width() const
{
    return DisplayWidth(D(display_), DefaultScreen(D(display_)));
}

int XScreen::height() const
{
    return DisplayHeight(D(display_), DefaultScreen(D(display_)));
}

void XScreen::fill(int x, int y, int w, int h, Rgb color)
{
    Display* d = D(display_);
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetForeground(d, gc, pixel(color));
    XFillRectangle(d, DefaultRootWindow(d), gc, x, y, unsigned(w), unsigned(h));
    XFreeGC(d, gc);
}

void XScreen::paintPattern(int seed)
{
    int w = width(), h = height();
    fill(0, 0, w, h, {236, 236, 236});
    std::srand(unsigned(seed));
    // Big flat blocks like windows, and fine detail like text lines.
    for (int i = 0; i < 12; ++i) {
        int bx = (std::rand() % (w / 2)) & ~1, by = (std::rand() % (h / 2)) & ~1;
        int bw = (w / 8 + std::rand() % (w / 3)) & ~1, bh = (h / 8 + std::rand() % (h / 3)) & ~1;
        fill(bx, by, bw, bh, {uint8_t(std::rand() % 256), uint8_t(std::rand() % 256), uint8_t(std::rand() % 256)});
    }
    for (int line = 0; line < 20; ++line) {
        int y = 40 + line * 24;
        for (int x = 40; x < w / 2; x += 12)
            fill(x, y, 8, 10, {30, 30, 30});
    }
    sync();
}

unsigned long XScreen::showWindow(int x, int y, int w, int h, Rgb color)
{
    Display* d = D(display_);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = pixel(color);
    attributes.override_redirect = True; // no window manager moves it
    Window window = XCreateWindow(d, DefaultRootWindow(d), x, y, unsigned(w), unsigned(h), 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
    XSelectInput(d, window, ExposureMask | StructureNotifyMask);
    XMapRaised(d, window);
    XEvent event;
    do {
        XNextEvent(d, &event);
    } while (event.type != MapNotify || event.xmap.window != window);
    XClearWindow(d, window);
    sync();
    return window;
}

void XScreen::destroyWindow(unsigned long window)
{
    XDestroyWindow(D(display_), Window(window));
    sync();
}

void XScreen::sync()
{
    XSync(D(display_), False);
}

std::vector<uint8_t> XScreen::grab(int x, int y, int w, int h)
{
    Display* d = D(display_);
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
    for (int row = 0; row < h; ++row)
        std::memcpy(out.data() + size_t(row) * size_t(w) * 4, image->data + size_t(row) * size_t(image->bytes_per_line),
                    size_t(w) * 4);
    XDestroyImage(image);
    return out;
}

std::vector<uint8_t> frameToBgrx(const webrtc::VideoFrame& frame)
{
    auto i420 = frame.video_frame_buffer()->ToI420();
    std::vector<uint8_t> out(size_t(i420->width()) * size_t(i420->height()) * 4);
    libyuv::J420ToARGB(i420->DataY(), i420->StrideY(), i420->DataU(), i420->StrideU(), i420->DataV(), i420->StrideV(),
                       out.data(), i420->width() * 4, i420->width(), i420->height());
    return out;
}

Difference compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int tolerance)
{
    Difference result;
    if (a.size() != b.size() || a.empty()) {
        result.meanAbs = 255;
        result.largeFraction = 1;
        return result;
    }
    size_t pixels = a.size() / 4, large = 0;
    double total = 0;
    for (size_t p = 0; p < pixels; ++p) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            int diff = std::abs(int(a[p * 4 + size_t(c)]) - int(b[p * 4 + size_t(c)]));
            total += diff;
            worst = std::max(worst, diff);
        }
        if (worst > tolerance)
            ++large;
    }
    result.meanAbs = total / double(pixels * 3);
    result.largeFraction = double(large) / double(pixels);
    return result;
}

} // namespace wl::test
