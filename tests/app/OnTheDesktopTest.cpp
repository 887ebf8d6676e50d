// The password windows on the real X11 desktop of the tests (Xvfb): the concealed copy
// read by another program (xclip), wiped after its minute only while nothing replaced
// it, and the capture exclusion: with a password on screen, the frame captured for a
// session shows the Passwords panel's rectangle black while an ordinary window beside it
// stays visible. The captured frame is kept in the gallery folder to be looked at. The
// ask-for-help window there too: a picture another program offers on the clipboard,
// read within the limits, and the window's screenshot, which leaves the window out.
#include "TestEnvironment.h"
#include "LoopbackPeers.h"
#include "ManualTimers.h"
#include "PanelTestKit.h"
#include "TestDirs.h"
#include "XScreen.h"

#include "app/AskForHelpView.h"
#include "app/ConcealedCopy.h"
#include "app/PasswordsView.h"
#include "app/ShellPanel.h"
#include "platform/CaptureExclusion.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "mail/PasswordsPanelController.h"
#include "media/ScreenCapturer.h"
#include "media/ScreenVideoSource.h"
#include "platform/Defaults.h"
#include "platform/linux/X11ScreenSource.h"

#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <future>
#include <optional>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kMinute{60000};

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// What another program reads from the clipboard (empty when nothing is offered). The
// event loop runs meanwhile, so this program can answer.
std::string readClipboard(const QString& target = QString())
{
    QProcess xclip;
    QStringList arguments{"-selection", "clipboard", "-o"};
    if (!target.isEmpty())
        arguments << "-t" << target;
    xclip.start(QStringLiteral("xclip"), arguments);
    if (!xclip.waitForStarted(5000))
        return "<xclip did not start>";
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5000);
    if (xclip.state() != QProcess::NotRunning) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return "<xclip did not finish>";
    }
    return xclip.readAllStandardOutput().toStdString();
}

class OnTheDesktopConcealedCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        WL_REQUIRE_TEST_ENV(onX11(), "the test desktop");
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            << "xclip is installed by scripts/install-deps";
    }
    ManualTimers timers;
};

TEST_F(OnTheDesktopConcealedCopy, LeftAloneItIsMarkedAndWipedAfterAMinute)
{
    copyConcealed("hunter2", timers.factory());
    EXPECT_EQ(readClipboard(), "hunter2");
    const std::string targets = readClipboard(QStringLiteral("TARGETS"));
    EXPECT_NE(targets.find("x-kde-passwordManagerHint"), std::string::npos) << targets;
    EXPECT_EQ(readClipboard(QStringLiteral("x-kde-passwordManagerHint")), "secret");
    ASSERT_EQ(timers.delays().back(), kMinute);

    ASSERT_TRUE(timers.fireNext(kMinute));
    EXPECT_EQ(readClipboard(), "") << "wiped";
    EXPECT_EQ(readClipboard(QStringLiteral("x-kde-passwordManagerHint")), "");
}

TEST_F(OnTheDesktopConcealedCopy, WhatAnotherProgramCopiedStays)
{
    copyConcealed("hunter2", timers.factory());
    ASSERT_EQ(readClipboard(), "hunter2");

    QProcess other; // holds the clipboard until something else takes it
    other.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i", "-quiet"});
    ASSERT_TRUE(other.waitForStarted(5000));
    other.write("copied elsewhere");
    other.closeWriteChannel();
    ASSERT_TRUE(waitUntil([&] { return readClipboard() == "copied elsewhere"; }, 5000));

    // The check runs inside fireNext; a wrong wipe would reach the X server before the read.
    ASSERT_TRUE(timers.fireNext(kMinute));
    EXPECT_EQ(readClipboard(), "copied elsewhere");

    QGuiApplication::clipboard()->clear(); // takes the clipboard back; the other xclip ends
    if (!other.waitForFinished(3000))
        other.kill();
}

