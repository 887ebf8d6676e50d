#include "host/CursorWatcher.h"

#include "platform/CursorImages.h"
#include "host/SharedDisplay.h"
#include "platform/MainThread.h"

#include <QBuffer>
#include <QImage>
#include <QPointer>

namespace wl {

CursorWatcher::CursorWatcher(std::shared_ptr<CursorImages> images, std::shared_ptr<SharedDisplay> shared,
                             TimerFactory timers, QObject* parent)
    : QObject(parent), images_(std::move(images)), shared_(std::move(shared)),
      timers_(requiredTimers(std::move(timers), "CursorWatcher"))
{
}

void CursorWatcher::start()
{
    assertMainThread("CursorWatcher::start");
    if (running_)
        return;
    running_ = true;
    last_.reset();
    poll();
    schedule();
}

void CursorWatcher::stop()
{
    running_ = false;
    timer_.reset();
    last_.reset();
}

void CursorWatcher::schedule()
{
    QPointer<CursorWatcher> self(this);
    timer_ = timers_(kPollInterval, [self] {
        if (!self || !self->running_)
            return;
        self->poll();
        if (self && self->running_)
            self->schedule();
    });
}

std::optional<CursorShape> CursorWatcher::shape(const CursorImage& image)
{
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < std::size_t(image.width) * std::size_t(image.height))
        return std::nullopt;
    if (encodedSerial_ != image.serial) {
        QImage picture(image.width, image.height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height; ++y)
            std::copy_n(image.pixels.data() + std::size_t(y) * std::size_t(image.width), image.width,
                        reinterpret_cast<std::uint32_t*>(picture.scanLine(y)));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!picture.save(&buffer, "PNG"))
            return std::nullopt;
        encodedPng_ = png.toBase64().toStdString();
        encodedSerial_ = image.serial;
        ++encodings_;
    }
    CursorShape result;
    result.png = encodedPng_;
    result.width = image.width;
    result.height = image.height;
    result.hotSpotX = image.hotSpotX;
    result.hotSpotY = image.hotSpotY;
    const auto display = shared_->screen();
    result.screenWidth = display ? double(display->width) : 0.0;
    return result;
}

void CursorWatcher::poll()
{
    assertMainThread("CursorWatcher::poll");
    auto image = images_->current();
    if (!image)
        return;
    auto next = shape(*image);
    if (!next || next == last_)
        return;
    last_ = next;
    if (onChange)
        onChange(*next);
}

} // namespace wl
