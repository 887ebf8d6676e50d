// The password windows on the real X11 desktop of the tests (Xvfb): the concealed copy
// read by another program (xclip), wiped after its minute only while nothing replaced
// it, and the capture exclusion: with a password on screen, the frame captured for a
// session shows the Passwords panel's rectangle black while an ordinary window beside it
// stays visible. The captured frame is kept in the gallery folder to be looked at.
#include "LoopbackPeers.h"
#include "ManualTimers.h"
#include "PanelTestKit.h"
#include "XScreen.h"

#include "app/AskForHelpView.h"
#include "app/ConcealedCopy.h"
#include "app/PasswordsView.h"
#include "app/ShellPanel.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "mail/PasswordsPanelController.h"
#include "media/ScreenCapturer.h"
#include "media/ScreenVideoSource.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <future>

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
        if (!onX11())
            GTEST_SKIP() << "needs the test desktop (scripts/with-test-env)";
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

    ASSERT_TRUE(timers.fireNext(kMinute));
    processEventsFor(20);
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
    if (!onX11())
        GTEST_SKIP() << "needs the test desktop (scripts/with-test-env)";
    XScreen screen;
    ASSERT_TRUE(screen.ok());

    Computer anna{"Anna Berg"};
    Installation here;
    here.contacts = {anna.record()};
    here.make({here.receivedPassword(anna, "r1", "Wi-Fi", "oneHour", kFixtureNow + 3600)});
    AskForHelpPanelController askForHelp;
    installShellPanels(*here.passwords, askForHelp);
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
    HelpRequestCenter center(*here.messenger, [&] { return here.contacts; });
    askForHelp.show(center);
    auto* ask = dynamic_cast<ShellPanel*>(askForHelp.panel());
    ASSERT_NE(ask, nullptr);
    ask->move(600, 100);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ask));
    processEventsFor(200);
    // A white desktop behind them, painted once the windows stand where they stay.
    screen.fill(0, 0, screen.width(), screen.height(), {255, 255, 255});
    screen.sync();
    passwords->update();
    ask->update();
    processEventsFor(200);
    const QRect excluded = passwords->geometry();
    const QRect visible = ask->geometry();

    auto source = ScreenVideoSource::create();
    FrameSink sink;
    rtc::VideoSourceInterface<webrtc::VideoFrame>* asSource = source.get();
    asSource->AddOrUpdateSink(&sink, rtc::VideoSinkWants());
    {
        ScreenCapturer capturer(source);
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
    askForHelp.close();
    processEventsFor(5);
}

} // namespace
} // namespace wl::test