TEST_F(OnTheDesktopConcealedCopy, OnlyTheLatestCopyOfOurOwnIsWiped)
{
    copyConcealed("first", timers.factory());
    copyConcealed("second", timers.factory());
    ASSERT_EQ(readClipboard(), "second");
    ASSERT_TRUE(timers.fireNext(kMinute)); // the first copy's minute
    EXPECT_EQ(readClipboard(), "second");
    ASSERT_TRUE(timers.fireNext(kMinute)); // the second's
    EXPECT_EQ(readClipboard(), "");

    // A plain copy after a concealed one also keeps its text.
    copyConcealed("third", timers.factory());
    QGuiApplication::clipboard()->setText("plain");
    ASSERT_TRUE(timers.fireNext(kMinute));
    EXPECT_EQ(readClipboard(), "plain");
}

// A PNG that says it is `side` pixels square and holds no pixel data worth the name.
QByteArray pngClaiming(quint32 side)
{
    auto crc32 = [](const QByteArray& bytes) {
        quint32 crc = 0xffffffffu;
        for (char c : bytes) {
            crc ^= static_cast<quint8>(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    auto be32 = [](quint32 v) {
        QByteArray out(4, '\0');
        for (int i = 0; i < 4; ++i)
            out[i] = static_cast<char>((v >> (24 - 8 * i)) & 0xff);
        return out;
    };
    auto chunk = [&](const char* type, const QByteArray& body) {
        const QByteArray typed = QByteArray(type) + body;
        return be32(static_cast<quint32>(body.size())) + typed + be32(crc32(typed));
    };
    QByteArray header = be32(side) + be32(side);
    header.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0)); // 8-bit RGBA
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", QByteArray(16, '\0')) +
        chunk("IEND", {});
}

// Offers the file on the clipboard as another program does, until something takes it.
class OtherProgramsClipboard {
public:
    OtherProgramsClipboard(const QString& path, const QString& type)
    {
        xclip_.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", type, "-i", "-quiet", path});
        xclip_.waitForStarted(5000);
    }
    ~OtherProgramsClipboard()
    {
        QGuiApplication::clipboard()->clear();
        if (!xclip_.waitForFinished(3000))
            xclip_.kill();
    }

private:
    QProcess xclip_;
};

// A white desktop behind the windows, painted once they stand where they stay.
void whiteDesktopBehind(XScreen& screen, std::initializer_list<QWidget*> windows)
{
    EXPECT_TRUE(waitUntil([&] {
        return std::all_of(windows.begin(), windows.end(), [](QWidget* window) {
            return window->windowHandle() && window->windowHandle()->isExposed() &&
                window->windowHandle()->geometry() == window->geometry();
        });
    })) << "the X server has the windows where they stay";
    screen.fill(0, 0, screen.width(), screen.height(), {255, 255, 255});
    screen.sync();
    for (QWidget* window : windows)
        window->update();
    EXPECT_TRUE(waitForNextTurn()) << "they have drawn themselves again";
}

// A help request centre of the test's own: its settings in memory, its pictures in a
// temporary folder.
struct OwnRequestCentre {
    OwnRequestCentre(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers)
    {
        HelpRequestCenter::Options options;
        options.prompts = &prompts;
        options.defaults = std::make_shared<MemoryDefaults>();
        options.picturesFolder = folder.path() / "Request Pictures";
        options.screens = [] { return std::make_unique<X11ScreenSource>(); };
        center.emplace(messenger, std::move(helpers), options);
    }
    ~OwnRequestCentre() { center.reset(); }
    HelpRequestCenter* operator->() { return &*center; }
    HelpRequestCenter& operator*() { return *center; }

    TempDir folder;
    ScriptedPrompts prompts;
    std::optional<HelpRequestCenter> center;
};

TEST(OnTheDesktopPaste, AnotherProgramsPictureIsReadWithinTheLimits)
{
    WL_REQUIRE_TEST_ENV(onX11(), "the test desktop");
    Installation here;
    here.make();
    std::vector<PairedDevice> helpers;
    OwnRequestCentre center(*here.messenger, [&] { return helpers; });
    TempDir dir;
    auto offered = [] {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        return data && data->formats().contains(QStringLiteral("image/png"));
    };

    const QString good = QString::fromStdString((dir.path() / "good.png").string());
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(QColor(30, 140, 90));
    ASSERT_TRUE(image.save(good, "PNG"));
    {
        OtherProgramsClipboard other(good, QStringLiteral("image/png"));
        ASSERT_TRUE(waitUntil(offered, 5000));
        EXPECT_TRUE(center->addDropped(*QGuiApplication::clipboard()->mimeData()));
        ASSERT_EQ(center->draft().size(), 1u);
        EXPECT_EQ(center->draft()[0].name, "Picture");
        EXPECT_EQ(center->draft()[0].type, "image/jpeg");
        EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(center->draft()[0].data), "JPEG").size(), QSize(300, 200));
        EXPECT_FALSE(center->problem());
    }

    // A picture that claims 60000 x 60000 pixels is refused before it is decoded: taken,
    // left out, and the problem line says why.
    const QString huge = QString::fromStdString((dir.path() / "huge.png").string());
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(pngClaiming(60000));
    }
    {
        OtherProgramsClipboard other(huge, QStringLiteral("image/png"));
        ASSERT_TRUE(waitUntil(offered, 5000));
        EXPECT_TRUE(center->addDropped(*QGuiApplication::clipboard()->mimeData())) << "taken, then left out";
        EXPECT_EQ(center->draft().size(), 1u);
        EXPECT_EQ(center->problem(),
                  std::optional<std::string>("\u201cPicture\u201d is too large to add: a picture can be at most "
                                             "16384 pixels wide or high, and 50 million pixels in all."));
    }
}

