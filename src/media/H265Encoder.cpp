#include "media/H265Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

const char* H265Encoder::x265Params()
{
    // SAO stays on: with it off, libx265 3.5 does not free its per-row SAO buffers when
    // the encoder closes, and every encoder closed (each reopen for a bitrate change,
    // each session's end) left about 200 kB at 1080p behind. It costs about a fifth
    // more encoding time.
    return "repeat-headers=1:scenecut=0:bframes=0:frame-threads=1:keyint=-1:sao=1:log-level=error";
}

H265Encoder::H265Encoder()
    : FfmpegVideoEncoder(EncoderSettings{
          "libx265",
          webrtc::kVideoCodecH265,
          {{"preset", "ultrafast"}, {"tune", "zerolatency"}, {"forced-idr", "1"}, {"x265-params", x265Params()}},
          true,
          // libx265 keeps its bitrate while open, and each reopen is a key frame: reopen
          // at once when the target halves; when it drops by a quarter or rises by half,
          // only after that has held for about a second (30 frames).
          0.25,
          0.5,
          0.5,
          30,
          // Screen frames are shown as soon as they are decoded (see FfmpegVideoEncoder).
          true})
{
}

bool H265Encoder::isAvailable()
{
    return avcodec_find_encoder_by_name("libx265") != nullptr;
}

} // namespace wl
