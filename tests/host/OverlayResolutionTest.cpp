// The guide overlay when the shared display changes its resolution on the private Xvfb
// (its one output set to a new mode, as a display settings panel does): the window
// covers the screen as it is now and the open card moves beside its point there.
#include "TestEnvironment.h"
#include "ManualTimers.h"
#include "WaitUntil.h"

#include "host/GuideOverlayController.h"
#include "host/GuideOverlayView.h"
#include "host/SuggestionCard.h"
#include "platform/Displays.h"
#include "platform/linux/XRandrDisplays.h"
#include "host/SharedDisplay.h"

#include <QScreen>

#include <gtest/gtest.h>

// After the test framework: X's macros clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace wl::test {
namespace {

// The X screen's size, and setting it with its first output's mode to match.
class Resolution {
public:
    Resolution() : display_(XOpenDisplay(nullptr))
    {
        if (display_)
            original_ = size();
    }
    ~Resolution()
    {
        if (!display_)
            return;
        if (size() != original_)
            set(original_.width(), original_.height());
        XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    QSize size() const
    {
        Window root = None;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(display_, DefaultRootWindow(display_), &root, &x, &y, &width, &height, &border, &depth);
        return QSize(int(width), int(height));
    }

    bool set(int width, int height)
    {
        const Window root = DefaultRootWindow(display_);
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root);
        if (!resources || resources->noutput < 1)
            return false;
        RROutput output = resources->outputs[0];
        XRROutputInfo* info = XRRGetOutputInfo(display_, resources, output);
        const RRCrtc crtc = info ? info->crtc : None;
        if (info)
            XRRFreeOutputInfo(info);
        RRMode mode = None;
        for (int i = 0; i < resources->nmode; ++i)
            if (resources->modes[i].width == unsigned(width) && resources->modes[i].height == unsigned(height))
                mode = resources->modes[i].id;
        if (mode == None) {
            const std::string name = std::to_string(width) + "x" + std::to_string(height);
            XRRModeInfo modeInfo;
            std::memset(&modeInfo, 0, sizeof modeInfo);
            modeInfo.width = unsigned(width);
            modeInfo.height = unsigned(height);
            modeInfo.dotClock = 60ul * unsigned(width) * unsigned(height);
            modeInfo.hTotal = unsigned(width);
            modeInfo.vTotal = unsigned(height);
            modeInfo.name = const_cast<char*>(name.c_str());
            modeInfo.nameLength = int(name.size());
            mode = XRRCreateMode(display_, root, &modeInfo);
            XRRAddOutputMode(display_, output, mode);
        }
        // The screen holds the output's mode at every step.
        const QSize now = size();
        const int wideW = std::max(now.width(), width), wideH = std::max(now.height(), height);
        XGrabServer(display_);
        XRRSetScreenSize(display_, root, wideW, wideH, wideW * 254 / 960, wideH * 254 / 960);
        XRRSetCrtcConfig(display_, resources, crtc, CurrentTime, 0, 0, mode, RR_Rotate_0, &output, 1);
        XRRSetScreenSize(display_, root, width, height, width * 254 / 960, height * 254 / 960);
        XUngrabServer(display_);
        XSync(display_, False);
        XRRFreeScreenResources(resources);
        return size() == QSize(width, height);
    }

private:
    ::Display* display_ = nullptr;
    QSize original_;
};

TEST(HostPlatformOverlay, FollowsANewResolutionOfTheSharedDisplay)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DISPLAY"), "the test X server");
    Resolution resolution;
    ASSERT_TRUE(resolution.ok());
    const QSize original = resolution.size();
    auto displays = std::make_shared<XRandrDisplays>();
    auto shared = std::make_shared<SharedDisplay>(displays);
    {
        ManualTimers timers;
        GuideOverlayController overlay(displays, shared, LocalInput::none(), timers.factory());
        overlay.show(SessionEvent::make(SessionEvent::Kind::pointer, 0.25, 0.25));
        overlay.show(SessionEvent::make(SessionEvent::Kind::suggest, 0.5, 0.5));
        ASSERT_TRUE(overlay.isShown());
        ASSERT_TRUE(overlay.suggestionPanel());
        EXPECT_EQ(overlay.window()->geometry(), QRect(QPoint(0, 0), original));

        auto follows = [&](QSize size) {
            EXPECT_TRUE(waitUntil([&] { return overlay.window()->geometry() == QRect(QPoint(0, 0), size); }, 5000))
                << overlay.window()->geometry().width() << "x" << overlay.window()->geometry().height();
            QScreen* screen = shared->qscreen();
            ASSERT_TRUE(screen);
            SuggestionCard* card = overlay.suggestionPanel();
            ASSERT_TRUE(card);
            EXPECT_EQ(card->geometry().topLeft(),
                      GuideOverlayController::cardOrigin(QPointF(size.width() / 2.0, size.height() / 2.0), card->size(),
                                                         screen->availableGeometry()));
            // What the helper showed stays.
            EXPECT_TRUE(overlay.model.pointer);
            EXPECT_EQ(overlay.model.suggestions.size(), 1u);
        };
        ASSERT_TRUE(resolution.set(1280, 720));
        follows(QSize(1280, 720));
        ASSERT_TRUE(resolution.set(original.width(), original.height()));
        follows(original);
        overlay.hide();
    }
}

} // namespace
} // namespace wl::test
