#pragma once
// The WebRTC video source of the shared screen: a screencast source that the
// capture thread pushes frames into directly (no hop). Frames are adapted to what
// the sinks (the encoder) want before they go on.

#include <api/video/video_frame.h>
#include <media/base/adapted_video_track_source.h>

#include <atomic>

namespace wl {

class ScreenVideoSource : public rtc::AdaptedVideoTrackSource {
public:
    static rtc::scoped_refptr<ScreenVideoSource> create();

    // Any thread. Frames the adapter drops are counted, not passed on.
    void pushFrame(const webrtc::VideoFrame& frame);

    bool is_screencast() const override { return true; }
    absl::optional<bool> needs_denoising() const override { return false; }
    SourceState state() const override { return kLive; }
    bool remote() const override { return false; }

    long long framesPassed() const { return passed_.load(); }

protected:
    ScreenVideoSource() = default;

private:
    std::atomic<long long> passed_{0};
};

} // namespace wl
