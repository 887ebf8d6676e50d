#include "media/ScreenCapturer.h"

#include "media/EncodedFrames.h"
#include "media/KeyFrameRequest.h"
#include "media/XGrab.h"
#include "platform/CaptureExclusion.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <rtc_base/time_utils.h>

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace wl {

namespace {

using xgrab::Rect;

} // namespace

class ScreenCapturer::Stream {
public:
    uint32_t displayId = 0;
    std::atomic<bool> stopped{false};
};

struct ScreenCapturer::X {
    Display* display = nullptr;
    Window root = 0;
    bool shm = false;
    bool fixes = false;
    XShmSegmentInfo segment{};
    XImage* image = nullptr;
    Rect region;
    std::vector<uint8_t> scaled;
    // The last picture handed on (rows packed), and when it last changed and was last
    // handed on: a still screen is sent again only now and then.
    std::vector<uint8_t> previous;
    std::chrono::steady_clock::time_point lastChange{};
    std::chrono::steady_clock::time_point lastSent{};
    long long encodedAtChange = 0;

    ~X()
    {
        releaseImage();
        if (display)
            XCloseDisplay(display);
    }

    bool open(std::string& error)
    {
        if (display)
            return true;
        xgrab::errorCount(); // X errors are counted, never fatal
        display = XOpenDisplay(nullptr);
        if (!display) {
            error = "cannot open the X display";
            return false;
        }
        root = DefaultRootWindow(display);
        shm = XShmQueryExtension(display);
        int eventBase = 0, errorBase = 0;
        fixes = XFixesQueryExtension(display, &eventBase, &errorBase);
        return true;
    }

    void releaseImage()
    {
        if (!image)
            return;
        if (shm) {
            XShmDetach(display, &segment);
            XSync(display, False);
            XDestroyImage(image);
            shmdt(segment.shmaddr);
        } else {
            XDestroyImage(image);
        }
        image = nullptr;
    }

    bool findDisplay(uint32_t displayId, Rect& rect, uint32_t& chosen)
    {
        return xgrab::findDisplay(display, root, displayId, rect, chosen);
    }

    bool prepare(const Rect& rect, std::string& error)
    {
        releaseImage();
        previous.clear();
        region = rect;
        if (rect.width <= 0 || rect.height <= 0) {
            error = "the display has no size";
            return false;
        }
        if (shm) {
            Visual* visual = DefaultVisual(display, DefaultScreen(display));
            int depth = DefaultDepth(display, DefaultScreen(display));
            image = XShmCreateImage(display, visual, unsigned(depth), ZPixmap, nullptr, &segment, unsigned(rect.width),
                                    unsigned(rect.height));
            if (image) {
                segment.shmid =
                    shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * size_t(image->height), IPC_CREAT | 0600);
                segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
                segment.readOnly = False;
                shmctl(segment.shmid, IPC_RMID, nullptr);
                int before = xgrab::errorCount();
                if (segment.shmaddr == reinterpret_cast<char*>(-1) || !XShmAttach(display, &segment)) {
                    XDestroyImage(image);
                    image = nullptr;
                    shm = false;
                } else {
                    XSync(display, False);
                    if (xgrab::errorCount() != before) { // e.g. a remote X server: no shared memory
                        XDestroyImage(image);
                        shmdt(segment.shmaddr);
                        image = nullptr;
                        shm = false;
                    }
                }
            } else {
                shm = false;
            }
        }
        return true;
    }

    // Grabs the region into an ARGB (little-endian BGRA) image; null on failure.
    XImage* grab()
    {
        if (shm && image) {
            if (!XShmGetImage(display, root, image, region.x, region.y, AllPlanes))
                return nullptr;
            return image;
        }
        if (image)
            XDestroyImage(image);
        image = XGetImage(display, root, region.x, region.y, unsigned(region.width), unsigned(region.height), AllPlanes,
                          ZPixmap);
        return image;
    }

    // Blends the current cursor (premultiplied ARGB) onto the frame.
    void compositeCursor(uint8_t* pixels, int stride)
    {
        XFixesCursorImage* cursor = XFixesGetCursorImage(display);
        if (!cursor)
            return;
        int left = int(cursor->x) - int(cursor->xhot) - region.x;
        int top = int(cursor->y) - int(cursor->yhot) - region.y;
        for (int cy = 0; cy < int(cursor->height); ++cy) {
            int y = top + cy;
            if (y < 0 || y >= region.height)
                continue;
            for (int cx = 0; cx < int(cursor->width); ++cx) {
                int x = left + cx;
                if (x < 0 || x >= region.width)
                    continue;
                auto argb = uint32_t(cursor->pixels[size_t(cy) * cursor->width + size_t(cx)]); // low 32 bits
                uint32_t alpha = argb >> 24;
                if (alpha == 0)
                    continue;
                uint8_t* p = pixels + size_t(y) * size_t(stride) + size_t(x) * 4;
                uint32_t inverse = 255 - alpha;
                p[0] = uint8_t((argb & 0xff) + (p[0] * inverse + 127) / 255);
                p[1] = uint8_t(((argb >> 8) & 0xff) + (p[1] * inverse + 127) / 255);
                p[2] = uint8_t(((argb >> 16) & 0xff) + (p[2] * inverse + 127) / 255);
            }
        }
        XFree(cursor);
    }
};

