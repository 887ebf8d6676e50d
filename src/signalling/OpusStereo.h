#pragma once
// SDP munging for the session's sound: stereo Opus at 128 kbit/s with in-band FEC.

#include <string>

namespace wl {

// The SDP with the format-parameter line of every opus/48000 payload type carrying
// stereo=1, sprop-stereo=1, maxaveragebitrate=128000 and useinbandfec=1 (replacing
// earlier values of those four, keeping other parameters; adding the line when the
// payload type has none); other lines unchanged. Line endings are kept.
std::string preferOpusStereo(const std::string& sdp);

} // namespace wl
