#include "viewer/SampleBufferRenderer.h"

#include "platform/MainThread.h"
#include "viewer/FrameLayer.h"

#include <api/video/i010_buffer.h>
#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <QImage>
#include <QMetaObject>

#include <cstdlib>

namespace wl {

// The conversion to RGB, used on the decoding thread only (WebRTC calls a sink from
// one thread at a time).
struct SampleBufferRenderer::Converter {
    ~Converter()
    {
        if (context)
            sws_freeContext(context);
    }

    // An RGB picture of the frame at the size it is shown (never larger than the frame,
    // scaled down in the same pass), or a null image when the buffer can't be shown.
    QImage convert(const webrtc::VideoFrame& frame, const ShowArea* area)
    {
        rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer = frame.video_frame_buffer();
        if (!buffer)
            return {};
        const int width = buffer->width();
        const int height = buffer->height();
        if (width <= 0 || height <= 0)
            return {};
        AVPixelFormat format = AV_PIX_FMT_NONE;
        const uint8_t* planes[4] = {};
        int strides[4] = {};
        rtc::scoped_refptr<webrtc::I420BufferInterface> i420;
        if (buffer->type() == webrtc::VideoFrameBuffer::Type::kI010) {
            const webrtc::I010BufferInterface* i010 = buffer->GetI010();
            format = AV_PIX_FMT_YUV420P10LE; // I010: 10 bits in the low bits of 16
            planes[0] = reinterpret_cast<const uint8_t*>(i010->DataY());
            planes[1] = reinterpret_cast<const uint8_t*>(i010->DataU());
            planes[2] = reinterpret_cast<const uint8_t*>(i010->DataV());
            strides[0] = i010->StrideY() * 2;
            strides[1] = i010->StrideU() * 2;
            strides[2] = i010->StrideV() * 2;
        } else {
            i420 = buffer->ToI420();
            if (!i420)
                return {};
            format = AV_PIX_FMT_YUV420P;
            planes[0] = i420->DataY();
            planes[1] = i420->DataU();
            planes[2] = i420->DataV();
            strides[0] = i420->StrideY();
            strides[1] = i420->StrideU();
            strides[2] = i420->StrideV();
        }

        // BT.709 full range, unless the frame says otherwise (the screen capture's
        // full-range conversion uses the SMPTE 170M matrix and says so).
        int matrix = SWS_CS_ITU709;
        bool fullRange = true;
        if (const auto space = frame.color_space()) {
            using M = webrtc::ColorSpace::MatrixID;
            if (space->matrix() == M::kSMPTE170M || space->matrix() == M::kBT470BG)
                matrix = SWS_CS_SMPTE170M;
            else if (space->matrix() == M::kBT2020_NCL)
                matrix = SWS_CS_BT2020;
            fullRange = space->range() != webrtc::ColorSpace::RangeID::kLimited;
        }

        const QSize shown = area ? area->showSize(QSize(width, height)) : QSize(width, height);
        const int outWidth = shown.width(), outHeight = shown.height();
        // Same size: a plain conversion. Smaller: each output pixel averages the frame's
        // pixels it covers, which keeps small text readable.
        const int flags = outWidth == width && outHeight == height ? SWS_POINT : SWS_AREA;
        // A new context for a new shape of conversion. (sws_getCachedContext would do, but
        // a context it remade can land at the old address, and then nothing here could
        // tell that its colour space is back at the default.)
        const Shape shape{width, height, int(format), outWidth, outHeight, flags};
        if (!context || !(shape == lastShape)) {
            if (context)
                sws_freeContext(context);
            context = sws_getContext(width, height, format, outWidth, outHeight, AV_PIX_FMT_BGRA, flags, nullptr,
                                     nullptr, nullptr);
            lastShape = shape;
            lastMatrix = -1;
        }
        if (!context)
            return {};
        if (matrix != lastMatrix || fullRange != lastFullRange) {
            sws_setColorspaceDetails(context, sws_getCoefficients(matrix), fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            lastMatrix = matrix;
            lastFullRange = fullRange;
        }
        // libswscale writes whole vectors: rows aligned to 64 bytes, and spare rows
        // after the last, so that it never writes past the picture's memory.
        const int stride = (outWidth * 4 + 63) / 64 * 64;
        auto* memory = static_cast<uint8_t*>(std::malloc(std::size_t(stride) * (outHeight + 2)));
        if (!memory)
            return {};
        QImage picture(
            memory, outWidth, outHeight, stride, QImage::Format_RGB32, [](void* data) { std::free(data); }, memory);
        uint8_t* out[4] = {memory, nullptr, nullptr, nullptr};
        int outStrides[4] = {stride, 0, 0, 0};
        if (sws_scale(context, planes, strides, 0, height, out, outStrides) != outHeight)
            return {};
        return picture;
    }

    struct Shape {
        int width = 0, height = 0, format = 0, outWidth = 0, outHeight = 0, flags = 0;
        bool operator==(const Shape&) const = default;
    };
    SwsContext* context = nullptr;
    Shape lastShape;
    int lastMatrix = -1;
    bool lastFullRange = false;
};

struct SampleBufferRenderer::Sink final : rtc::VideoSinkInterface<webrtc::VideoFrame> {
    explicit Sink(SampleBufferRenderer& owner) : owner(owner) { }
    void OnFrame(const webrtc::VideoFrame& frame) override { owner.renderFrame(frame); }
    SampleBufferRenderer& owner;
};

SampleBufferRenderer::SampleBufferRenderer()
    : layer_(new FrameLayer), converter_(std::make_unique<Converter>()), sink_(std::make_unique<Sink>(*this))
{
    area_ = layer_->showArea();
}

SampleBufferRenderer::~SampleBufferRenderer()
{
    // A layer that no view took in goes with the renderer; one in a view stays there
    // with its last picture.
    if (layer_ && !layer_->parent())
        delete layer_.data();
}

rtc::VideoSinkInterface<webrtc::VideoFrame>* SampleBufferRenderer::sink() const
{
    return sink_.get();
}

SampleBufferRenderer::Counters SampleBufferRenderer::counters() const
{
    std::lock_guard guard(lock_);
    return counters_;
}

void SampleBufferRenderer::renderFrame(const webrtc::VideoFrame& frame)
{
    QImage picture = converter_->convert(frame, area_.get());
    if (picture.isNull()) {
        std::lock_guard guard(lock_);
        ++counters_.framesUnsupported;
        return;
    }
    const QSize size(frame.width(), frame.height());
    bool post = false;
    {
        std::lock_guard guard(lock_);
        ++counters_.framesShown;
        counters_.lastSize = size;
        // A picture still waiting for the main thread is replaced: one call is posted
        // per picture taken, whatever the decoder delivers in between.
        post = !waiting_;
        waiting_ = std::make_unique<Waiting>(Waiting{std::move(picture), size});
    }
    if (!post)
        return;
    QPointer<SampleBufferRenderer> self(this);
    postToMainThread([self] {
        if (self)
            self->showWaiting();
    });
}

void SampleBufferRenderer::showWaiting()
{
    std::unique_ptr<Waiting> waiting;
    {
        std::lock_guard guard(lock_);
        waiting = std::move(waiting_);
    }
    if (!waiting)
        return;
    if (waiting->size != shownSize_) {
        shownSize_ = waiting->size;
        if (auto report = onSize)
            report(waiting->size);
    }
    if (layer_)
        layer_->enqueue(std::move(waiting->picture), waiting->size);
}

} // namespace wl
