#include "media/H265Encoder.h"

#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <x265.h>

namespace wl {

namespace {

// libx265 keeps a motion-cost table for every quantiser any of its encoders has used
// (about half a megabyte each, thirty-five megabytes for all seventy) in process-wide
// statics, freed only by x265_cleanup(), which must not run while one of its encoders
// is open. Each session used a few quantisers more, and so did each reopen for a new
// bitrate within a long session (the first frames after a reopen, a still picture
// sharpening, a burst of motion each reach quantisers of their own): the host's live
// memory crept up by megabytes now and then for half an hour. The tables go whenever
// the last of our encoders closes, the close of a reopen too, and the next encoder
// builds the ones it uses again, about a third of a millisecond each.
std::mutex x265Users;
int openX265Encoders = 0;

void x265InUse()
{
    std::lock_guard lock(x265Users);
    ++openX265Encoders;
}

void x265Done()
{
    std::lock_guard lock(x265Users);
    if (--openX265Encoders == 0)
        x265_cleanup();
}

EncoderSettings h265Settings()
{
    EncoderSettings settings{"libx265",
                             webrtc::kVideoCodecH265,
                             {{"preset", "ultrafast"},
                              {"tune", "zerolatency"},
                              {"forced-idr", "1"},
                              {"x265-params", H265Encoder::x265Params()}},
                             true,
                             // libx265 keeps its bitrate while open, and each reopen is a key frame: reopen
                             // at once when the target halves; when it drops by a quarter or rises by half,
                             // only after that has held for about a second (30 frames).
                             0.25,
                             0.5,
                             0.5,
                             30,
                             // Screen frames are shown as soon as they are decoded (see FfmpegVideoEncoder).
                             true};
    settings.libraryInUse = &x265InUse;
    settings.libraryDone = &x265Done;
    return settings;
}

} // namespace

const char* H265Encoder::x265Params()
{
    // SAO stays on: with it off, libx265 3.5 does not free its per-row SAO buffers when
    // the encoder closes, and every encoder closed (each reopen for a bitrate change,
    // each session's end) left about 240 kB at 1080p behind. limit-sao keeps the cost of
    // the filter down (at 1080p about 1.6 times the encoding time without SAO, against
    // twice with the full search).
    return "repeat-headers=1:scenecut=0:bframes=0:frame-threads=1:keyint=-1:sao=1:limit-sao=1:log-level=error";
}

H265Encoder::H265Encoder(std::shared_ptr<VideoFeedback> feedback)
    : FfmpegVideoEncoder(h265Settings(), std::move(feedback))
{
}

bool H265Encoder::isAvailable()
{
    return avcodec_find_encoder_by_name("libx265") != nullptr;
}

} // namespace wl
