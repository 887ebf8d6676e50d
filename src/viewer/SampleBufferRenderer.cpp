#include "viewer/SampleBufferRenderer.h"

#include "platform/MainThread.h"
#include "viewer/FrameLayer.h"

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

    // An RGB picture of the decoded one at the size it is shown (never larger, scaled
    // down in the same pass), or a null image when it can't be shown.
    QImage convert(const DecodedPicture& decoded, const ShowArea* area)
    {
        if (!decoded.readable())
            return {};
        const int width = decoded.width;
        const int height = decoded.height;
        const AVPixelFormat format =
            decoded.depth == DecodedPicture::Depth::ten ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        const uint8_t* planes[4] = {decoded.planes[0], decoded.planes[1], decoded.planes[2], nullptr};
        const int strides[4] = {decoded.strides[0], decoded.strides[1], decoded.strides[2], 0};
        int matrix = SWS_CS_ITU709;
        if (decoded.matrix == DecodedPicture::Matrix::smpte170m)
            matrix = SWS_CS_SMPTE170M;
        else if (decoded.matrix == DecodedPicture::Matrix::bt2020)
            matrix = SWS_CS_BT2020;
        const bool fullRange = decoded.fullRange;

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

SampleBufferRenderer::SampleBufferRenderer() : layer_(new FrameLayer), converter_(std::make_unique<Converter>())
{
    assertMainThread("SampleBufferRenderer::SampleBufferRenderer");
    area_ = layer_->showArea();
}

SampleBufferRenderer::~SampleBufferRenderer()
{
    assertMainThread("SampleBufferRenderer::~SampleBufferRenderer");
    // A layer that no view took in goes with the renderer; one in a view stays there
    // with its last picture.
    if (layer_ && !layer_->parent())
        delete layer_.data();
}

SampleBufferRenderer::Counters SampleBufferRenderer::counters() const
{
    std::lock_guard guard(lock_);
    return counters_;
}

void SampleBufferRenderer::renderPicture(const DecodedPicture& decoded)
{
    QImage picture = converter_->convert(decoded, area_.get());
    if (picture.isNull()) {
        std::lock_guard guard(lock_);
        ++counters_.framesUnsupported;
        return;
    }
    const QSize size(decoded.width, decoded.height);
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
