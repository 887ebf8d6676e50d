#include "DeskScreen.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstdlib>

namespace wl::test {

QImage screenshot(int x, int y, int width, int height)
{
    ::Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return {};
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    QImage result(width, height, QImage::Format_RGB32);
    if (image) {
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                result.setPixel(column, row, QRgb(XGetPixel(image, column, row) | 0xff000000));
        XDestroyImage(image);
    }
    XCloseDisplay(dpy);
    return result;
}

void saveForGallery(const QImage& image, const std::string& name)
{
    if (const char* folder = std::getenv("WL_GALLERY_DIR"))
        image.save(QString::fromStdString(std::string(folder) + "/" + name + ".png"), "PNG");
}

bool syncWithX()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return false;
    XSync(x11->display(), False);
    return true;
}

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
        std::abs(a.blue() - b.blue()) <= tolerance;
}

bool isWhitish(const QColor& c)
{
    return c.red() > 200 && c.green() > 200 && c.blue() > 200;
}

int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += near(image.pixelColor(x, y), colour, tolerance) ? 1 : 0;
    return count;
}

int countWhitish(const QImage& image, const QRect& area)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += isWhitish(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

} // namespace wl::test
