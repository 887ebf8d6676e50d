// Geometry that a person notices when it goes wrong: the Send button of "Send a Password"
// stays where it is whichever lifetime is chosen, the sent help request's window ends
// below its Close button, the session banner stays inside the screen's available area
// and clear of the tray icon, and a window left out of a screenshot takes its window
// manager's frame (title bar and borders) along into the black.
#include "PanelTestKit.h"
#include "TestDirs.h"
#include "XScreen.h"

#include "app/AskForHelpView.h"
#include "app/SendPasswordView.h"
#include "app/ShellPanel.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "host/SessionBannerController.h"
#include "mail/SendPasswordPanelController.h"
#include "media/Screenshot.h"
#include "platform/CaptureExclusion.h"
#include "platform/Defaults.h"
#include "platform/linux/X11ScreenSource.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

// Xlib's macros (None, Status, …) after every other header.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace wl::test {
namespace {

// The work area a window manager publishes, with the top `panel` pixels left to a panel.
void publishWorkArea(::Display* display, int panel)
{
    const Window root = DefaultRootWindow(display);
    const Atom workArea = XInternAtom(display, "_NET_WORKAREA", False);
    if (panel == 0) {
        XDeleteProperty(display, root, workArea);
    } else {
        const long area[4] = {0, panel, DisplayWidth(display, DefaultScreen(display)),
                              DisplayHeight(display, DefaultScreen(display)) - panel};
        XChangeProperty(display, root, workArea, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(area), 4);
    }
    XSync(display, False);
}

TEST(WindowLayout, PanelsAndTheBannerKeepTheirPlaceAndSize)
{
    Computer anna{"Anna Berg"};
    Installation here;
    here.contacts = {anna.record()};
    here.make();
    AskForHelpPanelController askForHelp;
    installShellPanels(*here.passwords, askForHelp, std::make_shared<CaptureExclusion>(), qtTimerFactory());

    {
        SCOPED_TRACE("Send a Password: the Send button stays put across the lifetimes' explanations");
        here.passwords->composer().show(anna.record());
        auto* window = dynamic_cast<SendPasswordPanel*>(here.passwords->composer().panel());
        ASSERT_NE(window, nullptr);
        ShellPanel* panel = window->window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
        auto* send = child<QPushButton>(window->form(), "sendButton");
        ASSERT_NE(send, nullptr);
        std::optional<QPoint> at;
        std::optional<int> height;
        for (const char* lifetime : {"lifetime.once", "lifetime.fifteenMinutes", "lifetime.oneHour", "lifetime.once"}) {
            QTest::mouseClick(child<QPushButton>(window->form(), lifetime), Qt::LeftButton);
            ASSERT_TRUE(waitForNextTurn()) << "the layout has had its pass";
            const QPoint now = send->mapTo(panel, QPoint(0, 0));
            if (!at) {
                at = now;
                height = panel->height();
            }
            EXPECT_EQ(now, *at) << lifetime;
            EXPECT_EQ(panel->height(), *height) << lifetime;
        }
        panel->hide();
    }

    {
        SCOPED_TRACE("the sent help request: the window ends below its Close button");
        TempDir pictures;
        HelpRequestCenter::Options options;
        options.prompts = &here.prompts;
        options.defaults = std::make_shared<MemoryDefaults>();
        options.picturesFolder = pictures.path() / "Request Pictures";
        std::vector<PairedDevice> helpers{anna.record()};
        HelpRequestCenter center(
            *here.messenger, [&] { return helpers; }, options);
        center.setActive({{{anna.id(), "q1"}}, {"Anna Berg"}, "Printer", std::nullopt, kFixtureNow - 60, 0}, {});
        askForHelp.show(center);
        auto* panel = dynamic_cast<ShellPanel*>(askForHelp.panel());
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
        ASSERT_TRUE(waitForNextTurn()) << "the layout has had its pass";
        auto* close = child<QPushButton>(panel, "closeButton");
        ASSERT_NE(close, nullptr);
        const int below = panel->height() - close->mapTo(panel, QPoint(0, close->height())).y();
        EXPECT_LE(below, 22 + 2) << "only the view's margin below the buttons";
        EXPECT_NEAR(panel->height(), panel->sizeHint().height(), 2);
        QPointer<QWidget> gone = panel;
        askForHelp.close();
        EXPECT_TRUE(waitUntil([&] { return gone.isNull(); })) << "the panel goes before its centre";
    }

    {
        SCOPED_TRACE("the session banner: inside the available area, clear of the tray icon");
        ::Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        QScreen* screen = QGuiApplication::primaryScreen();
        // A top panel of 30 pixels, as a window manager publishes it.
        publishWorkArea(display, 30);
        EXPECT_TRUE(waitUntil([&] { return screen->availableGeometry().top() == 30; }));
        const QRect available = screen->availableGeometry();
        // The tray icon at the right end of the available area's top, where the banner
        // would otherwise go.
        const QRect tray(available.right() - 29, available.top() + 2, 24, 24);
        SessionBannerController banner(Displays::none());
        banner.model.helperFirstName = "Anna";
        banner.trayIconGeometry = [tray] { return tray; };
        banner.present({});
        ASSERT_TRUE(banner.panel());
        auto placedAt = [&] { return QRect(banner.panel()->pos(), banner.panel()->size()); };
        EXPECT_TRUE(waitUntil([&] { return available.contains(placedAt()) && !placedAt().intersects(tray); }))
            << "placed once its size is known";
        const QRect placed = placedAt();
        EXPECT_TRUE(available.contains(placed)) << "within the available area";
        EXPECT_FALSE(placed.intersects(tray)) << "clear of the tray icon";
        banner.hide();
        publishWorkArea(display, 0);
        XCloseDisplay(display);
    }
}

// Pixel (x, y) of a screenshot, as R, G, B.
Rgb pixel(const ScreenPicture& picture, int x, int y)
{
    const auto* p = picture.bgrx.data() + (std::size_t(y) * std::size_t(picture.width) + std::size_t(x)) * 4;
    return {p[2], p[1], p[0]};
}

bool black(Rgb c)
{
    return c.r < 8 && c.g < 8 && c.b < 8;
}

TEST(WindowLayout, AWindowLeftOutOfAScreenshotTakesItsFrameAlong)
{
    XScreen screen;
    ASSERT_TRUE(screen.ok());
    screen.fill(0, 0, screen.width(), screen.height(), {255, 255, 255});
    screen.sync();
    ::Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const unsigned long red = 0xff0000, grey = 0xc0c0c0;
    auto window = [&](Window parent, int x, int y, int w, int h, unsigned long colour) {
        Window made = XCreateSimpleWindow(display, parent, x, y, unsigned(w), unsigned(h), 0, 0, colour);
        XMapWindow(display, made);
        return made;
    };

    // A reparenting window manager: the frame (red, with a 30-pixel title bar) holds the
    // client window.
    const Window frame = window(root, 300, 200, 400, 334, red);
    const Window client = window(frame, 2, 30, 396, 302, grey);
    // A window manager that announces its frame extents (left 4, right 4, top 24,
    // bottom 4) and draws the title bar in a window of its own above the client.
    const Window framed = window(root, 900, 230, 300, 200, grey);
    const long extents[4] = {4, 4, 24, 4};
    XChangeProperty(display, framed, XInternAtom(display, "_NET_FRAME_EXTENTS", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(extents), 4);
    const Window titleBar = window(root, 896, 206, 308, 24, red);
    XSync(display, False);
    ASSERT_TRUE(waitUntil([&] {
        for (Window w : {frame, client, framed, titleBar}) {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(display, w, &attributes) || attributes.map_state != IsViewable)
                return false;
        }
        return true;
    }));

    std::string error;
    X11ScreenSource source;
    const auto picture = grabScreenshot(source, 0, {client, framed}, error);
    ASSERT_TRUE(picture) << error;

    EXPECT_TRUE(black(pixel(*picture, 500, 350))) << "the client window";
    EXPECT_TRUE(black(pixel(*picture, 500, 210))) << "the frame's title bar";
    EXPECT_TRUE(black(pixel(*picture, 301, 400))) << "the frame's border";
    EXPECT_TRUE(black(pixel(*picture, 1000, 300))) << "the window with frame extents";
    EXPECT_TRUE(black(pixel(*picture, 1000, 210))) << "its title bar, within the extents";
    const Rgb outside = pixel(*picture, 290, 210);
    EXPECT_EQ(outside.r, 255) << "the desktop beside the frame";
    EXPECT_EQ(outside.g, 255);
    EXPECT_FALSE(black(pixel(*picture, 1000, 440))) << "below the bottom extent";

    for (Window w : {titleBar, framed, frame})
        XDestroyWindow(display, w);
    XCloseDisplay(display);
}

} // namespace
} // namespace wl::test