// The ask-for-help window's Screenshot tile: the picture of the main display leaves the
// window itself out (black where it stands), keeps the desktop beside it, and shows up in
// the window as the draft's first picture.
TEST(OnTheDesktopScreenshot, TheAskForHelpWindowLeavesItselfOut)
{
    WL_REQUIRE_TEST_ENV(onX11(), "the test desktop");
    XScreen screen;
    ASSERT_TRUE(screen.ok());
    Computer anna{"Anna Berg"};
    Installation here;
    here.contacts = {anna.record()};
    here.make();
    OwnRequestCentre center(*here.messenger, [&] { return here.contacts; });
    AskForHelpPanelController askForHelp;
    installShellPanels(*here.passwords, askForHelp, std::make_shared<CaptureExclusion>(), qtTimerFactory());
    askForHelp.show(*center);
    auto* panel = dynamic_cast<ShellPanel*>(askForHelp.panel());
    ASSERT_NE(panel, nullptr);
    panel->move(100, 100);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    whiteDesktopBehind(screen, {panel});
    const QRect area = panel->frameGeometry();

    auto mean = [](const QImage& image, QRect rect) {
        rect = rect.intersected(image.rect());
        double total = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                total += qGray(image.pixel(x, y));
        return total / (rect.width() * rect.height());
    };
    ASSERT_GT(mean(panel->grab().toImage(), panel->rect()), 15) << "the window itself is not black";

    QTest::mouseClick(child<QPushButton>(panel->view(), "screenshotTile"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !center->draft().empty(); }, 10000)) << center->problem().value_or("");
    EXPECT_FALSE(center->problem());
    EXPECT_EQ(center->draft()[0].name.rfind("Screenshot ", 0), 0u) << center->draft()[0].name;
    QImage shot;
    ASSERT_TRUE(shot.loadFromData(QByteArray::fromStdString(center->draft()[0].data), "JPEG"));
    ASSERT_EQ(shot.width(), screen.width());
    EXPECT_LT(mean(shot, area.adjusted(8, 8, -8, -8)), 6) << "the ask-for-help window is left out";
    EXPECT_GT(mean(shot, QRect(area.right() + 40, area.top() + 10, 100, 180)), 240)
        << "the desktop beside it is in the picture";
    ASSERT_TRUE(waitUntil([&] { return child<QWidget>(panel->view(), "picture.0") != nullptr; }));
    auto* thumbnail = child<QWidget>(panel->view(), "picture.0");
    EXPECT_TRUE(thumbnail->isVisibleTo(panel->view()));
    if (const char* gallery = std::getenv("WL_GALLERY_DIR"))
        shot.copy(0, 0, 1100, 760).save(QString::fromUtf8(gallery) + "/screenshot-ask-for-help-left-out.png");
    QPointer<QWidget> gone = panel;
    askForHelp.close();
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); })) << "the panel goes before the centre it shows";
}

