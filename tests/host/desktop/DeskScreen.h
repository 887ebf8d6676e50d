#pragma once
// Shared by the desktop tests of the host's windows: the composited screen read back,
// colour checks, and pictures for the gallery ($WL_GALLERY_DIR).
#include "ManualTimers.h"
#include "WaitUntil.h"
#include "XDesk.h"
#include "XInputProbe.h"

#include "platform/Displays.h"
#include "host/SharedDisplay.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>

namespace wl::test {

// The screen as it shows now (composited), from the root window.
QImage screenshot(int x, int y, int width, int height);
// Saves a picture under $WL_GALLERY_DIR when set.
void saveForGallery(const QImage& image, const std::string& name);

// Whether the X server has handled every request this program made so far (a round trip
// on Qt's own connection to it).
bool syncWithX();

bool near(const QColor& a, const QColor& b, int tolerance = 24);
bool isWhitish(const QColor& c);
int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 24);
int countWhitish(const QImage& image, const QRect& area);

} // namespace wl::test
