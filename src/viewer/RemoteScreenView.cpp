#include "viewer/RemoteScreenView.h"

#include "platform/KeyTable.h"
#include "platform/KeyboardLayout.h"
#include "viewer/FrameLayer.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerPeer.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace wl {

namespace {

// The Caps Lock bit of an X key event's modifier state.
constexpr quint32 kX11LockMask = 0x2;

} // namespace

RemoteScreenView::RemoteScreenView(std::shared_ptr<ViewerPeer> peer, std::shared_ptr<KeyboardLayout> keyboard,
                                   QWidget* parent)
    : QWidget(parent), layout_(std::move(keyboard)), peer_(peer)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (peer) {
        layer_ = peer->renderer().displayLayer();
        if (layer_) {
            layer_->setParent(this);
            layout->addWidget(layer_);
            // The view takes the input; the layer only draws.
            layer_->setAttribute(Qt::WA_TransparentForMouseEvents);
            layer_->show();
        }
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    std::weak_ptr<ViewerPeer> weak = peer;
    sendEvent = [weak](const SessionEvent& event) {
        if (auto peer = weak.lock())
            peer->send(event);
    };
}

RemoteScreenView::~RemoteScreenView() = default;

std::optional<QPointF> RemoteScreenView::fractionAt(QPointF position) const
{
    if (!layer_)
        return std::nullopt;
    const QRectF picture = layer_->pictureRect();
    const QPointF p = position - QPointF(layer_->pos());
    if (picture.width() <= 0 || picture.height() <= 0 || !picture.contains(p) || p.x() >= picture.right() ||
        p.y() >= picture.bottom())
        return std::nullopt;
    return QPointF((p.x() - picture.left()) / picture.width(), (p.y() - picture.top()) / picture.height());
}

std::optional<QPointF> RemoteScreenView::clampedFractionAt(QPointF position) const
{
    if (!layer_)
        return std::nullopt;
    const QRectF picture = layer_->pictureRect();
    if (picture.width() <= 0 || picture.height() <= 0)
        return std::nullopt;
    const QPointF p = position - QPointF(layer_->pos());
    const double x = std::clamp((p.x() - picture.left()) / picture.width(), 0.0, 1.0);
    const double y = std::clamp((p.y() - picture.top()) / picture.height(), 0.0, 1.0);
    return QPointF(x, y);
}

void RemoteScreenView::send(const SessionEvent& event)
{
    if (sendEvent)
        sendEvent(event);
}

void RemoteScreenView::sendAt(SessionEvent::Kind kind, QPointF position, std::optional<int> button,
                              std::optional<int> clickCount)
{
    auto fraction = fractionAt(position);
    // A drag that left the picture goes on, and ends, at its edge.
    if (!fraction && mode_ == HelpMode::control && !heldButtons_.empty())
        fraction = clampedFractionAt(position);
    if (!fraction) {
        // Outside the picture: the guide pointer goes; taken-over input is not sent.
        if (mode_ == HelpMode::guide)
            send(SessionEvent::make(SessionEvent::Kind::hide));
        return;
    }
    SessionEvent event = SessionEvent::make(kind, fraction->x(), fraction->y());
    event.button = button;
    event.clickCount = clickCount;
    if (kind == SessionEvent::Kind::mouseDown && button)
        heldButtons_.insert(*button);
    if (kind == SessionEvent::Kind::mouseUp && button)
        heldButtons_.erase(*button);
    send(event);
}

void RemoteScreenView::setMode(HelpMode mode)
{
    if (mode == mode_)
        return;
    mode_ = mode;
    heldButtons_.clear();
    heldKeys_.clear();
    if (mode == HelpMode::control) {
        // The host drops the guide pointer; keys flow here at once.
        send(SessionEvent::make(SessionEvent::Kind::hide));
        setFocus(Qt::OtherFocusReason);
    }
    updateCursor(mapFromGlobal(QCursor::pos()));
}

