// The helper's window in each of its screens, and the pairing sheet in each of its
// states: what they say, which controls they offer, and (with WL_GALLERY_DIR set) a
// picture of each for people to look at.
#include "ViewerTestKit.h"

#include "media/DecodedPictureSink.h"
#include "viewer/FrameLayer.h"
#include "viewer/PairingSheet.h"
#include "viewer/RemoteScreenView.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerPeer.h"
#include "viewer/ViewerRootView.h"

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>

#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace wl::test {
namespace {

using Kind = SignalMessage::Kind;

void snapshot(QWidget& widget, const std::string& name)
{
    const char* folder = std::getenv("WL_GALLERY_DIR");
    widget.show();
    waitForNextTurn(); // the layout's pass
    if (!folder)
        return;
    widget.grab().save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

// A picture like a desktop: a bar, windows, text-like lines.
webrtc::VideoFrame desktopFrame(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(52, 101, 164));
    painter.fillRect(0, 0, w, 24, QColor(30, 30, 30));
    painter.fillRect(w / 8, h / 6, w / 2, h / 2, QColor(245, 245, 245));
    painter.fillRect(w / 8, h / 6, w / 2, 22, QColor(200, 200, 200));
    for (int i = 0; i < 8; ++i)
        painter.fillRect(w / 8 + 20, h / 6 + 40 + i * 18, (w / 2 - 40) * (5 + i % 3) / 8, 8, QColor(90, 90, 90));
    painter.fillRect(w * 2 / 3, h / 2, w / 4, h / 3, QColor(230, 80, 60));
    painter.end();
    auto buffer = webrtc::I420Buffer::Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            QColor c = image.pixelColor(x, y);
            // Full-range BT.709 (what a frame without a colour space is taken as).
            double Y = 0.2126 * c.red() + 0.7152 * c.green() + 0.0722 * c.blue();
            buffer->MutableDataY()[y * buffer->StrideY() + x] = uint8_t(std::clamp(Y, 0.0, 255.0));
            if (x % 2 == 0 && y % 2 == 0) {
                double U = (c.blue() - Y) / 1.8556 + 128, V = (c.red() - Y) / 1.5748 + 128;
                buffer->MutableDataU()[(y / 2) * buffer->StrideU() + x / 2] = uint8_t(std::clamp(U, 0.0, 255.0));
                buffer->MutableDataV()[(y / 2) * buffer->StrideV() + x / 2] = uint8_t(std::clamp(V, 0.0, 255.0));
            }
        }
    return webrtc::VideoFrame::Builder().set_video_frame_buffer(buffer).set_timestamp_us(0).build();
}

class ViewerViews : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.defaults->setBool("WLLoopbackOnly", true); // the peer gathers nothing beyond this machine
        rig.defaults->setStringList("WLSTUNServers", {});
        PairedDevice mom = host.record();
        mom.person = "Mom";
        PairedDevice work = other.record();
        rig.pair({mom, work});
        rig.makesPeers = true;
        rig.make();
        rig.viewer->hosts().setOnline(true, host.record());
    }

    void accept()
    {
        rig.viewer->session().connect(host.record(), false);
        rig.transport().deliver(host.challenge(rig.helperNonce()));
        rig.transport().deliver(SignalMessage::make(Kind::accepted));
    }

    ViewerRig rig;
    FakeHost host{"Mom's iMac"};
    FakeHost other{"Work laptop"};
};

