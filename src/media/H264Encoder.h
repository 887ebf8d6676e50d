#pragma once
// Our H.264 encoder: libx264 through libavcodec, zero latency, constrained baseline
// (what the SDP offers), bitrate changes taken on the next frame.
#include "media/FfmpegVideoEncoder.h"

#include <memory>

namespace wl {

class H264Encoder final : public FfmpegVideoEncoder {
public:
    // feedback: the session's; an encoder of its own (tests, benchmarks) gets one of its own.
    explicit H264Encoder(std::shared_ptr<VideoFeedback> feedback = std::make_shared<VideoFeedback>());
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoEncoder> create(std::shared_ptr<VideoFeedback> feedback)
    {
        return std::make_unique<H264Encoder>(std::move(feedback));
    }
    static const char* x264Params();
};

} // namespace wl
