#pragma once
// The one WebRTC peer-connection factory of the process.
//
// Made lazily by the first peer connection of any kind, on explicit network, worker
// and signalling threads, with our own video codec factories (H.265, then H.264, then
// the library's VP8), Opus/G.711 audio factories and the audio device held in
// factoryAudioDevice(). With the setting WLLoopbackOnly the port allocator sees only
// 127.0.0.1 (tests use it: nothing leaves the machine). The settings come as a value
// read on the main thread (MediaSettings).

#include "media/MediaSettings.h"

#include <api/audio_codecs/audio_format.h>
#include <api/media_stream_interface.h>
#include <api/peer_connection_interface.h>
#include <api/scoped_refptr.h>
#include <modules/audio_device/include/audio_device.h>
#include <rtc_base/thread.h>

#include <vector>

namespace wl {

// The slot for the audio device the factory is made with. Start-up writes it before
// the first peer connection; the factory reads it once. When empty at that moment,
// the factory uses a silent dummy device.
rtc::scoped_refptr<webrtc::AudioDeviceModule>& factoryAudioDevice();

// The process-wide factory, made on first call (SSL initialised first) with the
// settings' WLLoopbackOnly. Never null once made; returns nullptr only when the library
// refuses to make it (logged). Called on the main thread: every call hands the codec
// factories the settings' H.265 choice for the connections made from now on.
webrtc::PeerConnectionFactoryInterface* makePeerConnectionFactory(const MediaSettings& settings);

// The factory's threads (made together with the factory; nullptr before).
rtc::Thread* factorySignalingThread();
rtc::Thread* factoryWorkerThread();
rtc::Thread* factoryNetworkThread();

// (The screen-cast video source ScreenCapturer feeds is ScreenVideoSource::create(),
// in media/ScreenVideoSource.h; make its track with the factory's CreateVideoTrack.)

// The factory's receive-side video codec capabilities (for codec preferences on a
// transceiver: H.265 first, then H.264, then the rest).
std::vector<webrtc::RtpCodecCapability> preferredVideoCodecs(const MediaSettings& settings);

} // namespace wl
