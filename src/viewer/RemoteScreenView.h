#pragma once
// The host's screen in the helper's window: the renderer's display layer, fitted to
// the view with its aspect kept, and the helper's input turned into session events.
// Positions are fractions of the picture from its top-left corner.
//
// Guide mode: moving over the picture sends `pointer`, a left click `suggest`, leaving
// the picture (or the view) `hide`. Take-over mode: moves (drags too) become
// `mouseMove`, left and right presses and releases `mouseDown` and `mouseUp` (button 0
// or 1, a double click counted 2), the wheel `scroll` (pixels; a wheel's notch counts
// 10), and keys `key` events with the key's code from the platform's key table, down or
// up, and the modifier flags. Modifier keys are sent as they go down and up; Caps Lock
// as its new lock state; auto-repeated presses are left to the host. A button released
// outside the picture (the drag left it) is released at the picture's nearest edge, and
// keys still down when the view loses the focus are released, so nothing stays held on
// the host. The helper's own
// shortcuts do not act while taking over: the host gets the keys. Over the picture the
// helper's pointer takes the host's cursor shape, scaled with the picture (never below
// half size).
//
// The peer limits pointer and mouse-move events to 60 a second.

#include "platform/KeyboardLayout.h"
#include "protocol/SessionEvent.h"
#include "viewer/FrameLayer.h"

#include <QCursor>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QKeyEvent;

namespace wl {

class ViewerPeer;

class RemoteScreenView final : public QWidget {
    Q_OBJECT
public:
    // A notch of a wheel without precise deltas scrolls this many pixels.
    static constexpr double kPixelsPerWheelNotch = 10;

    // layout: the local keyboard, whose keys are sent as the keys they are.
    RemoteScreenView(std::shared_ptr<ViewerPeer> peer, std::shared_ptr<KeyboardLayout> keyboard,
                     QWidget* parent = nullptr);
    ~RemoteScreenView() override;

    void setMode(HelpMode mode);
    HelpMode mode() const { return mode_; }
    void setCursorShape(const std::optional<CursorShape>& shape);
    // The host's cursor as shown over the picture; nullopt when none can be shown.
    const std::optional<QCursor>& remoteCursor() const { return remoteCursor_; }
    double remoteCursorScale() const { return cursorScale_; }

    FrameLayer* layer() const { return layer_; }
    ViewerPeer* peer() const { return peer_.lock().get(); }
    // The fraction of the picture under a point of this view; nullopt outside it.
    std::optional<QPointF> fractionAt(QPointF position) const;

    // Where events go (the peer's send by default).
    std::function<void(const SessionEvent&)> sendEvent;

    // The key code of a key event (from the key's keysyms without modifiers, else the
    // keysym it typed, the keys as layout has them); nullopt for keys the key table lacks.
    static std::optional<int> keyCodeFor(const QKeyEvent& event, KeyboardLayout& layout);
    // The modifier flags of a key event.
    static std::uint64_t flagsFor(const QKeyEvent& event);

protected:
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    const std::shared_ptr<KeyboardLayout> layout_;
    void send(const SessionEvent& event);
    void sendAt(SessionEvent::Kind kind, QPointF position, std::optional<int> button = std::nullopt,
                std::optional<int> clickCount = std::nullopt);
    // The fraction under a point, or at the picture's nearest edge.
    std::optional<QPointF> clampedFractionAt(QPointF position) const;
    void releaseHeldKeys();
    void press(QMouseEvent* event, int clickCount);
    void sendKey(QKeyEvent* event, bool down);
    void rebuildCursor();
    void updateCursor(QPointF position);

    std::weak_ptr<ViewerPeer> peer_;
    QPointer<FrameLayer> layer_;
    HelpMode mode_ = HelpMode::guide;
    std::optional<CursorShape> cursorShape_;
    std::optional<QCursor> remoteCursor_;
    double cursorScale_ = 0;
    double cursorBuiltForWidth_ = 0;
    bool capsLockOn_ = false;
    // Buttons (0, 1) and key codes sent down and not yet up.
    std::set<int> heldButtons_;
    std::map<int, std::uint64_t> heldKeys_;
};

} // namespace wl
