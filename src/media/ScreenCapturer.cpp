#include "media/ScreenCapturer.h"

#include "platform/CaptureExclusion.h"
#include "platform/Required.h"
#include "platform/Log.h"
#include "platform/ScreenSource.h"

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <rtc_base/time_utils.h>

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace wl {

namespace {

// The size sent for a display of this size: maxWidth wide at most (when at least 2), even
// numbers.
ScreenCapturer::Size sentSize(const ScreenRect& rect, double maxWidth)
{
    ScreenCapturer::Size size{rect.width, rect.height};
    if (maxWidth >= 2 && size.width > maxWidth) {
        int w = int(maxWidth) & ~1;
        int h = int(std::lround(double(size.height) * w / size.width)) & ~1;
        size = {w, std::max(2, h)};
    }
    return size;
}

} // namespace

class ScreenCapturer::Stream {
public:
    uint32_t displayId = 0;
    std::atomic<bool> stopped{false};
};

// What the capture thread keeps between frames.
struct ScreenCapturer::Grabbing {
    std::unique_ptr<ScreenSource> screen;
    ScreenRect region;
    std::vector<uint8_t> scaled;
    // The last picture handed on (rows packed), and when it last changed and was last
    // handed on: a still screen is sent again only now and then.
    std::vector<uint8_t> previous;
    std::chrono::steady_clock::time_point lastChange{};
    std::chrono::steady_clock::time_point lastSent{};
    long long encodedAtChange = 0;

    bool open(std::string& error)
    {
        if (!screen) {
            error = "there is no screen to read";
            return false;
        }
        return screen->open(error);
    }

    bool prepare(const ScreenRect& rect, std::string& error)
    {
        previous.clear();
        region = rect;
        return screen->prepare(rect, error);
    }
};

ScreenCapturer::ScreenCapturer(rtc::scoped_refptr<ScreenVideoSource> source, std::unique_ptr<ScreenSource> screen,
                               std::shared_ptr<const CaptureExclusion> exclusion, std::shared_ptr<FramePool> framePool,
                               std::shared_ptr<VideoFeedback> feedback, MediaSettings settings)
    : source_(std::move(source)),
      exclusion_(required(std::move(exclusion), "The screen capture", "a capture exclusion")),
      framePool_(required(std::move(framePool), "The screen capture", "a frame pool")),
      feedback_(required(std::move(feedback), "The screen capture", "a video feedback")), settings_(settings),
      grabbing_(std::make_unique<Grabbing>())
{
    grabbing_->screen = std::move(screen);
    thread_ = std::thread([this] { run(); });
}

ScreenCapturer::~ScreenCapturer()
{
    {
        std::lock_guard guard(queueLock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

ScreenCapturer::Counts ScreenCapturer::counts() const
{
    std::lock_guard guard(countLock_);
    return counts_;
}

bool ScreenCapturer::tenBitRefused() const
{
    std::lock_guard guard(lock_);
    return tenBitRefused_;
}

std::optional<ScreenCapturer::Size> ScreenCapturer::captureSize() const
{
    std::lock_guard guard(lock_);
    return captureSize_;
}

std::shared_ptr<ScreenCapturer::Stream> ScreenCapturer::stream() const
{
    std::lock_guard guard(lock_);
    return stream_;
}

std::shared_ptr<ScreenCapturer::Stream> ScreenCapturer::takeStream()
{
    std::lock_guard guard(lock_);
    return std::exchange(stream_, nullptr);
}

std::optional<ScreenCapturer::Configuration> ScreenCapturer::configuration() const
{
    std::lock_guard guard(lock_);
    return configuration_;
}

void ScreenCapturer::post(std::function<void()> task)
{
    {
        std::lock_guard guard(queueLock_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void ScreenCapturer::sync(std::function<void()> fn)
{
    post(std::move(fn));
}

void ScreenCapturer::run()
{
    // The kernel keeps 15 characters of a thread name: "wickerlane.capt".
    prctl(PR_SET_NAME, threadName, 0, 0, 0);
    using clock = std::chrono::steady_clock;
    auto next = clock::now();
    std::unique_lock queue(queueLock_);
    while (!quit_) {
        bool capturing = stream() != nullptr;
        if (tasks_.empty()) {
            if (capturing)
                wake_.wait_until(queue, next, [&] { return quit_ || !tasks_.empty(); });
            else
                wake_.wait(queue, [&] { return quit_ || !tasks_.empty(); });
        }
        if (quit_)
            break;
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            queue.unlock();
            task();
            queue.lock();
        }
        if (!stream()) {
            next = clock::now();
            continue;
        }
        auto now = clock::now();
        if (now >= next) {
            queue.unlock();
            captureFrame();
            queue.lock();
            auto interval = std::chrono::microseconds(1'000'000 / std::max(1, frameRate.load()));
            next += interval;
            if (next < clock::now())
                next = clock::now() + interval; // fell behind: skip, do not burst
        }
    }
    queue.unlock();
    grabbing_.reset();
}

bool ScreenCapturer::attempt(uint32_t displayId, bool tenBits, std::string& error)
{
    if (tenBits) {
        error = "the X server delivers 8 bits per channel only";
        return false;
    }
    if (!grabbing_->open(error))
        return false;
    ScreenRect rect;
    uint32_t chosen = 0;
    if (!grabbing_->screen->findDisplay(displayId, rect, chosen))
        Log::line("Wickerlane: display " + std::to_string(displayId) + " not found; sharing display " +
                  std::to_string(chosen));
    if (!grabbing_->prepare(rect, error))
        return false;
    const Size size = sentSize(rect, settings_.maxWidth);
    auto stream = std::make_shared<Stream>();
    stream->displayId = chosen;
    std::lock_guard guard(lock_);
    if (stream_)
        stream_->stopped = true;
    stream_ = stream;
    Configuration configuration;
    configuration.displayId = chosen;
    configuration.showsCursor = showsCursor.load() && grabbing_->screen->canShowCursor();
    configuration.width = size.width;
    configuration.height = size.height;
    configuration_ = configuration;
    captureSize_ = size;
    return true;
}

void ScreenCapturer::start(uint32_t displayId, bool tenBitWish, std::function<void()> done)
{
    tenBit = tenBitWish;
    // The capture thread reads no settings, only the value the capturer was made with.
    post([this, displayId, tenBitWish, done = std::move(done)] {
        std::string error;
        bool started = attempt(displayId, tenBitWish, error);
        if (!started && tenBitWish) {
            Log::line("Wickerlane: 10-bit capture refused, using 8-bit: " + error);
            {
                std::lock_guard guard(lock_);
                tenBitRefused_ = true;
            }
            error.clear();
            started = attempt(displayId, false, error);
        }
        if (!started) {
            Log::line("Wickerlane: screen capture failed (is Screen Recording allowed?): " + error);
        } else {
            if (showsCursor.load() && !grabbing_->screen->canShowCursor())
                Log::line("Wickerlane: could not change cursor capture: the X server has no XFixes");
            applyPixelFormat();
        }
        if (done)
            done();
    });
}

void ScreenCapturer::applyPixelFormat()
{
    std::unique_lock guard(lock_);
    applyPixelFormatLocked(guard);
}

void ScreenCapturer::applyPixelFormatLocked(std::unique_lock<std::mutex>& lock)
{
    (void)lock;
    if (!stream_ || !configuration_)
        return;
    PixelFormat wanted = tenBit.load() && !tenBitRefused_ ? PixelFormat::rgb10 : PixelFormat::yuv420Full;
    if (wanted == configuration_->pixelFormat)
        return;
    if (wanted == PixelFormat::rgb10) {
        Log::line("Wickerlane: 10-bit capture refused, staying 8-bit: the X server delivers 8 bits per channel only");
        tenBitRefused_ = true;
        applyPixelFormatLocked(lock); // now wants 8 bits, which it has
        return;
    }
    configuration_->pixelFormat = wanted;
}

void ScreenCapturer::applyCursor(std::function<void()> done)
{
    post([this, done = std::move(done)] {
        bool wanted = showsCursor.load();
        const bool canShowCursor = grabbing_->screen && grabbing_->screen->canShowCursor();
        bool changed = false;
        {
            std::lock_guard guard(lock_);
            if (configuration_ && configuration_->showsCursor != wanted) {
                if (wanted && !canShowCursor) {
                    changed = false;
                } else {
                    configuration_->showsCursor = wanted;
                    changed = true;
                }
            }
        }
        if (wanted && !changed && !canShowCursor && configuration())
            Log::line("Wickerlane: could not change cursor capture: the X server has no XFixes");
        if (done)
            done();
    });
}

void ScreenCapturer::switchDisplay(uint32_t displayId, std::function<void()> done)
{
    post([this, displayId, done = std::move(done)] {
        if (stream()) {
            ScreenRect rect;
            uint32_t chosen = 0;
            std::string error;
            if (!grabbing_->screen->findDisplay(displayId, rect, chosen)) {
                Log::line("Wickerlane: could not switch the shared display: display " + std::to_string(displayId) +
                          " not found");
            } else if (!grabbing_->prepare(rect, error)) {
                Log::line("Wickerlane: could not switch the shared display: " + error);
            } else {
                const Size size = sentSize(rect, settings_.maxWidth);
                std::lock_guard guard(lock_);
                if (stream_)
                    stream_->displayId = chosen;
                if (configuration_) {
                    configuration_->displayId = chosen;
                    configuration_->width = size.width;
                    configuration_->height = size.height;
                }
                captureSize_ = size;
            }
        }
        if (done)
            done();
    });
}

void ScreenCapturer::stop(std::shared_ptr<Stream> stream, std::function<void()> done)
{
    if (!stream) {
        if (done)
            post(std::move(done));
        return;
    }
    stream->stopped = true;
    post([this, stream, done = std::move(done)] {
        {
            std::lock_guard guard(lock_);
            if (stream_ == stream)
                stream_.reset();
        }
        if (!this->stream() && grabbing_->screen)
            grabbing_->screen->release();
        if (done)
            done();
    });
}

ScreenCapturer::Grab ScreenCapturer::worthSending(const uint8_t* pixels, int stride)
{
    // A screen that doesn't change costs next to nothing: after a change the picture is
    // sent on until the encoder has sharpened it, and then only every kStillResend (an
    // unchanged picture encodes to a few hundred bytes) until it changes again, a key
    // frame is asked for, or refresh() asks for it. Any change goes out at once.
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    const ScreenRect& region = grabbing_->region;
    const std::size_t rowBytes = std::size_t(region.width) * 4;
    std::vector<uint8_t>& previous = grabbing_->previous;
    const auto row = [&](int y) { return pixels + std::size_t(y) * std::size_t(stride); };
    const auto kept = [&](int y) { return previous.data() + std::size_t(y) * rowBytes; };
    bool changed = false;
    if (previous.size() != rowBytes * std::size_t(region.height)) {
        previous.resize(rowBytes * std::size_t(region.height));
        for (int y = 0; y < region.height; ++y)
            std::memcpy(kept(y), row(y), rowBytes);
        changed = true;
    } else {
        // Only the band between the first and the last changed row is copied.
        int first = 0;
        while (first < region.height && std::memcmp(kept(first), row(first), rowBytes) == 0)
            ++first;
        if (first < region.height) {
            int last = region.height - 1;
            while (last > first && std::memcmp(kept(last), row(last), rowBytes) == 0)
                --last;
            for (int y = first; y <= last; ++y)
                std::memcpy(kept(y), row(y), rowBytes);
            changed = true;
        }
    }
    const bool wanted = refreshWanted_.exchange(false) || feedback_->keyFrameRequestPending();
    if (changed || wanted) {
        grabbing_->lastChange = now;
        grabbing_->encodedAtChange = feedback_->encodedFrameCount();
    }
    // Sharpened: long enough, the encoder has had enough frames of it (none are encoded
    // before the connection stands), and its last frame came out fine, or the encoder
    // has had its chance (a thin link never gets there).
    const auto still = now - grabbing_->lastChange;
    const int qp = feedback_->lastEncodedQp();
    const bool sharp = qp <= kSharpQp || still >= kSharpenAtMost;
    const bool atRest = !changed && !wanted && still >= sharpenFor.load() &&
        feedback_->encodedFrameCount() - grabbing_->encodedAtChange >= sharpenFrames.load() && sharp;
    if (atRest && now - grabbing_->lastSent < kStillResend) {
        std::lock_guard guard(countLock_);
        ++counts_.framesUnchanged;
        return Grab::skipped;
    }
    grabbing_->lastSent = now;
    return atRest ? Grab::atRest : Grab::sent;
}

void ScreenCapturer::refresh()
{
    refreshWanted_ = true;
}

void ScreenCapturer::captureFrame()
{
    auto configuration = this->configuration();
    auto current = stream();
    if (!configuration || !current || current->stopped)
        return;
    std::string error;
    auto grabbed = grabbing_->screen->grab(exclusion_->windows(),
                                           configuration->showsCursor && grabbing_->screen->canShowCursor(), error);
    if (!grabbed)
        return;
    uint8_t* pixels = grabbed->pixels;
    const int stride = grabbed->stride;
    const ScreenRect& region = grabbing_->region;

    const Grab grab = worthSending(pixels, stride);
    if (grab == Grab::skipped)
        return;
    // X gives 32-bit pixels with undefined padding bytes: force them opaque-agnostic.
    const uint8_t* argb = pixels;
    int argbStride = stride;
    int width = region.width, height = region.height;
    if (configuration->width != width || configuration->height != height) {
        grabbing_->scaled.resize(size_t(configuration->width) * size_t(configuration->height) * 4);
        libyuv::ARGBScale(pixels, stride, width, height, grabbing_->scaled.data(), configuration->width * 4,
                          configuration->width, configuration->height, libyuv::kFilterBox);
        argb = grabbing_->scaled.data();
        argbStride = configuration->width * 4;
        width = configuration->width;
        height = configuration->height;
    }
    auto buffer = framePool_->i420(width, height);
    libyuv::ARGBToJ420(argb, argbStride, buffer->MutableDataY(), buffer->StrideY(), buffer->MutableDataU(),
                       buffer->StrideU(), buffer->MutableDataV(), buffer->StrideV(), width, height);
    webrtc::VideoFrame frame = webrtc::VideoFrame::Builder()
                                   .set_video_frame_buffer(buffer)
                                   .set_timestamp_us(rtc::TimeMicros())
                                   .set_color_space(webrtc::ColorSpace(
                                       webrtc::ColorSpace::PrimaryID::kBT709, webrtc::ColorSpace::TransferID::kBT709,
                                       webrtc::ColorSpace::MatrixID::kSMPTE170M, webrtc::ColorSpace::RangeID::kFull))
                                   .build();
    feedback_->setScreenAtRest(grab == Grab::atRest);
    source_->pushFrame(frame);
    std::lock_guard guard(countLock_);
    ++counts_.framesCaptured;
}

} // namespace wl
