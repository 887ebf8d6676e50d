// The helper's input over the host's picture: fractions of the aspect-fit picture, what
// each mouse, wheel and key event becomes in guide and take-over mode, the host's
// cursor over the picture, and the 60-a-second limit on moves that still delivers the
// last one.
#include "ViewerTestKit.h"

#include "platform/KeyTable.h"
#include "platform/KeyboardLayout.h"
#include "media/DecodedPictureSink.h"
#include "viewer/FrameLayer.h"
#include "viewer/MoveLimiter.h"
#include "viewer/RemoteScreenView.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerPeer.h"
#include "viewer/ViewerRootView.h"

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>

#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace wl::test {
namespace {

using Kind = SessionEvent::Kind;
using namespace std::chrono_literals;

// Keys as an X keyboard map gives them: key code → keysyms without modifiers.
class FixedKeyboardLayout final : public KeyboardLayout {
public:
    std::vector<std::uint32_t> baseKeysyms(std::uint32_t keycode) override
    {
        auto found = keys.find(keycode);
        return found == keys.end() ? std::vector<std::uint32_t>{} : found->second;
    }
    std::map<std::uint32_t, std::vector<std::uint32_t>> keys{
        {38, {XK_a}},         {25, {XK_w}},
        {59, {XK_comma}},     {50, {XK_Shift_L}},
        {62, {XK_Shift_R}},   {37, {XK_Control_L}},
        {66, {XK_Caps_Lock}}, {23, {XK_Tab}},
        {133, {XK_Super_L}},  {44, {0x6cb /* Cyrillic o */, XK_j}}, // a second layout group
    };
};

webrtc::VideoFrame flatFrame(int w, int h)
{
    auto buffer = webrtc::I420Buffer::Create(w, h);
    webrtc::I420Buffer::SetBlack(buffer.get());
    return webrtc::VideoFrame::Builder().set_video_frame_buffer(buffer).set_timestamp_us(0).build();
}

std::string cursorPng(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(0, 0, w / 2, h, Qt::black);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toBase64().toStdString();
}

class RemoteScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.defaults->setBool("WLLoopbackOnly", true);
        rig.defaults->setStringList("WLSTUNServers", {});
        rig.pair({host.record()});
        rig.makesPeers = true;
        rig.make();
        rig.viewer->session().connect(host.record(), false);
        rig.transport().deliver(host.challenge(rig.helperNonce()));
        rig.transport().deliver(SignalMessage::make(SignalMessage::Kind::accepted));
        ASSERT_TRUE(rig.viewer->session().sharedPeer());
    }

    // The X server has the window at this size: no answer to an earlier resize is still to come.
    static bool settled(QWidget& window, QSize size)
    {
        return window.size() == size && window.windowHandle() && window.windowHandle()->geometry().size() == size;
    }

    // A view of the given size showing a picture of the given size.
    std::unique_ptr<RemoteScreenView> makeView(QSize view, QSize picture)
    {
        auto screen = std::make_unique<RemoteScreenView>(rig.viewer->session().sharedPeer(), layout);
        screen->resize(view);
        screen->show();
        screen->sendEvent = [this](const SessionEvent& event) { sent.push_back(event); };
        rig.viewer->session().peer()->renderer().renderPicture(
            wl::decodedPicture(flatFrame(picture.width(), picture.height())));
        EXPECT_TRUE(waitUntil([&] { return screen->layer()->enqueued() >= 1 && settled(*screen, view); }));
        return screen;
    }

    void mouse(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, widget.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
    void move(QWidget& widget, QPointF at, Qt::MouseButtons buttons = Qt::NoButton)
    {
        mouse(widget, QEvent::MouseMove, at, Qt::NoButton, buttons);
    }
    void press(QWidget& widget, QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        mouse(widget, QEvent::MouseButtonPress, at, button, button);
    }
    void release(QWidget& widget, QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        mouse(widget, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
    }
    // A key as the X server delivers it: its key code, the keysym it typed and the
    // modifier state before it.
    bool key(QWidget& widget, QEvent::Type type, quint32 scanCode, quint32 keysym,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier, quint32 state = 0, bool repeat = false)
    {
        QKeyEvent event(type, 0, modifiers, scanCode, keysym, state, QString(), repeat);
        QApplication::sendEvent(&widget, &event);
        return event.isAccepted();
    }
    std::vector<SessionEvent> take()
    {
        auto events = std::move(sent);
        sent.clear();
        return events;
    }

    ViewerRig rig;
    FakeHost host{"Mom's iMac"};
    std::shared_ptr<FixedKeyboardLayout> layout = std::make_shared<FixedKeyboardLayout>();
    std::vector<SessionEvent> sent;
};

TEST_F(RemoteScreen, GuideModePointsSuggestsAndHides)
{
    // A 1920 × 1080 picture in a 1000 × 1000 view: centred, bars above and below.
    auto screen = makeView({1000, 1000}, {1920, 1080});
    const QRectF picture = screen->layer()->pictureRect();
    EXPECT_DOUBLE_EQ(picture.x(), 0);
    EXPECT_DOUBLE_EQ(picture.y(), 218.75);
    EXPECT_DOUBLE_EQ(picture.width(), 1000);
    EXPECT_DOUBLE_EQ(picture.height(), 562.5);

    move(*screen, {250, 218.75 + 562.5 * 0.75});
    press(*screen, {500, 218.75 + 281.25});
    release(*screen, {500, 218.75 + 281.25});
    auto events = take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::pointer);
    EXPECT_DOUBLE_EQ(events[0].x, 0.25);
    EXPECT_DOUBLE_EQ(events[0].y, 0.75);
    EXPECT_EQ(events[1].kind, Kind::suggest);
    EXPECT_DOUBLE_EQ(events[1].x, 0.5);
    EXPECT_DOUBLE_EQ(events[1].y, 0.5);
    EXPECT_FALSE(events[1].button);
    // The top-left corner of the picture is 0, 0.
    move(*screen, {0, 218.75});
    events = take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].x, 0);
    EXPECT_EQ(events[0].y, 0);

    // A left drag points; a right drag, the right button, the wheel say nothing.
    move(*screen, {100, 300}, Qt::LeftButton);
    move(*screen, {100, 300}, Qt::RightButton);
    press(*screen, {100, 300}, Qt::RightButton);
    release(*screen, {100, 300}, Qt::RightButton);
    QWheelEvent wheel({100, 300}, screen->mapToGlobal(QPointF(100, 300)), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(screen.get(), &wheel);
    events = take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::pointer);

    // Over the bars: hide, and a click there hides instead of suggesting.
    move(*screen, {500, 100});
    press(*screen, {500, 950});
    events = take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::hide);
    EXPECT_EQ(events[1].kind, Kind::hide);
    // Leaving the view hides.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(screen.get(), &leave);
    events = take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::hide);

    // Keys are not the host's in guide mode.
    EXPECT_FALSE(key(*screen, QEvent::KeyPress, 38, XK_a));
    EXPECT_TRUE(take().empty());
}

