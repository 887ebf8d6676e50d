#include "media/WantsTenBit.h"

#include "media/ScreenCapturer.h"
#include "platform/Defaults.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace wl {

bool canDecodeH265()
{
    return avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr;
}

bool wantsTenBitH265()
{
    auto& defaults = Defaults::standard();
    return !defaults.boolValue("WLDisableH265") && canDecodeH265() && !defaults.boolValue("WLDisable10Bit") &&
        ScreenCapturer::deliversTenBits();
}

} // namespace wl