int maxLuma(const webrtc::VideoFrame& frame, QRect area)
{
    auto i420 = frame.video_frame_buffer()->ToI420();
    area = area.intersected(QRect(0, 0, i420->width(), i420->height()));
    int best = 0;
    for (int row = area.top(); row <= area.bottom(); ++row)
        for (int col = area.left(); col <= area.right(); ++col)
            best = std::max<int>(best, i420->DataY()[row * i420->StrideY() + col]);
    return best;
}

TEST(OnTheDesktopCaptureExclusion, ARevealedPasswordIsBlackInTheSessionsPicture)
{
    WL_REQUIRE_TEST_ENV(onX11(), "the test desktop");
    XScreen screen;
    ASSERT_TRUE(screen.ok());

    Computer anna{"Anna Berg"};
    Installation here;
    here.contacts = {anna.record()};
    here.make({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", kFixtureNow + 3600)});
    AskForHelpPanelController askForHelp;
    const auto exclusion = std::make_shared<CaptureExclusion>();
    installShellPanels(*here.passwords, askForHelp, exclusion, qtTimerFactory());
    here.passwords->panel().show();
    auto* passwords = dynamic_cast<ShellPanel*>(here.passwords->panel().panel());
    ASSERT_NE(passwords, nullptr);
    passwords->move(100, 100);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(passwords));
    auto* view = qobject_cast<PasswordsView*>(passwords->view());
    here.ownerCheck.answer(true);
    QTest::mouseClick(child<QPushButton>(view->card("r1"), "showButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return view->card("r1")->isRevealed(); }));

    // An ordinary window of the program beside it, which the helper may see.
    OwnRequestCentre center(*here.messenger, [&] { return here.contacts; });
    askForHelp.show(*center);
    auto* ask = dynamic_cast<ShellPanel*>(askForHelp.panel());
    ASSERT_NE(ask, nullptr);
    ask->move(600, 100);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ask));
    whiteDesktopBehind(screen, {passwords, ask});
    const QRect excluded = passwords->geometry();
    const QRect visible = ask->geometry();

    auto source = ScreenVideoSource::create();
    FrameSink sink;
    rtc::VideoSourceInterface<webrtc::VideoFrame>* asSource = source.get();
    asSource->AddOrUpdateSink(&sink, rtc::VideoSinkWants());
    {
        ScreenCapturer capturer(source, std::make_unique<X11ScreenSource>(), exclusion, std::make_shared<FramePool>(),
                                std::make_shared<VideoFeedback>());
        std::promise<void> started;
        capturer.start(0, false, [&] { started.set_value(); });
        ASSERT_EQ(started.get_future().wait_for(5s), std::future_status::ready);
        auto frame = sink.waitFor(
            [&](const webrtc::VideoFrame& f) { return maxLuma(f, excluded) < 8 && maxLuma(f, visible) > 150; }, 5s);
        ASSERT_TRUE(frame.has_value()) << "the Passwords panel is black, the other window shows";
        EXPECT_GT(maxLuma(*frame, QRect(excluded.right() + 20, excluded.top(), 40, 40)), 230)
            << "the screen around it is untouched";
        if (const char* dir = std::getenv("WL_GALLERY_DIR")) {
            const auto bgrx = frameToBgrx(*frame);
            QImage image(bgrx.data(), frame->width(), frame->height(), frame->width() * 4, QImage::Format_RGB32);
            image.copy(0, 0, 1100, 760).save(QString::fromUtf8(dir) + "/capture-password-panel-excluded.png");
        }
    }
    asSource->RemoveSink(&sink);
    EXPECT_TRUE(view->card("r1")->isRevealed()) << "on this screen the password still shows";
    QPointer<QWidget> gone = ask;
    askForHelp.close();
    EXPECT_TRUE(waitUntil([&] { return gone.isNull(); })) << "the panel goes before the centre it shows";
}

} // namespace
} // namespace wl::test
