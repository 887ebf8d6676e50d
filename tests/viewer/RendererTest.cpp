// The renderer: decoded frames (8-bit I420 and 10-bit I010) become RGB pictures on the
// display layer, converted as the frame's colour space says (BT.709 full range when it
// says nothing); counts and size under the lock; sizes reported once per change; frames
// it can't show only counted. Frames are handed over from a thread of their own, as the
// decoder's thread does.
#include "WaitUntil.h"

#include "media/DecodedPictureSink.h"
#include "viewer/FrameLayer.h"
#include "viewer/SampleBufferRenderer.h"

#include <api/video/i010_buffer.h>
#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

namespace wl::test {
namespace {

webrtc::VideoFrame frameOf(rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer,
                           std::optional<webrtc::ColorSpace> space = std::nullopt)
{
    auto builder = webrtc::VideoFrame::Builder().set_video_frame_buffer(buffer).set_timestamp_us(0);
    if (space)
        builder.set_color_space(*space);
    return builder.build();
}

rtc::scoped_refptr<webrtc::I420Buffer> flat420(int w, int h, int y, int u, int v)
{
    auto buffer = webrtc::I420Buffer::Create(w, h);
    webrtc::I420Buffer::SetBlack(buffer.get());
    std::memset(buffer->MutableDataY(), y, std::size_t(buffer->StrideY()) * h);
    std::memset(buffer->MutableDataU(), u, std::size_t(buffer->StrideU()) * ((h + 1) / 2));
    std::memset(buffer->MutableDataV(), v, std::size_t(buffer->StrideV()) * ((h + 1) / 2));
    return buffer;
}

// Full-range conversion of one colour with the given matrix coefficients (kr, kb).
QColor expected(int y, int u, int v, double kr, double kb)
{
    const double kg = 1 - kr - kb;
    const double cb = u - 128.0, cr = v - 128.0;
    const double r = y + 2 * (1 - kr) * cr;
    const double b = y + 2 * (1 - kb) * cb;
    const double g = (y - kr * r - kb * b) / kg;
    auto clamp = [](double x) { return int(std::lround(std::clamp(x, 0.0, 255.0))); };
    return QColor(clamp(r), clamp(g), clamp(b));
}

bool near(QColor a, QColor b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
        std::abs(a.blue() - b.blue()) <= tolerance;
}

// A buffer the renderer can't read.
class OpaqueBuffer : public webrtc::VideoFrameBuffer {
public:
    Type type() const override { return Type::kNative; }
    int width() const override { return 64; }
    int height() const override { return 32; }
    rtc::scoped_refptr<webrtc::I420BufferInterface> ToI420() override { return nullptr; }
};

void renderOnAnotherThread(SampleBufferRenderer& renderer, const webrtc::VideoFrame& frame)
{
    std::thread decoder([&] { renderer.renderPicture(wl::decodedPicture(frame)); });
    decoder.join();
}

TEST(Renderer, ConvertsEightBitFramesWithTheirMatrixAndRange)
{
    SampleBufferRenderer renderer;
    std::vector<QSize> sizes;
    renderer.onSize = [&](QSize size) { sizes.push_back(size); };

    // No colour space: BT.709 full range.
    renderOnAnotherThread(renderer, frameOf(flat420(64, 32, 120, 90, 200)));
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() == 1; }));
    QColor shown = renderer.displayLayer()->picture().pixelColor(10, 10);
    EXPECT_TRUE(near(shown, expected(120, 90, 200, 0.2126, 0.0722))) << shown.name().toStdString();

    // The screen capture's frames name the SMPTE 170M matrix, full range.
    webrtc::ColorSpace capture(webrtc::ColorSpace::PrimaryID::kBT709, webrtc::ColorSpace::TransferID::kBT709,
                               webrtc::ColorSpace::MatrixID::kSMPTE170M, webrtc::ColorSpace::RangeID::kFull);
    renderOnAnotherThread(renderer, frameOf(flat420(64, 32, 120, 90, 200), capture));
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() == 2; }));
    shown = renderer.displayLayer()->picture().pixelColor(10, 10);
    EXPECT_TRUE(near(shown, expected(120, 90, 200, 0.299, 0.114))) << shown.name().toStdString();

    // Greys stay grey, white stays white.
    renderOnAnotherThread(renderer, frameOf(flat420(64, 32, 255, 128, 128)));
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() == 3; }));
    EXPECT_TRUE(near(renderer.displayLayer()->picture().pixelColor(5, 5), QColor(255, 255, 255), 1));

    // One size reported once; a new size again, before its picture is shown.
    EXPECT_EQ(sizes, std::vector<QSize>{QSize(64, 32)});
    renderOnAnotherThread(renderer, frameOf(flat420(32, 16, 16, 128, 128)));
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() == 4; }));
    EXPECT_EQ(sizes, (std::vector<QSize>{QSize(64, 32), QSize(32, 16)}));
    const auto counters = renderer.counters();
    EXPECT_EQ(counters.framesShown, 4);
    EXPECT_EQ(counters.framesUnsupported, 0);
    EXPECT_EQ(counters.lastSize, QSize(32, 16));
}

