#include "viewer/FrameLayer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace wl {

namespace {

QSizeF fitted(QSizeF frame, QSizeF area)
{
    return frame.scaled(area, Qt::KeepAspectRatio);
}

} // namespace

FrameLayer::FrameLayer(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 90);
}

void FrameLayer::enqueue(QImage picture, QSize frameSize)
{
    picture_ = std::move(picture);
    frameSize_ = frameSize.isEmpty() ? picture_.size() : frameSize;
    ++enqueued_;
    update();
}

QRectF FrameLayer::pictureRect() const
{
    if (picture_.isNull() || frameSize_.isEmpty() || width() <= 0 || height() <= 0)
        return {};
    QSizeF size = fitted(QSizeF(frameSize_), QSizeF(width(), height()));
    return QRectF((width() - size.width()) / 2.0, (height() - size.height()) / 2.0, size.width(), size.height());
}

QSize ShowArea::showSize(QSize frameSize) const
{
    const std::uint64_t packed = packed_.load(std::memory_order_relaxed);
    const int areaWidth = int(packed >> 32), areaHeight = int(packed & 0xffffffffu);
    if (frameSize.isEmpty() || areaWidth <= 0 || areaHeight <= 0)
        return frameSize;
    if (frameSize.width() <= areaWidth && frameSize.height() <= areaHeight)
        return frameSize;
    // An even width: libswscale takes a much slower path for an odd one.
    const QSizeF size = fitted(QSizeF(frameSize), QSizeF(areaWidth, areaHeight));
    const int width = std::max(2, int(size.width()) & ~1);
    const int height = std::clamp(int(std::lround(double(width) * frameSize.height() / frameSize.width())), 1,
                                  std::max(1, areaHeight));
    return QSize(width, height);
}

void ShowArea::set(int width, int height)
{
    packed_.store(std::uint64_t(std::max(0, width)) << 32 | std::uint64_t(std::max(0, height)),
                  std::memory_order_relaxed);
}

void FrameLayer::noteArea()
{
    if (!isVisible()) {
        area_->set(0, 0);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    area_->set(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
}

void FrameLayer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    noteArea();
}

void FrameLayer::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    noteArea();
}

void FrameLayer::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    noteArea();
}

void FrameLayer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF target = pictureRect();
    if (target.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSizeF shown = target.size() * ratio;
    if (std::abs(picture_.width() - shown.width()) < 2.0 && std::abs(picture_.height() - shown.height()) < 2.0) {
        // Converted at the size it is shown: a plain copy at whole device pixels, black
        // bars around it.
        QImage picture = picture_;
        picture.setDevicePixelRatio(ratio);
        const QPointF at(std::round(target.left() * ratio) / ratio, std::round(target.top() * ratio) / ratio);
        const QRect drawn = QRectF(at, picture.deviceIndependentSize()).toAlignedRect();
        for (const QRect& bar : QRegion(rect()).subtracted(QRegion(drawn)))
            painter.fillRect(bar, Qt::black);
        painter.drawImage(at, picture);
    } else {
        painter.fillRect(rect(), Qt::black);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture_);
    }
    painter.end();
    Q_EMIT painted();
}

} // namespace wl
