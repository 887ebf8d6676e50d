#include "media/WantsTenBit.h"

#include "media/ScreenCapturer.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

bool canDecodeH265()
{
    return avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr;
}

bool wantsTenBitH265(const MediaSettings& settings)
{
    return settings.h265 && canDecodeH265() && settings.tenBit && ScreenCapturer::deliversTenBits();
}

} // namespace wl
