#pragma once
// SDP munging for the session's sound: stereo Opus at 128 kbit/s with in-band FEC, and
// sound that plays as it comes rather than in step with the screen.

#include <string>

namespace wl {

// The SDP with the format-parameter line of every opus/48000 payload type carrying
// stereo=1, sprop-stereo=1, maxaveragebitrate=128000 and useinbandfec=1 (replacing
// earlier values of those four, keeping other parameters; adding the line when the
// payload type has none); other lines unchanged. Line endings are kept.
std::string preferOpusStereo(const std::string& sdp);

// The SDP with every audio section's tracks in no stream ("a=msid:- <track>", also in
// its "a=ssrc:<n> msid:" lines); other lines unchanged. The host sends its screen and
// sound as one stream, and WebRTC then holds each picture back until the sound beside
// it plays (tens of milliseconds): the helper reads the host's answer through this so
// that pictures are shown the moment they are decoded.
std::string soundOutOfStream(const std::string& sdp);

} // namespace wl
