#include "viewer/FrameLayer.h"

#include <QPainter>

namespace wl {

FrameLayer::FrameLayer(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 90);
}

void FrameLayer::enqueue(QImage picture)
{
    picture_ = std::move(picture);
    ++enqueued_;
    update();
}

QRectF FrameLayer::pictureRect() const
{
    if (picture_.isNull() || width() <= 0 || height() <= 0)
        return {};
    QSizeF size = QSizeF(picture_.size()).scaled(QSizeF(width(), height()), Qt::KeepAspectRatio);
    return QRectF((width() - size.width()) / 2.0, (height() - size.height()) / 2.0, size.width(), size.height());
}

void FrameLayer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (picture_.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureRect(), picture_);
    painter.end();
    Q_EMIT painted();
}

} // namespace wl
