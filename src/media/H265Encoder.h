#pragma once
// Our H.265 encoder: libx265 through libavcodec, zero latency with one frame thread,
// 8-bit from I420 frames and Main 10 from I010 frames.
#include "media/FfmpegVideoEncoder.h"

#include <memory>

namespace wl {

class H265Encoder final : public FfmpegVideoEncoder {
public:
    H265Encoder();
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoEncoder> create() { return std::make_unique<H265Encoder>(); }
    // The libx265 settings, also used by the benchmark's command-line reference.
    static const char* x265Params();
};

} // namespace wl
