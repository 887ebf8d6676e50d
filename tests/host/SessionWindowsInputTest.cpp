// The session's floating windows on the test X server, with and without a compositing
// manager (round or shaped to their outline): after every change of their layout, each
// visible control takes its clicks, as the X server routes them, and the guide overlay
// lets every click through.
#include "TestEnvironment.h"
#include "WaitUntil.h"
#include "XInputProbe.h"

#include "host/GuideOverlayController.h"
#include "host/GuideOverlayView.h"
#include "host/SessionBannerController.h"
#include "host/SharedDisplay.h"
#include "host/SuggestionCard.h"
#include "platform/Displays.h"
#include "platform/LocalInput.h"
#include "platform/linux/QtTimers.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QRegion>
#include <QScreen>

#include <gtest/gtest.h>

// After the test framework: X's macros clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace wl::test {
namespace {

// The test X server's screen, blended by a compositing manager or not.
class ScreenDisplays final : public Displays {
public:
    explicit ScreenDisplays(bool blends) : blends_(blends) { }
    std::vector<Display> list() override
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return {Display{1, "screen", "screen", screen.x(), screen.y(), screen.width(), screen.height(), true}};
    }
    bool blendsTranslucentWindows() override { return blends_; }

private:
    const bool blends_;
};

// Where the X server hands a window the clicks: its input region within its bounding
// shape, in the window's coordinates.
class XShapes {
public:
    XShapes() : display_(XOpenDisplay(nullptr)) { }
    ~XShapes()
    {
        if (display_)
            XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }

    QRegion clickable(const QWidget* window) const
    {
        return shape(window, ShapeInput).intersected(shape(window, ShapeBounding));
    }

private:
    QRegion shape(const QWidget* window, int kind) const
    {
        int count = 0, ordering = 0;
        XRectangle* rects = XShapeGetRectangles(display_, window->winId(), kind, &count, &ordering);
        QRegion region;
        for (int i = 0; i < count; ++i)
            region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
        if (rects)
            XFree(rects);
        return region;
    }

    ::Display* display_;
};

// A point just inside a control's right edge, in its window's coordinates.
QPoint rightEdge(const QWidget* control)
{
    return control->mapTo(control->window(), QPoint(control->width() - 3, control->height() / 2));
}

// Whether every visible control of a window takes a click at its right edge.
bool controlsTakeClicks(const XShapes& x, const QWidget* window)
{
    const QRegion clickable = x.clickable(window);
    for (const QAbstractButton* control : window->findChildren<QAbstractButton*>())
        if (control->isVisible() && !clickable.contains(rightEdge(control)))
            return false;
    return true;
}

TEST(SessionWindowsInput, EveryVisibleControlTakesItsClicksAfterEachLayout)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DISPLAY"), "the test X server");
    XShapes x;
    ASSERT_TRUE(x.ok());
    LocalUser user("");
    ASSERT_TRUE(user.ok());

    for (const bool compositing : {true, false}) {
        SCOPED_TRACE(compositing ? "with a compositing manager" : "shaped to the outline");
        auto displays = std::make_shared<ScreenDisplays>(compositing);

        // Take-over: the banner lets the helper's clicks through, then the user moves the
        // mouse: it takes clicks again and widens for "You have the mouse".
        std::vector<std::string> calls;
        SessionBannerController banner(displays);
        banner.model.helperFirstName = "Ada";
        banner.model.mode = HelpMode::control;
        SessionBannerController::Actions actions;
        actions.onToggleControl = [&] { calls.push_back("control"); };
        actions.onToggleMicrophone = [&] { calls.push_back("microphone"); };
        actions.onAskEachTime = [&] { calls.push_back("ask"); };
        actions.onStop = [&] { calls.push_back("stop"); };
        banner.present(actions);
        SessionBannerView* view = banner.panel();
        ASSERT_TRUE(view);
        EXPECT_EQ(view->isShapedToOutline(), !compositing);
        banner.setIgnoresMouseEvents(true);
        ASSERT_TRUE(waitUntil([&] { return x.clickable(view).isEmpty(); }, 10000));
        const int narrow = view->width();
        banner.setIgnoresMouseEvents(false);
        banner.model.localActive = true;
        banner.refreshPlacement();
        ASSERT_GT(view->width(), narrow);
        EXPECT_TRUE(waitUntil([&] { return controlsTakeClicks(x, view); }, 10000));
        // A real click at Stop's right edge is the banner's.
        const QPoint stop = view->mapToGlobal(rightEdge(view->stopButton()));
        user.moveTo(stop.x(), stop.y());
        user.click(1);
        EXPECT_TRUE(waitUntil([&] { return !calls.empty(); }, 10000));
        EXPECT_EQ(calls, std::vector<std::string>{"stop"});

        // Handed back, the helper's clicks going through: wider still, with "Ask each time".
        banner.model.mode = HelpMode::guide;
        banner.model.localActive = false;
        banner.model.clicksGoThrough = true;
        banner.refreshPlacement();
        EXPECT_TRUE(view->askEachTimeButton()->isVisible());
        EXPECT_TRUE(waitUntil([&] { return controlsTakeClicks(x, view); }, 10000));
        banner.hide();

        // The suggestion card takes its clicks; the overlay under it lets every click through.
        {
            auto shared = std::make_shared<SharedDisplay>(displays);
            shared->set(1);
            GuideOverlayController overlay(displays, shared, LocalInput::none(), qtTimerFactory());
            overlay.show(SessionEvent::make(SessionEvent::Kind::pointer, 0.3, 0.3));
            overlay.show(SessionEvent::make(SessionEvent::Kind::suggest, 0.5, 0.5));
            ASSERT_TRUE(overlay.suggestionPanel() && overlay.window());
            EXPECT_TRUE(waitUntil([&] { return controlsTakeClicks(x, overlay.suggestionPanel()); }, 10000));
            EXPECT_TRUE(waitUntil(
                [&] { return overlay.window()->isVisible() && x.clickable(overlay.window()).isEmpty(); }, 10000));
            overlay.hide();
        }
        // The hidden windows, deleted on a later turn of the loop, outlive their owner:
        // nothing of them may read it now.
        EXPECT_TRUE(waitForNextTurn());
    }
}

} // namespace
} // namespace wl::test