TEST_F(ViewerViews, EachScreenOfTheWindow)
{
    ViewerRootView view(*rig.viewer, new QWidget);
    view.resize(900, 560);
    EXPECT_EQ(view.screenName(), "browsing");
    snapshot(view, "root-browsing");

    rig.viewer->session().connect(host.record(), false);
    EXPECT_EQ(view.screenName(), "waiting");
    EXPECT_EQ(view.waitingText(), "Waiting for Mom's iMac to allow access");
    snapshot(view, "root-waiting");

    rig.transport().deliver(host.challenge(rig.helperNonce()));
    rig.transport().deliver(SignalMessage::make(Kind::accepted));
    ASSERT_EQ(view.screenName(), "connected");
    ASSERT_TRUE(view.remoteScreen());
    rig.viewer->session().peer()->renderer().renderPicture(wl::decodedPicture(desktopFrame(1280, 720)));
    ASSERT_TRUE(waitUntil([&] { return view.remoteScreen()->layer()->enqueued() == 1; }));
    rig.viewer->session().setConnectionInfo(
        "Connected \u00b7 30 fps \u00b7 H265 \u00b7 5120 KB in \u00b7 900 decoded \u00b7 Direct");
    EXPECT_EQ(view.modeText(), "Guide \u00b7 click to suggest");
    EXPECT_EQ(view.takeOverText(), "Ask to Take Over");
    EXPECT_FALSE(view.displayChooserShown());
    snapshot(view, "root-connected-guide");

    // Two displays and none reported shared: the chooser reads "Screen".
    SessionEvent displays = SessionEvent::make(SessionEvent::Kind::displays);
    displays.displays = std::vector<DisplayInfo>{{1, "Built-in Display", 1920, 1080}, {2, "DELL U2720Q", 2560, 1440}};
    rig.viewer->session().handleEvent(displays);
    EXPECT_TRUE(view.displayChooserShown());
    EXPECT_EQ(view.displayChooserText(), "\u25a3 Screen");
    displays.displayID = 2;
    rig.viewer->session().handleEvent(displays);
    EXPECT_EQ(view.displayChooserText(), "\u25a3 DELL U2720Q");

    // The bar keeps its widgets: the open screen menu keeps its items through the status
    // line's ticks and the session's other changes.
    auto* chooser = view.findChild<QToolButton*>(QStringLiteral("displayChooser"));
    ASSERT_TRUE(chooser);
    const QList<QAction*> items = chooser->menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[1]->isChecked());
    QPointer<QAction> builtIn = items[0];
    const QList<QPushButton*> buttons = view.findChildren<QPushButton*>();
    chooser->menu()->popup(chooser->mapToGlobal(QPoint(0, chooser->height())));
    ASSERT_TRUE(waitUntil([&] { return chooser->menu()->isVisible(); }));
    rig.viewer->session().setConnectionInfo("Connected \u00b7 29 fps \u00b7 H265 \u00b7 Direct");
    SessionEvent theirMic = SessionEvent::make(SessionEvent::Kind::microphone);
    theirMic.active = true;
    rig.viewer->session().handleEvent(theirMic);
    ASSERT_TRUE(waitForNextTurn()) << "the changes are in";
    EXPECT_EQ(view.statusText(), "Connected \u00b7 29 fps \u00b7 H265 \u00b7 Direct");
    EXPECT_TRUE(builtIn);
    EXPECT_EQ(chooser->menu()->actions(), items);
    EXPECT_TRUE(chooser->menu()->isVisible());
    EXPECT_EQ(view.findChildren<QPushButton*>(), buttons);
    chooser->menu()->close();

    // Asking to take over: "Asking…", disabled, until the host answers.
    rig.viewer->session().requestControl();
    EXPECT_EQ(view.takeOverText(), "Asking\u2026");
    EXPECT_FALSE(view.takeOverEnabled());
    SessionEvent notice = SessionEvent::make(SessionEvent::Kind::notice);
    notice.text = "Mom said not now to taking over.";
    rig.viewer->session().handleEvent(notice);
    EXPECT_EQ(view.takeOverText(), "Ask to Take Over");
    EXPECT_EQ(view.noticeText(), "Mom said not now to taking over.");
    snapshot(view, "root-connected-notice");

    SessionEvent control = SessionEvent::make(SessionEvent::Kind::mode);
    control.mode = HelpMode::control;
    rig.viewer->session().handleEvent(control);
    SessionEvent activity = SessionEvent::make(SessionEvent::Kind::localActivity);
    activity.active = true;
    rig.viewer->session().handleEvent(activity);
    EXPECT_EQ(view.modeText(), "They have the mouse \u00b7 paused");
    EXPECT_EQ(view.takeOverText(), "");
    snapshot(view, "root-connected-control");

    SessionEvent end = SessionEvent::make(SessionEvent::Kind::end);
    end.text = "stopped";
    rig.viewer->session().handleEvent(end);
    EXPECT_EQ(view.screenName(), "message");
    EXPECT_EQ(view.messageText(), "Mom's iMac ended the session.");
    snapshot(view, "root-message");
}

