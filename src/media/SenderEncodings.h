#pragma once
// The encodings a session's screen and sound go out with. The host adapts the video
// itself (resolution and frame-rate ceiling), so WebRTC's own degradation is off; the
// bitrate may range from 300 kbit/s to 16 Mbit/s; the system sound at most 128 kbit/s.
// A parameter the sender refuses is logged; the session goes on with what it has.

namespace webrtc {
class RtpSenderInterface;
}

namespace wl {

// The screen's highest bitrate: also what the host tells the library a screen stream
// may reach when it makes one (before the encodings above apply).
constexpr int kScreenMaxBitrateBps = 16'000'000;

// The helper's voice: at most Opus's own rate for a voice, given when its sender is made
// so that the library knows the voice's range before it knows the codec.
constexpr int kVoiceMaxBitrateBps = 32'000;

void configureScreenEncodings(webrtc::RtpSenderInterface& sender);
void configureSoundEncodings(webrtc::RtpSenderInterface& sender);

} // namespace wl
