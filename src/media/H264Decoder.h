#pragma once
// Our H.264 decoder: libavcodec's h264 (VAAPI when present), 8-bit I420 buffers.
#include "media/FfmpegVideoDecoder.h"

#include <memory>

namespace wl {

class H264Decoder final : public FfmpegVideoDecoder {
public:
    H264Decoder();
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoDecoder> create() { return std::make_unique<H264Decoder>(); }
};

} // namespace wl