TEST(Renderer, ConvertsTenBitFrames)
{
    SampleBufferRenderer renderer;
    auto buffer = webrtc::I010Buffer::Create(64, 32);
    auto fill = [](uint16_t* data, int stride, int rows, uint16_t value) {
        for (int i = 0; i < stride * rows; ++i)
            data[i] = value;
    };
    // 10-bit 480, 360, 800 is 8-bit 120, 90, 200.
    fill(buffer->MutableDataY(), buffer->StrideY(), 32, 480);
    fill(buffer->MutableDataU(), buffer->StrideU(), 16, 360);
    fill(buffer->MutableDataV(), buffer->StrideV(), 16, 800);
    renderOnAnotherThread(renderer, frameOf(buffer));
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() == 1; }));
    QColor shown = renderer.displayLayer()->picture().pixelColor(20, 20);
    EXPECT_TRUE(near(shown, expected(120, 90, 200, 0.2126, 0.0722), 4)) << shown.name().toStdString();
    EXPECT_EQ(renderer.displayLayer()->picture().size(), QSize(64, 32));
}

TEST(Renderer, FramesItCannotShowAreOnlyCounted)
{
    SampleBufferRenderer renderer;
    int sizeReports = 0;
    renderer.onSize = [&](QSize) { ++sizeReports; };
    renderOnAnotherThread(renderer, frameOf(rtc::make_ref_counted<OpaqueBuffer>()));
    ASSERT_TRUE(waitUntil([&] { return renderer.counters().framesUnsupported == 1; }));
    ASSERT_TRUE(waitForNextTurn()) << "anything it handed to the main thread is in";
    EXPECT_EQ(sizeReports, 0);
    EXPECT_EQ(renderer.displayLayer()->enqueued(), 0);
    EXPECT_EQ(renderer.counters().framesShown, 0);
    EXPECT_EQ(renderer.counters().framesUnsupported, 1);
}

// A main thread that is busy while frames keep coming finds only the newest picture
// waiting: the pictures in between are skipped, not queued (each 1080p picture is 8 MB).
TEST(Renderer, OnlyTheNewestPictureWaitsForTheMainThread)
{
    SampleBufferRenderer renderer;
    std::vector<QSize> sizes;
    renderer.onSize = [&](QSize size) { sizes.push_back(size); };
    // The decoder delivers 40 frames while the main thread does not run its events.
    std::thread decoder([&] {
        for (int i = 0; i < 39; ++i)
            renderer.renderPicture(wl::decodedPicture(frameOf(flat420(64, 32, 16 + i, 128, 128))));
        renderer.renderPicture(wl::decodedPicture(frameOf(flat420(32, 16, 255, 128, 128))));
    });
    decoder.join();
    ASSERT_TRUE(waitUntil([&] { return renderer.displayLayer()->enqueued() >= 1; }));
    ASSERT_TRUE(waitForNextTurn()) << "anything more it handed to the main thread is in";
    EXPECT_EQ(renderer.displayLayer()->enqueued(), 1);
    EXPECT_TRUE(near(renderer.displayLayer()->picture().pixelColor(5, 5), QColor(255, 255, 255), 1))
        << "the last frame is the one shown";
    EXPECT_EQ(sizes, std::vector<QSize>{QSize(32, 16)}) << "only the size of what is shown";
    EXPECT_EQ(renderer.counters().framesShown, 40);
}

TEST(Renderer, ThePictureIsFittedAndLetterboxed)
{
    SampleBufferRenderer renderer;
    FrameLayer* layer = renderer.displayLayer();
    layer->resize(400, 400);
    renderOnAnotherThread(renderer, frameOf(flat420(200, 100, 255, 128, 128)));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 1; }));
    EXPECT_EQ(layer->pictureRect(), QRectF(0, 100, 400, 200));
    QImage painted = layer->grab().toImage();
    EXPECT_EQ(painted.pixelColor(200, 50), QColor(Qt::black));
    EXPECT_TRUE(near(painted.pixelColor(200, 200), QColor(255, 255, 255), 1));
}