// A window narrower than the session's bar grows to fit it while connected, so that no
// control lies over another; afterwards it may be narrow again.
TEST_F(ViewerViews, TheWindowMakesRoomForTheSessionBar)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new ViewerRootView(*rig.viewer, new QWidget, &window);
    layout->addWidget(view);
    window.setMinimumSize(600, 400);
    window.resize(620, 500);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    accept();
    ASSERT_EQ(view->screenName(), "connected");
    rig.viewer->session().setConnectionInfo("Connected \u00b7 30 fps \u00b7 H265 \u00b7 5120 KB in \u00b7 Direct");
    // The window has grown to the bar, the X server has it at that size, and the layout
    // has had its pass.
    EXPECT_TRUE(waitUntil(
        [&] { return window.minimumWidth() > 600 && window.windowHandle()->geometry().size() == window.size(); }));
    ASSERT_TRUE(waitForNextTurn());
    QWidget* bar = nullptr;
    for (QPushButton* button : view->findChildren<QPushButton*>())
        if (button->text() == "End")
            bar = button->parentWidget();
    ASSERT_TRUE(bar);
    EXPECT_GE(window.width(), bar->minimumSizeHint().width());
    EXPECT_GT(window.minimumWidth(), 600);
    // Every control of the bar stands clear of the others (the bar has two lines).
    QList<QWidget*> shown;
    for (QWidget* child : bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            shown.push_back(child);
    for (int i = 0; i < shown.size(); ++i)
        for (int j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << shown[i]->metaObject()->className() << " " << shown[j]->metaObject()->className();

    SessionEvent end = SessionEvent::make(SessionEvent::Kind::end);
    end.text = "stopped";
    rig.viewer->session().handleEvent(end);
    EXPECT_EQ(view->screenName(), "message");
    EXPECT_EQ(window.minimumWidth(), 600);
}

TEST_F(ViewerViews, GuideModePointerAndClicksBecomeEvents)
{
    accept();
    ViewerRootView view(*rig.viewer, new QWidget);
    view.resize(900, 560);
    view.show();
    rig.viewer->session().peer()->renderer().renderPicture(wl::decodedPicture(desktopFrame(320, 180)));
    ASSERT_TRUE(waitUntil([&] { return view.remoteScreen()->layer()->enqueued() == 1; }));
    RemoteScreenView& screen = *view.remoteScreen();
    const QRectF picture = screen.layer()->pictureRect();
    ASSERT_FALSE(picture.isEmpty());
    auto fraction = screen.fractionAt(picture.center());
    ASSERT_TRUE(fraction);
    EXPECT_NEAR(fraction->x(), 0.5, 0.01);
    EXPECT_NEAR(fraction->y(), 0.5, 0.01);
    EXPECT_FALSE(screen.fractionAt(QPointF(picture.left() - 2, picture.top() - 2)));
}

TEST_F(ViewerViews, BackToDevicesAsksForPresenceAgain)
{
    ViewerRootView view(*rig.viewer, new QWidget);
    rig.viewer->session().connect(host.record(), false);
    rig.transport().dropLink();
    EXPECT_EQ(view.screenName(), "message");
    const auto asked = rig.presenceAsked.size();
    rig.viewer->backToDevices();
    EXPECT_EQ(view.screenName(), "browsing");
    EXPECT_EQ(rig.presenceAsked.size(), asked + 2);
}

TEST_F(ViewerViews, EachStateOfThePairingSheet)
{
    PairingSheet sheet(*rig.viewer);
    EXPECT_EQ(sheet.width(), PairingSheet::kWidth);
    snapshot(sheet, "pairing-idle");
    sheet.codeField()->setText("K7QM-3X");
    sheet.pairAction();
    EXPECT_TRUE(sheet.showsCodeError());
    snapshot(sheet, "pairing-code-error");
}

} // namespace
} // namespace wl::test
