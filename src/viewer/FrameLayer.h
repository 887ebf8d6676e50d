#pragma once
// The widget that shows the host's picture: the whole picture, aspect kept, letterboxed
// on black. The renderer enqueues each converted picture on the main thread; the last
// one stays until another comes.
//
// The renderer converts each frame at the size it is shown here when that is smaller
// than the frame (ShowArea), so that painting is a plain copy; a picture of another size
// (the first one, or one converted before a resize) is scaled while painting. Where the
// picture lies always follows the frame's own size.

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>

namespace wl {

// Where a layer shows its pictures, readable from any thread (the decoding thread
// converts each frame for it).
class ShowArea {
public:
    // The size in device pixels at which a frame of frameSize is drawn: the frame fitted
    // into the area, never larger than the frame itself; frameSize itself while the
    // layer isn't shown.
    QSize showSize(QSize frameSize) const;
    void set(int width, int height); // device pixels; 0 × 0 while hidden

private:
    std::atomic<std::uint64_t> packed_{0}; // width << 32 | height
};

class FrameLayer final : public QWidget {
    Q_OBJECT
public:
    explicit FrameLayer(QWidget* parent = nullptr);

    // picture: the frame converted, at frameSize or smaller with the same aspect.
    void enqueue(QImage picture, QSize frameSize);
    const QImage& picture() const { return picture_; }
    long long enqueued() const { return enqueued_; }
    // Where the picture is drawn inside the widget (empty before the first picture).
    QRectF pictureRect() const;
    // The area, shared with the renderer; it outlives the layer where needed.
    std::shared_ptr<const ShowArea> showArea() const { return area_; }

Q_SIGNALS:
    // A picture was painted on the screen.
    void painted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void noteArea();

    QImage picture_;
    QSize frameSize_;
    long long enqueued_ = 0;
    std::shared_ptr<ShowArea> area_ = std::make_shared<ShowArea>();
};

} // namespace wl