TEST_F(RemoteScreen, TakeOverSendsMouseWheelAndKeys)
{
    auto screen = makeView({1000, 1000}, {1920, 1080});
    screen->activateWindow();
    // Into take-over: the guide pointer goes, the keyboard comes here.
    screen->setMode(HelpMode::control);
    auto events = take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::hide);
    EXPECT_EQ(screen->window()->focusWidget(), screen.get());
    screen->setMode(HelpMode::control);
    EXPECT_TRUE(take().empty());

    const double top = 218.75, height = 562.5;
    move(*screen, {500, top + height / 2});
    press(*screen, {500, top + height / 2});
    move(*screen, {750, top + height / 4}, Qt::LeftButton);
    release(*screen, {750, top + height / 4});
    mouse(*screen, QEvent::MouseButtonDblClick, {750, top + height / 4}, Qt::LeftButton, Qt::LeftButton);
    release(*screen, {750, top + height / 4});
    press(*screen, {250, top}, Qt::RightButton);
    move(*screen, {300, top}, Qt::RightButton);
    release(*screen, {300, top}, Qt::RightButton);
    press(*screen, {250, top}, Qt::MiddleButton);
    events = take();
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events[0].kind, Kind::mouseMove);
    EXPECT_DOUBLE_EQ(events[0].y, 0.5);
    EXPECT_EQ(events[1].kind, Kind::mouseDown);
    EXPECT_EQ(events[1].button, 0);
    EXPECT_EQ(events[1].clickCount, 1);
    EXPECT_EQ(events[2].kind, Kind::mouseMove);
    EXPECT_DOUBLE_EQ(events[2].x, 0.75);
    EXPECT_DOUBLE_EQ(events[2].y, 0.25);
    EXPECT_EQ(events[3].kind, Kind::mouseUp);
    EXPECT_EQ(events[3].button, 0);
    EXPECT_EQ(events[4].kind, Kind::mouseDown);
    EXPECT_EQ(events[4].clickCount, 2) << "the second press of a double click";
    EXPECT_EQ(events[5].kind, Kind::mouseUp);
    EXPECT_EQ(events[6].kind, Kind::mouseDown);
    EXPECT_EQ(events[6].button, 1);
    EXPECT_EQ(events[7].kind, Kind::mouseMove) << "a right drag moves";
    EXPECT_EQ(events[8].kind, Kind::mouseUp);
    EXPECT_EQ(events[8].button, 1);

    // Outside the picture nothing is sent, but a drag that leaves it ends at its edge.
    move(*screen, {500, 100});
    press(*screen, {500, 100});
    EXPECT_TRUE(take().empty());
    press(*screen, {500, top + 10});
    move(*screen, {1200, 990}, Qt::LeftButton);
    release(*screen, {1200, 990});
    events = take();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, Kind::mouseMove);
    EXPECT_DOUBLE_EQ(events[1].x, 1);
    EXPECT_DOUBLE_EQ(events[1].y, 1);
    EXPECT_EQ(events[2].kind, Kind::mouseUp);
    EXPECT_DOUBLE_EQ(events[2].x, 1);
    EXPECT_DOUBLE_EQ(events[2].y, 1);

    // The wheel: a notch is 10 pixels; precise deltas go as they are.
    QWheelEvent notch({500, 500}, screen->mapToGlobal(QPointF(500, 500)), {}, {-120, 240}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(screen.get(), &notch);
    QWheelEvent precise({500, 500}, screen->mapToGlobal(QPointF(500, 500)), {3, -4}, {24, -32}, Qt::NoButton,
                        Qt::NoModifier, Qt::ScrollUpdate, false);
    QApplication::sendEvent(screen.get(), &precise);
    events = take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::scroll);
    EXPECT_EQ(events[0].dx, -10);
    EXPECT_EQ(events[0].dy, 20);
    EXPECT_EQ(events[0].x, 0);
    EXPECT_EQ(events[1].dx, 3);
    EXPECT_EQ(events[1].dy, -4);

    // Keys: the code of the key's own keysym, down and up, with the modifiers as flags.
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 37, XK_Control_L));
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 25, XK_w, Qt::ControlModifier, 0x4));
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 25, XK_w, Qt::ControlModifier, 0x4, true)); // repeat: the host's
    EXPECT_TRUE(key(*screen, QEvent::KeyRelease, 25, XK_w, Qt::ControlModifier, 0x4));
    EXPECT_TRUE(key(*screen, QEvent::KeyRelease, 37, XK_Control_L, Qt::ControlModifier, 0x4));
    // Shifted, the key still names its own key: "<" is Shift and the comma key.
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 59, XK_less, Qt::ShiftModifier | Qt::MetaModifier | Qt::AltModifier));
    // A key of a second layout group is found in the first group that the table knows.
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 44, 0x6cb));
    // A key the table lacks goes nowhere.
    EXPECT_TRUE(key(*screen, QEvent::KeyPress, 200, 0x10000ff));
    events = take();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].keyCode, 59);
    EXPECT_EQ(events[0].down, true);
    EXPECT_EQ(events[1].keyCode, 13);
    EXPECT_EQ(events[1].down, true);
    EXPECT_EQ(events[1].flags, keys::kControlFlag);
    EXPECT_EQ(events[2].keyCode, 13);
    EXPECT_EQ(events[2].down, false);
    EXPECT_EQ(events[3].keyCode, 59);
    EXPECT_EQ(events[3].down, false);
    EXPECT_EQ(events[4].keyCode, 0x2B);
    EXPECT_EQ(events[4].flags, keys::kShiftFlag | keys::kCommandFlag | keys::kOptionFlag);
    EXPECT_EQ(events[5].keyCode, 0x26);

    // The right Shift pressed and let go while the left one is held: down, then up.
    key(*screen, QEvent::KeyPress, 50, XK_Shift_L);
    key(*screen, QEvent::KeyPress, 62, XK_Shift_R, Qt::ShiftModifier, 0x1);
    key(*screen, QEvent::KeyRelease, 62, XK_Shift_R, Qt::ShiftModifier, 0x1);
    key(*screen, QEvent::KeyRelease, 50, XK_Shift_L, Qt::ShiftModifier, 0x1);
    events = take();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].keyCode, 60);
    EXPECT_EQ(events[1].down, true);
    EXPECT_EQ(events[2].keyCode, 60);
    EXPECT_EQ(events[2].down, false);

    // Caps Lock: its new state, once per press (the state before the press is off, then on).
    key(*screen, QEvent::KeyPress, 66, XK_Caps_Lock, Qt::NoModifier, 0);
    key(*screen, QEvent::KeyRelease, 66, XK_Caps_Lock, Qt::NoModifier, 0x2);
    key(*screen, QEvent::KeyPress, 66, XK_Caps_Lock, Qt::NoModifier, 0x2);
    key(*screen, QEvent::KeyRelease, 66, XK_Caps_Lock, Qt::NoModifier, 0);
    events = take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keyCode, keys::kCapsLockKey);
    EXPECT_EQ(events[0].down, true);
    EXPECT_EQ(events[1].keyCode, keys::kCapsLockKey);
    EXPECT_EQ(events[1].down, false);
    EXPECT_EQ(events[1].flags, keys::kCapsLockFlag) << "the lock was on before this press";

    // The helper's shortcuts do not act: the view takes them as keys. Tab stays here.
    QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_W, Qt::ControlModifier, 25, XK_w, 0x4);
    shortcut.ignore();
    QApplication::sendEvent(screen.get(), &shortcut);
    EXPECT_TRUE(shortcut.isAccepted());
    key(*screen, QEvent::KeyPress, 23, XK_Tab);
    events = take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].keyCode, 0x30);
    EXPECT_EQ(screen->window()->focusWidget(), screen.get());

    // Losing the focus lets go of the keys still down: a, j, the comma key and Tab.
    key(*screen, QEvent::KeyPress, 38, XK_a);
    take();
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(screen.get(), &out);
    events = take();
    std::vector<int> released;
    for (const auto& event : events) {
        EXPECT_EQ(event.down, false);
        released.push_back(event.keyCode.value_or(-1));
    }
    EXPECT_EQ(released, (std::vector<int>{0, 0x26, 0x2B, 0x30}));

    // Back to guide: nothing is sent; keys go elsewhere again.
    screen->setMode(HelpMode::guide);
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(key(*screen, QEvent::KeyPress, 38, XK_a));
}