ScreenCapturer::ScreenCapturer(rtc::scoped_refptr<ScreenVideoSource> source)
    : source_(std::move(source)), x_(std::make_unique<X>())
{
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
    x_.reset();
}

bool ScreenCapturer::attempt(uint32_t displayId, bool tenBits, std::string& error)
{
    if (tenBits) {
        error = "the X server delivers 8 bits per channel only";
        return false;
    }
    if (!x_->open(error))
        return false;
    Rect rect;
    uint32_t chosen = 0;
    x_->findDisplay(displayId, rect, chosen);
    if (!x_->prepare(rect, error))
        return false;
    Size size{rect.width, rect.height};
    double maxWidth = Defaults::standard().number("WLMaxWidth").value_or(0);
    if (maxWidth >= 2 && size.width > maxWidth) {
        int w = int(maxWidth) & ~1;
        int h = int(std::lround(double(size.height) * w / size.width)) & ~1;
        size = {w, std::max(2, h)};
    }
    auto stream = std::make_shared<Stream>();
    stream->displayId = chosen;
    std::lock_guard guard(lock_);
    if (stream_)
        stream_->stopped = true;
    stream_ = stream;
    Configuration configuration;
    configuration.displayId = chosen;
    configuration.showsCursor = showsCursor.load() && x_->fixes;
    configuration.width = size.width;
    configuration.height = size.height;
    configuration_ = configuration;
    captureSize_ = size;
    return true;
}

void ScreenCapturer::start(uint32_t displayId, bool tenBitWish, std::function<void()> done)
{
    tenBit = tenBitWish;
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
            if (showsCursor.load() && !x_->fixes)
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
        bool changed = false;
        {
            std::lock_guard guard(lock_);
            if (configuration_ && configuration_->showsCursor != wanted) {
                if (wanted && !x_->fixes) {
                    changed = false;
                } else {
                    configuration_->showsCursor = wanted;
                    changed = true;
                }
            }
        }
        if (wanted && !changed && !x_->fixes && configuration())
            Log::line("Wickerlane: could not change cursor capture: the X server has no XFixes");
        if (done)
            done();
    });
}

