#include "TestEnvironment.h"
#include "XvfbServer.h"

#include "platform/linux/XConnection.h"
#include "platform/linux/XRandrDisplays.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>

using namespace wl;

namespace {
// The RandR output ids and names as the X server lists them.
std::vector<std::pair<std::uint32_t, std::string>> serverOutputs(const std::string& display)
{
    std::vector<std::pair<std::uint32_t, std::string>> result;
    auto x = XConnection::open(display);
    if (!x)
        return result;
    ::Display* dpy = x->display();
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, x->root());
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
    return result;
}

// Each test on an X server of its own: these tests set an output's EDID and the primary
// output, and other tests resize the shared test server's screen meanwhile.
class X11Displays : public ::testing::Test {
protected:
    void SetUp() override { WL_REQUIRE_TEST_ENV(server.ok(), "Xvfb"); }

    test::XvfbServer server{1280, 720};
};
} // namespace

TEST_F(X11Displays, ListsTheMonitorsOfTheServer)
{
    auto outputs = serverOutputs(server.display());
    ASSERT_FALSE(outputs.empty());

    XRandrDisplays displays(server.display());
    auto list = displays.list();
    ASSERT_EQ(list.size(), outputs.size());
    const wl::Display& main = list.front();
    EXPECT_TRUE(main.main);
    EXPECT_EQ(main.id, outputs.front().first);
    EXPECT_EQ(main.output, outputs.front().second);
    EXPECT_EQ(main.name, outputs.front().second) << "Xvfb's outputs carry no EDID";
    EXPECT_EQ(main.x, 0);
    EXPECT_EQ(main.y, 0);
    EXPECT_EQ(main.width, 1280);
    EXPECT_EQ(main.height, 720);
    EXPECT_EQ(displays.mainDisplayID(), main.id);
    EXPECT_EQ(displays.display(main.id), main);
    EXPECT_EQ(displays.display(main.id + 1000), std::nullopt);
}

TEST_F(X11Displays, ThePrimaryOutputIsTheMainDisplay)
{
    auto outputs = serverOutputs(server.display());
    ASSERT_FALSE(outputs.empty());
    {
        auto x = XConnection::open(server.display());
        ASSERT_TRUE(x);
        XRRSetOutputPrimary(x->display(), x->root(), outputs.back().first);
        x->sync();
    }

    XRandrDisplays displays(server.display());
    auto list = displays.list();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().id, outputs.back().first);
    EXPECT_TRUE(list.front().main);
    for (std::size_t i = 1; i < list.size(); ++i)
        EXPECT_FALSE(list[i].main);
}

namespace {
// A 128-byte EDID base block with the given monitor name descriptor (and a serial
// number descriptor before it, as real monitors have).
std::string edidNamed(const std::string& name)
{
    std::string edid(128, '\0');
    const unsigned char header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    edid.replace(0, 8, reinterpret_cast<const char*>(header), 8);
    auto descriptor = [&](std::size_t at, unsigned char tag, const std::string& text) {
        edid[at + 3] = static_cast<char>(tag);
        std::string body = text.substr(0, 13);
        if (body.size() < 13)
            body += '\n';
        body.resize(13, ' ');
        edid.replace(at + 5, 13, body);
    };
    descriptor(72, 0xff, "SN12345");
    descriptor(90, 0xfc, name);
    return edid;
}
} // namespace

TEST(DisplayNames, TheMonitorNameComesFromTheEDID)
{
    EXPECT_EQ(monitorNameFromEDID(edidNamed("DELL U2720Q")), "DELL U2720Q");
    EXPECT_EQ(monitorNameFromEDID(edidNamed("ThirteenChars")), "ThirteenChars");
    EXPECT_EQ(monitorNameFromEDID(edidNamed("")), std::nullopt);
    std::string noName = edidNamed("X");
    noName[93] = static_cast<char>(0xfd); // the descriptor becomes range limits
    EXPECT_EQ(monitorNameFromEDID(noName), std::nullopt);
    EXPECT_EQ(monitorNameFromEDID(edidNamed("Short").substr(0, 100)), std::nullopt);
    std::string badHeader = edidNamed("Short");
    badHeader[1] = 0;
    EXPECT_EQ(monitorNameFromEDID(badHeader), std::nullopt);
}

TEST_F(X11Displays, AMonitorWithAnEDIDIsNamedAfterIt)
{
    auto outputs = serverOutputs(server.display());
    ASSERT_FALSE(outputs.empty());
    auto x = XConnection::open(server.display());
    ASSERT_TRUE(x);
    ::Display* dpy = x->display();
    Atom edid = XInternAtom(dpy, RR_PROPERTY_RANDR_EDID, False);
    const std::string block = edidNamed("Studio View");
    XRRChangeOutputProperty(dpy, outputs.front().first, edid, XA_INTEGER, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(block.data()), static_cast<int>(block.size()));
    XSync(dpy, False);

    XRandrDisplays displays(server.display());
    auto main = displays.display(outputs.front().first);
    ASSERT_TRUE(main);
    EXPECT_EQ(main->name, "Studio View");
    EXPECT_EQ(main->output, outputs.front().second);
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