void RemoteScreenView::setCursorShape(const std::optional<CursorShape>& shape)
{
    if (shape == cursorShape_)
        return;
    cursorShape_ = shape;
    rebuildCursor();
}

void RemoteScreenView::rebuildCursor()
{
    remoteCursor_.reset();
    cursorScale_ = 0;
    const double pictureWidth = layer_ ? layer_->pictureRect().width() : 0;
    cursorBuiltForWidth_ = pictureWidth;
    if (cursorShape_ && cursorShape_->screenWidth > 0 && pictureWidth > 0) {
        const QByteArray png = QByteArray::fromBase64(QByteArray::fromStdString(cursorShape_->png),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        QPixmap image;
        if (!png.isEmpty() && image.loadFromData(png, "PNG")) {
            const double scale = std::max(0.5, pictureWidth / cursorShape_->screenWidth);
            const QSize size(std::max(1, int(std::lround(cursorShape_->width * scale))),
                             std::max(1, int(std::lround(cursorShape_->height * scale))));
            remoteCursor_ = QCursor(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                                    int(std::lround(cursorShape_->hotSpotX * scale)),
                                    int(std::lround(cursorShape_->hotSpotY * scale)));
            cursorScale_ = scale;
        }
    }
    updateCursor(mapFromGlobal(QCursor::pos()));
}

void RemoteScreenView::updateCursor(QPointF position)
{
    if (layer_ && cursorShape_ && layer_->pictureRect().width() != cursorBuiltForWidth_) {
        rebuildCursor();
        return;
    }
    // The host's cursor over the picture while taking over; the ordinary one elsewhere.
    if (mode_ == HelpMode::control && remoteCursor_ && fractionAt(position))
        setCursor(*remoteCursor_);
    else
        unsetCursor();
}

bool RemoteScreenView::event(QEvent* event)
{
    if (mode_ == HelpMode::control) {
        if (event->type() == QEvent::ShortcutOverride) {
            // The helper's own shortcuts (closing the window, quitting) do not act:
            // the key goes to the host.
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            // Tab and Backtab too, which would otherwise move the focus.
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    }
    return QWidget::event(event);
}

void RemoteScreenView::releaseHeldKeys()
{
    const auto held = std::move(heldKeys_);
    heldKeys_.clear();
    for (const auto& [code, flags] : held) {
        SessionEvent key = SessionEvent::make(SessionEvent::Kind::key);
        key.keyCode = code;
        key.down = false;
        key.flags = flags;
        send(key);
    }
}

void RemoteScreenView::focusOutEvent(QFocusEvent* event)
{
    // Releases of keys down now would go elsewhere.
    if (mode_ == HelpMode::control)
        releaseHeldKeys();
    QWidget::focusOutEvent(event);
}

bool RemoteScreenView::focusNextPrevChild(bool next)
{
    if (mode_ == HelpMode::control)
        return false;
    return QWidget::focusNextPrevChild(next);
}

void RemoteScreenView::mouseMoveEvent(QMouseEvent* event)
{
    updateCursor(event->position());
    const Qt::MouseButtons buttons = event->buttons();
    if (mode_ == HelpMode::guide) {
        // Moves and left drags point; a right drag says nothing.
        if (!(buttons & Qt::RightButton) || (buttons & Qt::LeftButton))
            sendAt(SessionEvent::Kind::pointer, event->position());
        return;
    }
    if (buttons == Qt::NoButton || (buttons & (Qt::LeftButton | Qt::RightButton)))
        sendAt(SessionEvent::Kind::mouseMove, event->position());
}

void RemoteScreenView::press(QMouseEvent* event, int clickCount)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        if (mode_ == HelpMode::guide)
            sendAt(SessionEvent::Kind::suggest, event->position());
        else
            sendAt(SessionEvent::Kind::mouseDown, event->position(), 0, clickCount);
        return;
    }
    if (event->button() == Qt::RightButton) {
        if (mode_ == HelpMode::control)
            sendAt(SessionEvent::Kind::mouseDown, event->position(), 1, clickCount);
        return;
    }
    QWidget::mousePressEvent(event);
}

