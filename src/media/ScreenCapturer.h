#pragma once
// The host's screen capture. Runs on its own thread, "wickerlane.capture": grabs the
// shared display from its screen source (X11ScreenSource on the desktop: XShm) at the
// frame rate, with the windows registered with its CaptureExclusion blacked out and the
// cursor drawn in when it is to be shown, scales down to WLMaxWidth when set, converts
// to full-range I420 and hands the frame straight to the WebRTC video source.
//
// X11 delivers 8 bits per channel only: a 10-bit wish takes the refusal path (logged,
// tenBitRefused set, capture in 8 bits).
//
// Every member may be called from any thread. Completions run on the capture thread;
// callers that touch controllers hop to their own thread.

#include "media/FramePool.h"
#include "media/MediaSettings.h"
#include "media/ScreenVideoSource.h"
#include "media/VideoFeedback.h"
#include "platform/ScreenSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace wl {

class CaptureExclusion;

class ScreenCapturer {
public:
    // '420f' (8-bit 4:2:0 full range) or 'l10r' (10-bit RGB, never granted on X11).
    enum class PixelFormat { yuv420Full, rgb10 };

    struct Configuration {
        uint32_t displayId = 0;
        bool showsCursor = false;
        PixelFormat pixelFormat = PixelFormat::yuv420Full;
        int width = 0; // pixels sent (after WLMaxWidth)
        int height = 0;
    };

    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };

    // A running capture. The host takes it out of the capturer and hands it to stop().
    class Stream;

    // Takes the source to feed, the screen to read (used on the capture thread only;
    // without one every start fails), the registry of the windows to black out, the pool
    // the frames' buffers come from, the feedback it shares with the session's encoders
    // (the last three required: a missing one is a wiring mistake), and the settings read
    // on the main thread (WLMaxWidth); makes the capture thread.
    ScreenCapturer(rtc::scoped_refptr<ScreenVideoSource> source, std::unique_ptr<ScreenSource> screen,
                   std::shared_ptr<const CaptureExclusion> exclusion, std::shared_ptr<FramePool> framePool,
                   std::shared_ptr<VideoFeedback> feedback, MediaSettings settings = {});
    ~ScreenCapturer();
    ScreenCapturer(const ScreenCapturer&) = delete;
    ScreenCapturer& operator=(const ScreenCapturer&) = delete;

    // Flags the host sets.
    std::atomic<bool> showsCursor{false};
    std::atomic<bool> tenBit{false}; // the 10-bit wish
    std::atomic<int> frameRate{30};

    bool tenBitRefused() const;

    // Whether a capture can deliver 10 bits per channel at all. The X server hands out
    // 8 bits per channel whatever its depth, so this is false: a 10-bit wish would only
    // take the refusal path.
    static bool deliversTenBits() { return false; }

    // Frames handed to the source so far, and grabs of a still screen that were not
    // handed on.
    struct Counts {
        long long framesCaptured = 0;
        long long framesUnchanged = 0;
    };
    Counts counts() const;

    // After the last change the picture is sent on, so that the encoder sharpens it, for
    // at least this long and until our encoders have made kSharpenFrames frames since
    // (none are made before the connection stands); then a still screen is sent only
    // every kStillResend until it changes, a key frame is asked for (KeyFrameRequest), or
    // refresh() is called. While those frames of a picture at rest go out, the capture says
    // so (ScreenAtRest): the encoder keeps its bitrate for them.
    static constexpr std::chrono::milliseconds kSharpenFor{1500};
    static constexpr long long kSharpenFrames = 45;
    // The quantiser at which a still picture counts as sharp, and the longest a still
    // picture is sent on waiting for it.
    static constexpr int kSharpQp = 20;
    static constexpr std::chrono::milliseconds kSharpenAtMost{10000};
    // A still picture goes out this often; unchanged, it encodes to a few hundred bytes.
    // Without it the helper's WebRTC asks for a key frame after three seconds without a
    // picture, and the key frame after the pause throws the bandwidth estimate back to
    // its start (the host would then drop to 12 frames a second and a smaller picture
    // whenever the screen moved again); and the helper's stall watch, which asks for a
    // key frame when no picture comes for half a second while bytes do (the bandwidth
    // probes resend old packets), must not see the picture stand still that long.
    static constexpr std::chrono::milliseconds kStillResend{400};
    std::atomic<std::chrono::milliseconds> sharpenFor{kSharpenFor}; // tests change both
    std::atomic<long long> sharpenFrames{kSharpenFrames};
    // Sends the picture again (and sharpens it) although it has not changed: the viewer
    // asked for a full picture. Any thread.
    void refresh();

    std::optional<Size> captureSize() const;
    std::shared_ptr<Stream> stream() const;
    std::shared_ptr<Stream> takeStream(); // clears the capturer's stream
    std::optional<Configuration> configuration() const;

    // Starts capturing displayId (an XRandR output id; unknown → the first display)
    // with the 10-bit wish. done (optional) runs on the capture thread afterwards.
    void start(uint32_t displayId, bool tenBitWish, std::function<void()> done = {});

    // Brings the capture's pixel format up to the wish (see the class comment).
    void applyPixelFormat();

    // Brings the running capture's cursor setting up to showsCursor.
    void applyCursor(std::function<void()> done = {});

    // Moves the running capture to another display; failures are logged.
    void switchDisplay(uint32_t displayId, std::function<void()> done = {});

    // Stops that stream; ignores a null stream. Asynchronous.
    void stop(std::shared_ptr<Stream> stream, std::function<void()> done = {});

    // Runs fn on the capture thread after everything queued before it.
    void sync(std::function<void()> fn);

    static constexpr const char* threadName = "wickerlane.capture";

private:
    struct Grabbing;
    void post(std::function<void()> task);
    void run();
    bool attempt(uint32_t displayId, bool tenBits, std::string& error);
    void captureFrame();
    // Whether the grab goes out, and whether it is the picture at rest sent again.
    enum class Grab { skipped, sent, atRest };
    Grab worthSending(const uint8_t* pixels, int stride);
    void applyPixelFormatLocked(std::unique_lock<std::mutex>& lock);

    rtc::scoped_refptr<ScreenVideoSource> source_;
    const std::shared_ptr<const CaptureExclusion> exclusion_;
    const std::shared_ptr<FramePool> framePool_;
    const std::shared_ptr<VideoFeedback> feedback_;
    const MediaSettings settings_;
    std::unique_ptr<Grabbing> grabbing_; // capture-thread only

    mutable std::mutex countLock_;
    Counts counts_;

    mutable std::mutex lock_;
    std::shared_ptr<Stream> stream_;
    std::optional<Configuration> configuration_;
    std::optional<Size> captureSize_;
    bool tenBitRefused_ = false;
    std::atomic<bool> refreshWanted_{false};

    std::mutex queueLock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace wl