TEST_F(RemoteScreen, TheHostsCursorOverThePictureAtItsScale)
{
    auto screen = makeView({720, 405}, {1440, 810});
    CursorShape shape{cursorPng(32, 32), 32, 32, 4, 6, 1440};
    screen->setMode(HelpMode::control);
    screen->setCursorShape(shape);
    ASSERT_TRUE(screen->remoteCursor());
    EXPECT_DOUBLE_EQ(screen->remoteCursorScale(), 0.5);
    EXPECT_EQ(screen->remoteCursor()->pixmap().size(), QSize(16, 16));
    EXPECT_EQ(screen->remoteCursor()->hotSpot(), QPoint(2, 3));
    // Over the picture the pointer takes it; in guide mode it does not.
    move(*screen, {360, 200});
    EXPECT_EQ(screen->cursor().pixmap().size(), QSize(16, 16));
    screen->setMode(HelpMode::guide);
    EXPECT_EQ(screen->cursor().shape(), Qt::ArrowCursor);

    // Never below half size; larger pictures scale it up.
    screen->resize(360, 203);
    EXPECT_TRUE(waitUntil([&] { return settled(*screen, QSize(360, 203)); }));
    screen->setMode(HelpMode::control);
    move(*screen, {180, 100});
    EXPECT_DOUBLE_EQ(screen->remoteCursorScale(), 0.5);
    screen->resize(2880, 1620);
    EXPECT_TRUE(waitUntil([&] { return settled(*screen, QSize(2880, 1620)); }));
    move(*screen, {1000, 800});
    EXPECT_DOUBLE_EQ(screen->remoteCursorScale(), 2.0);
    EXPECT_EQ(screen->remoteCursor()->pixmap().size(), QSize(64, 64));

    // A shape that does not decode: the ordinary cursor.
    shape.png = "not base64!";
    screen->setCursorShape(shape);
    EXPECT_FALSE(screen->remoteCursor());
    shape.png = cursorPng(32, 32);
    shape.screenWidth = 0;
    screen->setCursorShape(shape);
    EXPECT_FALSE(screen->remoteCursor());
}

