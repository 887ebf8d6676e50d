#include "media/H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

const char* H264Encoder::x264Params()
{
    return "repeat-headers=1:scenecut=0:bframes=0:keyint=infinite";
}

H264Encoder::H264Encoder(std::shared_ptr<VideoFeedback> feedback)
    : FfmpegVideoEncoder(EncoderSettings{"libx264",
                                         webrtc::kVideoCodecH264,
                                         {{"preset", "ultrafast"},
                                          {"tune", "zerolatency"},
                                          {"profile", "baseline"},
                                          {"forced-idr", "1"},
                                          {"x264-params", x264Params()}},
                                         false,
                                         0},
                         std::move(feedback))
{
}

bool H264Encoder::isAvailable()
{
    return avcodec_find_encoder_by_name("libx264") != nullptr;
}

} // namespace wl
