#pragma once
// Shows the host's screen on the helper's side: the viewer's peer hands it each decoded
// picture from the received video track (DecodedPictureSink). Each picture (8-bit or
// 10-bit 4:2:0) is converted on WebRTC's decoding thread to an RGB picture with libswscale (BT.709 full
// range unless the picture names its own matrix and range), at the size the display layer
// shows it when that is smaller (scaled in the same pass, so the main thread only copies
// it to the screen), counted, and handed to the main thread, where it is enqueued on the
// display layer and shown at once. Only the newest picture waits for the main thread: one
// that comes while another still waits replaces it (a busy main thread skips pictures
// instead of queueing them). A change of the picture's size is reported (onSize) before
// the first picture of that size is enqueued.
//
// The counters, the last size and the waiting picture are written on the decoding
// thread under a private lock; the session's status tick reads a copy of them (counters()). The renderer is
// made on the main thread and lives as long as its peer; the display layer is a widget
// that the remote-screen view takes in.

#include "media/DecodedPicture.h"
#include "viewer/FrameLayer.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>

#include <functional>
#include <memory>
#include <mutex>

namespace wl {

class SampleBufferRenderer final : public QObject {
    Q_OBJECT
public:
    SampleBufferRenderer();
    ~SampleBufferRenderer() override;

    // The layer the pictures go to (made with the renderer; the view reparents it).
    FrameLayer* displayLayer() const { return layer_; }
    // Called on the main thread when a shown frame's size differs from the last one's.
    std::function<void(QSize)> onSize;

    struct Counters {
        long long framesShown = 0;
        long long framesUnsupported = 0;
        QSize lastSize{0, 0};
    };
    // A copy of the counters as they are now (any thread).
    Counters counters() const;

    // The decoding thread (one picture at a time): shows one picture.
    void renderPicture(const DecodedPicture& picture);

private:
    struct Converter;
    // Main thread: enqueues the waiting picture, if one still waits.
    void showWaiting();
    QPointer<FrameLayer> layer_;
    std::shared_ptr<const ShowArea> area_; // the layer's, for the decoding thread
    std::unique_ptr<Converter> converter_;
    mutable std::mutex lock_; // guards counters_ and waiting_
    Counters counters_;
    struct Waiting {
        QImage picture;
        QSize size;
    };
    std::unique_ptr<Waiting> waiting_; // converted, not yet taken by the main thread
    QSize shownSize_{0, 0}; // main thread: the size of the last picture enqueued
};

} // namespace wl
