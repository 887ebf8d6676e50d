#pragma once
// The host's screen in the helper's window: the renderer's display layer, fitted to
// the view, and the helper's pointer turned into session events. In guide mode moving
// the mouse over the picture sends `pointer`, a click sends `suggest` and leaving the
// picture sends `hide` (positions as fractions of the picture, from its top left).
// Taking over the host's mouse and keyboard comes with the full input capture.

#include "protocol/SessionEvent.h"
#include "viewer/FrameLayer.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace wl {

class ViewerPeer;

class RemoteScreenView final : public QWidget {
    Q_OBJECT
public:
    RemoteScreenView(std::shared_ptr<ViewerPeer> peer, QWidget* parent = nullptr);
    ~RemoteScreenView() override;

    void setMode(HelpMode mode) { mode_ = mode; }
    FrameLayer* layer() const { return layer_; }
    ViewerPeer* peer() const { return peer_.lock().get(); }
    // The fraction of the picture under a point of this view; nullopt outside it.
    std::optional<QPointF> fractionAt(QPointF position) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendAt(SessionEvent::Kind kind, QPointF position);

    std::weak_ptr<ViewerPeer> peer_;
    QPointer<FrameLayer> layer_;
    HelpMode mode_ = HelpMode::guide;
    bool pointerShown_ = false;
};

} // namespace wl
