#include "host/WindowTitleRoom.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>

#include <cmath>

namespace wl {

namespace {

// The icon and three buttons of a title bar, with the padding at both ends.
constexpr int kTitleBarControls = 4 * 28 + 2 * 16;

} // namespace

int widthForWindowTitle(const QString& title)
{
    QFont font = QApplication::font();
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.2);
    else
        font.setPixelSize(int(std::lround(font.pixelSize() * 1.2)));
    return QFontMetrics(font).horizontalAdvance(title) + kTitleBarControls;
}

} // namespace wl
