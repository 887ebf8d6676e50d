#include "media/H265Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

H265Decoder::H265Decoder() : FfmpegVideoDecoder(AV_CODEC_ID_HEVC, "hevc") { }

bool H265Decoder::isAvailable()
{
    return avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr;
}

} // namespace wl
