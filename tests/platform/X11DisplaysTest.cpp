#include "platform/linux/XRandrDisplays.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>

using namespace wl;

namespace {
// The RandR output ids and names as the X server lists them.
std::vector<std::pair<std::uint32_t, std::string>> serverOutputs()
{
    std::vector<std::pair<std::uint32_t, std::string>> result;
    ::Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return result;
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int i = 0; resources && i < resources->noutput; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(dpy, resources, resources->outputs[i]);
        if (info && info->connection == RR_Connected)
            result.emplace_back(static_cast<std::uint32_t>(resources->outputs[i]),
                                std::string(info->name, static_cast<std::size_t>(info->nameLen)));
        if (info)
            XRRFreeOutputInfo(info);
    }
    if (resources)
        XRRFreeScreenResources(resources);
    XCloseDisplay(dpy);
    return result;
}
} // namespace

TEST(X11Displays, ListsTheMonitorsOfTheServer)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs the test X server";
    auto outputs = serverOutputs();
    ASSERT_FALSE(outputs.empty());

    XRandrDisplays displays;
    auto list = displays.list();
    ASSERT_EQ(list.size(), outputs.size());
    const wl::Display& main = list.front();
    EXPECT_TRUE(main.main);
    EXPECT_EQ(main.id, outputs.front().first);
    EXPECT_EQ(main.name, outputs.front().second);
    EXPECT_EQ(main.x, 0);
    EXPECT_EQ(main.y, 0);
    EXPECT_EQ(main.width, 1920); // the test server's screen (scripts/with-test-env)
    EXPECT_EQ(main.height, 1080);
    EXPECT_EQ(displays.mainDisplayID(), main.id);
    EXPECT_EQ(displays.display(main.id), main);
    EXPECT_EQ(displays.display(main.id + 1000), std::nullopt);
}

TEST(X11Displays, ThePrimaryOutputIsTheMainDisplay)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs the test X server";
    auto outputs = serverOutputs();
    ASSERT_FALSE(outputs.empty());
    ::Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XRRSetOutputPrimary(dpy, DefaultRootWindow(dpy), outputs.back().first);
    XSync(dpy, False);
    XCloseDisplay(dpy);

    XRandrDisplays displays;
    auto list = displays.list();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().id, outputs.back().first);
    EXPECT_TRUE(list.front().main);
    for (std::size_t i = 1; i < list.size(); ++i)
        EXPECT_FALSE(list[i].main);
}

TEST(DisplaysWatch, ScreenSignalsReachTheObservers)
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    XRandrDisplays displays;
    int changes = 0;
    int token = displays.addObserver([&] { ++changes; });
    Q_EMIT app->primaryScreenChanged(QGuiApplication::primaryScreen());
    EXPECT_EQ(changes, 1);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        Q_EMIT screen->geometryChanged(screen->geometry());
        EXPECT_EQ(changes, 2);
    }
    displays.removeObserver(token);
    Q_EMIT app->primaryScreenChanged(QGuiApplication::primaryScreen());
    EXPECT_EQ(changes, 2);
}
