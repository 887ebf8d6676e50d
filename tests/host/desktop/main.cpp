// Runs the desktop tests on a desktop of their own: two RandR monitors side by side and
// a compositing manager, started before the Qt application connects to it. The desktop
// backends of the platform's input, cursor, keyboard and displays are made on it.
#include "DesktopBackends.h"
#include "XDesk.h"

#include "platform/CursorImages.h"
#include "platform/Displays.h"
#include "platform/InputPoster.h"
#include "platform/KeyboardLayout.h"
#include "platform/LocalInput.h"
#include "platform/OneShotTimer.h"
#include "platform/linux/QtTimers.h"
#include "platform/linux/XFixesCursorImages.h"
#include "platform/linux/XInputLocalInput.h"
#include "platform/linux/XRandrDisplays.h"
#include "platform/linux/XTestInputPoster.h"
#include "platform/linux/XkbKeyboardLayout.h"
#include "host/SharedDisplay.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
wl::Platform* desktopPlatform = nullptr;
} // namespace

const wl::Platform& wl::test::desktop()
{
    return *desktopPlatform;
}

int main(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<wl::test::XDesk> desk;
    if (!listing) {
        desk = std::make_unique<wl::test::XDesk>();
        if (!desk->ok()) {
            std::fprintf(stderr, "The test desktop (Xvfb with two monitors, xcompmgr) did not start\n");
            return 1;
        }
        setenv("DISPLAY", desk->display().c_str(), 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int status = 0;
    {
        QApplication app(argc, argv);
        wl::Platform platform;
        platform.timers = wl::qtTimerFactory();
        if (!listing) {
            platform.displays = std::make_shared<wl::XRandrDisplays>();
            platform.inputPoster = std::make_shared<wl::XTestInputPoster>();
            platform.localInput = std::make_shared<wl::XInputLocalInput>();
            platform.cursorImages = std::make_shared<wl::XFixesCursorImages>();
            platform.keyboardLayout = std::make_shared<wl::XkbKeyboardLayout>();
        }
        desktopPlatform = &platform;
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
        desktopPlatform = nullptr;
    }
    return status;
}
