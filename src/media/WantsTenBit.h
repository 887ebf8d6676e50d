#pragma once
// Whether the host should ask for a 10-bit (Main 10) H.265 picture: H.265 is not
// disabled (WLDisableH265), this machine can decode H.265 (the hevc decoder is present),
// 10 bits are not disabled (WLDisable10Bit) and the screen capture can deliver 10 bits
// at all (on X11 it cannot, so no session asks for them and logs a refusal).

#include "media/MediaSettings.h"

namespace wl {

bool wantsTenBitH265(const MediaSettings& settings);

// True when libavcodec has an H.265 decoder (our stand-in for a hardware-decode check).
bool canDecodeH265();

} // namespace wl