// A frame larger than the layer shows it is converted at the size it is shown, so that
// painting only copies it; a smaller one keeps its size. Where it lies follows the frame.
TEST(Renderer, FramesAreConvertedAtTheSizeTheyAreShown)
{
    SampleBufferRenderer renderer;
    FrameLayer* layer = renderer.displayLayer();
    layer->resize(400, 400);
    layer->show();
    ASSERT_TRUE(waitUntil([&] { return layer->isVisible(); }));
    std::vector<QSize> sizes;
    renderer.onSize = [&](QSize size) { sizes.push_back(size); };

    // 800 × 400, white on the left half, black on the right: shown as 400 × 200.
    auto buffer = webrtc::I420Buffer::Create(800, 400);
    webrtc::I420Buffer::SetBlack(buffer.get());
    for (int y = 0; y < 400; ++y)
        std::memset(buffer->MutableDataY() + y * buffer->StrideY(), 255, 400);
    renderOnAnotherThread(renderer, frameOf(buffer));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 1; }));
    EXPECT_EQ(layer->picture().size(), QSize(400, 200));
    EXPECT_EQ(sizes, std::vector<QSize>{QSize(800, 400)});
    EXPECT_EQ(layer->pictureRect(), QRectF(0, 100, 400, 200));
    QImage painted = layer->grab().toImage();
    EXPECT_EQ(painted.pixelColor(200, 50), QColor(Qt::black)) << "the bar above";
    EXPECT_TRUE(near(painted.pixelColor(100, 200), QColor(255, 255, 255), 2));
    EXPECT_TRUE(near(painted.pixelColor(300, 200), QColor(0, 0, 0), 2));

    // An odd width is shown one pixel narrower (libswscale is several times slower at
    // odd widths); the picture still lies where the frame does.
    layer->resize(401, 400);
    renderOnAnotherThread(renderer, frameOf(buffer));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 2; }));
    EXPECT_EQ(layer->picture().size(), QSize(400, 200));
    EXPECT_EQ(layer->pictureRect(), QRectF(0, 99.75, 401, 200.5));
    layer->resize(400, 400);
    renderOnAnotherThread(renderer, frameOf(buffer));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 3; }));

    // Smaller than the layer: converted as it is, scaled up while painting.
    renderOnAnotherThread(renderer, frameOf(flat420(200, 100, 255, 128, 128)));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 4; }));
    EXPECT_EQ(layer->picture().size(), QSize(200, 100));
    EXPECT_EQ(layer->pictureRect(), QRectF(0, 100, 400, 200));
    EXPECT_TRUE(near(layer->grab().toImage().pixelColor(200, 200), QColor(255, 255, 255), 1));

    // A hidden layer isn't shown at any size: the frame keeps its own.
    layer->hide();
    renderOnAnotherThread(renderer, frameOf(buffer));
    ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == 5; }));
    EXPECT_EQ(layer->picture().size(), QSize(800, 400));

    // Colours keep the frame's matrix through every change of size (the capture's
    // frames name SMPTE 170M, full range).
    webrtc::ColorSpace capture(webrtc::ColorSpace::PrimaryID::kBT709, webrtc::ColorSpace::TransferID::kBT709,
                               webrtc::ColorSpace::MatrixID::kSMPTE170M, webrtc::ColorSpace::RangeID::kFull);
    const QColor wanted = expected(120, 90, 200, 0.299, 0.114);
    long long count = 5;
    for (bool shown : {true, false, true, false}) {
        layer->setVisible(shown);
        ASSERT_TRUE(waitUntil([&] { return layer->isVisible() == shown; }));
        renderOnAnotherThread(renderer, frameOf(flat420(800, 400, 120, 90, 200), capture));
        ASSERT_TRUE(waitUntil([&] { return layer->enqueued() == count + 1; }));
        ++count;
        EXPECT_EQ(layer->picture().width(), shown ? 400 : 800);
        const QColor colour = layer->picture().pixelColor(20, 20);
        EXPECT_TRUE(near(colour, wanted)) << colour.name().toStdString() << " shown " << shown;
    }
    EXPECT_EQ(renderer.counters().lastSize, QSize(800, 400));
}

} // namespace
} // namespace wl::test