TEST(MoveLimits, SixtyMovesASecondAndTheLastOneAlwaysArrives)
{
    ManualTimers timers;
    double now = 100;
    std::vector<SessionEvent> sent;
    std::vector<double> sentAt;
    MoveLimiter limiter(
        1.0 / 60, [&] { return now; }, timers.factory(),
        [&](const SessionEvent& event) {
            sent.push_back(event);
            sentAt.push_back(now);
        });
    limiter.send(SessionEvent::make(Kind::mouseMove, 0.1, 0.1));
    ASSERT_EQ(sent.size(), 1u);
    // Two more within the interval: the later replaces the earlier, and waits its turn.
    now += 0.005;
    limiter.send(SessionEvent::make(Kind::mouseMove, 0.2, 0.2));
    now += 0.005;
    limiter.send(SessionEvent::make(Kind::mouseMove, 0.3, 0.3));
    EXPECT_EQ(sent.size(), 1u);
    ASSERT_EQ(timers.activeCount(), 1u);
    EXPECT_EQ(timers.delays().back(), 12ms);
    now += 0.007;
    ASSERT_TRUE(timers.fireNext());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].x, 0.3);
    // Another event sends a waiting move first, keeping the order.
    now += 0.001;
    limiter.send(SessionEvent::make(Kind::pointer, 0.4, 0.4));
    limiter.send(SessionEvent::make(Kind::mouseDown, 0.4, 0.4));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].kind, Kind::pointer);
    EXPECT_EQ(sent[3].kind, Kind::mouseDown);
    EXPECT_EQ(timers.activeCount(), 0u);

    // A second of moves every 5 ms, the timer firing when it is due: never two moves
    // within 1/60 s, and the very last position arrives.
    now += 1;
    const std::size_t before = sent.size();
    double armedAt = 0;
    std::chrono::milliseconds delay{0};
    for (int i = 0; i <= 200; ++i) {
        now += 0.005;
        if (timers.activeCount() && now >= armedAt + delay.count() / 1000.0 - 1e-9)
            timers.fireNext();
        const std::size_t armed = timers.delays().size();
        limiter.send(SessionEvent::make(Kind::mouseMove, i / 200.0, 0.5));
        if (timers.delays().size() > armed) {
            armedAt = now;
            delay = timers.delays().back();
        }
    }
    now += 0.02;
    timers.fireNext();
    const std::size_t moves = sent.size() - before;
    EXPECT_LE(moves, 61u);
    EXPECT_GE(moves, 45u);
    for (std::size_t i = before + 1; i < sent.size(); ++i)
        EXPECT_GE(sentAt[i] - sentAt[i - 1], 1.0 / 60 - 1e-9);
    EXPECT_EQ(sent.back().x, 1.0);
    EXPECT_FALSE(limiter.hasWaitingMove());
}

} // namespace
} // namespace wl::test
