#pragma once
// A peer-connection factory of the media engine (MediaEngine), for the peers that make
// their connections, tracks and transceivers from it; and the audio module a test hands
// the engine in place of the audio devices.

#include <api/peer_connection_interface.h>
#include <api/scoped_refptr.h>
#include <modules/audio_device/include/audio_device.h>

#include <vector>

namespace wl {

struct AudioModuleChoice {
    rtc::scoped_refptr<webrtc::AudioDeviceModule> module;
};

class PeerFactory {
public:
    explicit PeerFactory(rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory)
        : factory_(std::move(factory))
    {
    }

    webrtc::PeerConnectionFactoryInterface* get() const { return factory_.get(); }
    webrtc::PeerConnectionFactoryInterface* operator->() const { return factory_.get(); }

    // The receive-side video codec capabilities, for codec preferences on a transceiver:
    // H.265 first, then H.264, then the rest.
    std::vector<webrtc::RtpCodecCapability> preferredVideoCodecs() const;

private:
    rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory_;
};

} // namespace wl
