#pragma once
// Our H.265 encoder: libx265 through libavcodec, zero latency with one frame thread,
// 8-bit from I420 frames and Main 10 from I010 frames.
#include "media/FfmpegVideoEncoder.h"

#include <memory>

namespace wl {

class H265Encoder final : public FfmpegVideoEncoder {
public:
    // feedback: the session's; an encoder of its own (tests, benchmarks) gets one of its own.
    explicit H265Encoder(std::shared_ptr<VideoFeedback> feedback = std::make_shared<VideoFeedback>());
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoEncoder> create(std::shared_ptr<VideoFeedback> feedback)
    {
        return std::make_unique<H265Encoder>(std::move(feedback));
    }
    // The libx265 settings, also used by the benchmark's command-line reference.
    static const char* x265Params();
};

} // namespace wl
