// The help request's screenshot on the private Xvfb: the main display as it is, with
// this program's own windows left out, and the text when the screen can't be read.
#include "TestEnvironment.h"
#include "HostFakes.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "ScriptedPrompts.h"
#include "TestDirs.h"
#include "WaitUntil.h"
#include "XScreen.h"

#include "host/HelpRequestCenter.h"
#include "mail/Messenger.h"
#include "platform/Defaults.h"
#include "platform/linux/X11ScreenSource.h"
#include "platform/linux/QtTimers.h"

#include <QImage>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>

namespace wl::test {
namespace {

TEST(HostPlatformScreenshot, TheMainDisplayWithoutThisProgramsWindows)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DISPLAY"), "the test X server");
    XScreen screen;
    ASSERT_TRUE(screen.ok());
    auto defaults = std::make_shared<MemoryDefaults>();
    MessengerOptions options;
    options.identity = MailIdentity::inMemory(defaults, "Host");
    RefusingPort noService;
    options.serviceURL = [&] { return QUrl(QString::fromStdString(noService.httpUrl())); };
    RecordingNotifier notifier;
    ScriptedPrompts prompts;
    options.notifier = &notifier;
    options.prompts = &prompts;
    options.timers = qtTimerFactory();
    Messenger messenger(
        "WLMessages", [] { return std::vector<PairedDevice>{}; }, options);
    TempDir folder;
    HelpRequestCenter::Options centerOptions;
    centerOptions.prompts = &prompts;
    centerOptions.picturesFolder = folder.path() / "Request Pictures";
    centerOptions.screens = [] { return std::make_unique<X11ScreenSource>(); };
    centerOptions.defaults = defaults;
    HelpRequestCenter center(
        messenger, [] { return std::vector<PairedDevice>{}; }, centerOptions);

    screen.fill(0, 0, screen.width(), screen.height(), {230, 120, 30});
    screen.sync();
    // One of this program's windows, on top of the screen.
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.setStyleSheet("background: rgb(20, 200, 20);");
    window.setGeometry(200, 150, 400, 300);
    window.show();
    ASSERT_TRUE(waitUntil([&] {
        return window.isVisible() && window.windowHandle()->isExposed() &&
            window.windowHandle()->geometry() == QRect(200, 150, 400, 300);
    })) << "the X server has the window where it stays";

    center.takeScreenshot();
    ASSERT_TRUE(waitUntil([&] { return center.draft().size() == 1; }, 10000));
    const TransferredFile& shot = center.draft()[0];
    EXPECT_EQ(shot.name.rfind("Screenshot ", 0), 0u) << shot.name;
    EXPECT_GT(shot.name.size(), std::string("Screenshot ").size());
    QImage picture = QImage::fromData(QByteArray::fromStdString(shot.data), "JPEG");
    ASSERT_EQ(picture.size(), QSize(screen.width(), screen.height()));
    const QColor outside = picture.pixelColor(100, 100);
    EXPECT_NEAR(outside.red(), 230, 12);
    EXPECT_NEAR(outside.green(), 120, 12);
    EXPECT_NEAR(outside.blue(), 30, 12);
    const QColor covered = picture.pixelColor(400, 300);
    EXPECT_LT(covered.red() + covered.green() + covered.blue(), 30) << "the program's window is left out";
    EXPECT_FALSE(center.problem());

    // The screen can't be read: nothing is added, and the text says what to check.
    window.hide();
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":4999", 1);
    center.takeScreenshot();
    ASSERT_TRUE(waitUntil([&] { return center.problem().has_value(); }, 10000));
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(*center.problem(), "Couldn't take a screenshot. Is Screen Recording allowed for Wickerlane?");
    EXPECT_EQ(center.draft().size(), 1u);
}

} // namespace
} // namespace wl::test
