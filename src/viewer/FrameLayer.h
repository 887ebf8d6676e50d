#pragma once
// The widget that shows the host's picture: the whole picture, aspect kept, letterboxed
// on black. The renderer enqueues each converted picture on the main thread; the last
// one stays until another comes.

#include <QImage>
#include <QWidget>

namespace wl {

class FrameLayer final : public QWidget {
    Q_OBJECT
public:
    explicit FrameLayer(QWidget* parent = nullptr);

    void enqueue(QImage picture);
    const QImage& picture() const { return picture_; }
    long long enqueued() const { return enqueued_; }
    // Where the picture is drawn inside the widget (empty before the first picture).
    QRectF pictureRect() const;

Q_SIGNALS:
    // A picture was painted on the screen.
    void painted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    long long enqueued_ = 0;
};

} // namespace wl
