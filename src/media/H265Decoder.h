#pragma once
// Our H.265 decoder: libavcodec's hevc (VAAPI when present). A Main 10 stream comes
// out as 10-bit I010 buffers, an 8-bit one as I420; both full range.
#include "media/FfmpegVideoDecoder.h"

#include <memory>

namespace wl {

class H265Decoder final : public FfmpegVideoDecoder {
public:
    H265Decoder();
    static bool isAvailable();
    static std::unique_ptr<webrtc::VideoDecoder> create() { return std::make_unique<H265Decoder>(); }
};

} // namespace wl
