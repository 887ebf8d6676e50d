#include "viewer/RemoteScreenView.h"

#include "viewer/FrameLayer.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerPeer.h"

#include <QEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace wl {

RemoteScreenView::RemoteScreenView(std::shared_ptr<ViewerPeer> peer, QWidget* parent) : QWidget(parent), peer_(peer)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (peer) {
        layer_ = peer->renderer().displayLayer();
        if (layer_) {
            layer_->setParent(this);
            layout->addWidget(layer_);
            layer_->setMouseTracking(true);
            layer_->installEventFilter(this);
            layer_->show();
        }
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

RemoteScreenView::~RemoteScreenView() = default;

std::optional<QPointF> RemoteScreenView::fractionAt(QPointF position) const
{
    if (!layer_)
        return std::nullopt;
    const QRectF picture = layer_->pictureRect();
    if (picture.isEmpty() || !picture.contains(position))
        return std::nullopt;
    return QPointF((position.x() - picture.left()) / picture.width(),
                   (position.y() - picture.top()) / picture.height());
}

void RemoteScreenView::sendAt(SessionEvent::Kind kind, QPointF position)
{
    auto peer = peer_.lock();
    if (!peer)
        return;
    auto fraction = fractionAt(position);
    if (!fraction) {
        if (pointerShown_) {
            pointerShown_ = false;
            peer->send(SessionEvent::make(SessionEvent::Kind::hide));
        }
        return;
    }
    pointerShown_ = true;
    peer->send(SessionEvent::make(kind, fraction->x(), fraction->y()));
}

bool RemoteScreenView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != layer_ || mode_ != HelpMode::guide)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: sendAt(SessionEvent::Kind::pointer, static_cast<QMouseEvent*>(event)->position()); break;
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            sendAt(SessionEvent::Kind::suggest, static_cast<QMouseEvent*>(event)->position());
        break;
    case QEvent::Leave:
        if (pointerShown_)
            if (auto peer = peer_.lock()) {
                pointerShown_ = false;
                peer->send(SessionEvent::make(SessionEvent::Kind::hide));
            }
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace wl