void ScreenCapturer::switchDisplay(uint32_t displayId, std::function<void()> done)
{
    post([this, displayId, done = std::move(done)] {
        if (stream()) {
            Rect rect;
            uint32_t chosen = 0;
            std::string error;
            if (!x_->findDisplay(displayId, rect, chosen)) {
                Log::line("Wickerlane: could not switch the shared display: display " + std::to_string(displayId) +
                          " not found");
            } else if (!x_->prepare(rect, error)) {
                Log::line("Wickerlane: could not switch the shared display: " + error);
            } else {
                Size size{rect.width, rect.height};
                double maxWidth = Defaults::standard().number("WLMaxWidth").value_or(0);
                if (maxWidth >= 2 && size.width > maxWidth) {
                    int w = int(maxWidth) & ~1;
                    size = {w, std::max(2, int(std::lround(double(size.height) * w / size.width)) & ~1)};
                }
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
        if (!this->stream())
            x_->releaseImage();
        if (done)
            done();
    });
}

bool ScreenCapturer::worthSending(const uint8_t* pixels, int stride)
{
    // A screen that doesn't change costs next to nothing: after a change the picture is
    // sent on until the encoder has sharpened it, and then only every kStillResend (an
    // unchanged picture encodes to a few hundred bytes) until it changes again, a key
    // frame is asked for, or refresh() asks for it. Any change goes out at once.
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    const Rect& region = x_->region;
    const std::size_t rowBytes = std::size_t(region.width) * 4;
    std::vector<uint8_t>& previous = x_->previous;
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
    const bool wanted = refreshWanted_.exchange(false) || keyFrameRequestPending();
    if (changed || wanted) {
        x_->lastChange = now;
        x_->encodedAtChange = encodedFrameCount();
    }
    // Sharpened: long enough, the encoder has had enough frames of it (none are encoded
    // before the connection stands), and its last frame came out fine, or the encoder
    // has had its chance (a thin link never gets there).
    const auto still = now - x_->lastChange;
    const int qp = lastEncodedQp();
    const bool sharp = qp <= kSharpQp || still >= kSharpenAtMost;
    if (still >= sharpenFor.load() && encodedFrameCount() - x_->encodedAtChange >= sharpenFrames.load() && sharp &&
        now - x_->lastSent < kStillResend) {
        std::lock_guard guard(countLock);
        ++framesUnchanged;
        return false;
    }
    x_->lastSent = now;
    return true;
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
    XImage* image = x_->grab();
    if (!image || image->bits_per_pixel != 32)
        return;
    auto* pixels = reinterpret_cast<uint8_t*>(image->data);
    const int stride = image->bytes_per_line;
    const Rect& region = x_->region;

    // Excluded windows go black before anything else sees the picture.
    xgrab::blackOut(pixels, stride, region,
                    xgrab::viewableWindows(x_->display, x_->root, CaptureExclusion::shared().windows()));
    if (configuration->showsCursor && x_->fixes)
        x_->compositeCursor(pixels, stride);
    if (!worthSending(pixels, stride))
        return;
    // X gives 32-bit pixels with undefined padding bytes: force them opaque-agnostic.
    const uint8_t* argb = pixels;
    int argbStride = stride;
    int width = region.width, height = region.height;
    if (configuration->width != width || configuration->height != height) {
        x_->scaled.resize(size_t(configuration->width) * size_t(configuration->height) * 4);
        libyuv::ARGBScale(pixels, stride, width, height, x_->scaled.data(), configuration->width * 4,
                          configuration->width, configuration->height, libyuv::kFilterBox);
        argb = x_->scaled.data();
        argbStride = configuration->width * 4;
        width = configuration->width;
        height = configuration->height;
    }
    auto buffer = webrtc::I420Buffer::Create(width, height);
    libyuv::ARGBToJ420(argb, argbStride, buffer->MutableDataY(), buffer->StrideY(), buffer->MutableDataU(),
                       buffer->StrideU(), buffer->MutableDataV(), buffer->StrideV(), width, height);
    webrtc::VideoFrame frame = webrtc::VideoFrame::Builder()
                                   .set_video_frame_buffer(buffer)
                                   .set_timestamp_us(rtc::TimeMicros())
                                   .set_color_space(webrtc::ColorSpace(
                                       webrtc::ColorSpace::PrimaryID::kBT709, webrtc::ColorSpace::TransferID::kBT709,
                                       webrtc::ColorSpace::MatrixID::kSMPTE170M, webrtc::ColorSpace::RangeID::kFull))
                                   .build();
    source_->pushFrame(frame);
    std::lock_guard guard(countLock);
    ++framesCaptured;
}

} // namespace wl