void RemoteScreenView::mousePressEvent(QMouseEvent* event)
{
    press(event, 1);
}

void RemoteScreenView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click.
    press(event, 2);
}

void RemoteScreenView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (mode_ == HelpMode::control)
        sendAt(SessionEvent::Kind::mouseUp, event->position(), event->button() == Qt::RightButton ? 1 : 0, 1);
}

void RemoteScreenView::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (mode_ != HelpMode::control)
        return;
    SessionEvent scroll = SessionEvent::make(SessionEvent::Kind::scroll);
    if (!event->pixelDelta().isNull()) {
        scroll.dx = event->pixelDelta().x();
        scroll.dy = event->pixelDelta().y();
    } else {
        // 120 eighths of a degree make one notch of a wheel.
        scroll.dx = event->angleDelta().x() / 120.0 * kPixelsPerWheelNotch;
        scroll.dy = event->angleDelta().y() / 120.0 * kPixelsPerWheelNotch;
    }
    send(scroll);
}

void RemoteScreenView::leaveEvent(QEvent* event)
{
    if (mode_ == HelpMode::guide)
        send(SessionEvent::make(SessionEvent::Kind::hide));
    QWidget::leaveEvent(event);
}

std::optional<int> RemoteScreenView::keyCodeFor(const QKeyEvent& event, KeyboardLayout& layout)
{
    if (event.nativeScanCode() != 0)
        for (std::uint32_t keysym : layout.baseKeysyms(event.nativeScanCode()))
            if (auto code = keys::keyCodeForKeysym(keysym))
                return code;
    if (event.nativeVirtualKey() != 0)
        return keys::keyCodeForKeysym(event.nativeVirtualKey());
    return std::nullopt;
}

std::uint64_t RemoteScreenView::flagsFor(const QKeyEvent& event)
{
    std::uint64_t flags = 0;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::ShiftModifier)
        flags |= keys::kShiftFlag;
    if (modifiers & Qt::ControlModifier)
        flags |= keys::kControlFlag;
    if (modifiers & Qt::AltModifier)
        flags |= keys::kOptionFlag;
    if (modifiers & Qt::MetaModifier)
        flags |= keys::kCommandFlag;
    if (event.nativeModifiers() & kX11LockMask)
        flags |= keys::kCapsLockFlag;
    return keys::modifierFlags(flags);
}

void RemoteScreenView::sendKey(QKeyEvent* event, bool down)
{
    event->accept();
    if (event->isAutoRepeat())
        return; // the host repeats a held key itself
    const auto code = keyCodeFor(*event, *layout_);
    if (!code)
        return;
    SessionEvent key = SessionEvent::make(SessionEvent::Kind::key);
    key.keyCode = *code;
    key.flags = flagsFor(*event);
    if (*code == keys::kCapsLockKey) {
        // The lock's new state, once per press.
        if (!down)
            return;
        if (event->nativeScanCode() != 0)
            capsLockOn_ = !(event->nativeModifiers() & kX11LockMask);
        else
            capsLockOn_ = !capsLockOn_;
        key.down = capsLockOn_;
    } else {
        key.down = down;
        if (down)
            heldKeys_[*code] = *key.flags;
        else
            heldKeys_.erase(*code);
    }
    send(key);
}

void RemoteScreenView::keyPressEvent(QKeyEvent* event)
{
    if (mode_ != HelpMode::control) {
        QWidget::keyPressEvent(event);
        return;
    }
    sendKey(event, true);
}

void RemoteScreenView::keyReleaseEvent(QKeyEvent* event)
{
    if (mode_ != HelpMode::control) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    sendKey(event, false);
}

} // namespace wl
