#pragma once
// Our H.264 encoder: libx264 through libavcodec, zero latency, constrained baseline
// (what the SDP offers), bitrate changes taken on the next frame.
#include "media/FfmpegVideoEncoder.h"

#include <memory>

namespace wl {

class H264Encoder final : public FfmpegVideoEncoder {
public:
    H264Encoder();
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoEncoder> create() { return std::make_unique<H264Encoder>(); }
    static const char* x264Params();
};

} // namespace wl
