#pragma once
// The encodings a session's screen and sound go out with. The host adapts the video
// itself (resolution and frame-rate ceiling), so WebRTC's own degradation is off; the
// bitrate may range from 300 kbit/s to 16 Mbit/s; the system sound at most 128 kbit/s.
// A parameter the sender refuses is logged; the session goes on with what it has.

namespace webrtc {
class RtpSenderInterface;
}

namespace wl {

void configureScreenEncodings(webrtc::RtpSenderInterface& sender);
void configureSoundEncodings(webrtc::RtpSenderInterface& sender);

} // namespace wl
