#include "media/H264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

H264Decoder::H264Decoder() : FfmpegVideoDecoder(AV_CODEC_ID_H264, "h264") { }

bool H264Decoder::isAvailable()
{
    return avcodec_find_decoder(AV_CODEC_ID_H264) != nullptr;
}

} // namespace wl
