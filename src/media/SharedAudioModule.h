#pragma once
// One audio device module under several peer-connection factories. WebRTC's voice
// engine takes its module as its own: it registers its callback (replacing any other),
// starts playout and recording as streams come and go, and on the factory's end stops
// both and terminates the module. Each factory therefore gets a handle of its own over
// the shared device: recorded sound goes to every factory that records, playout comes
// from the latest one that plays, and the device stops only when no handle still wants
// it. The device itself is terminated when the shared module ends (after every factory).
//
// Handles are called on WebRTC's worker thread, the device's callbacks on its audio
// threads.

#include <api/scoped_refptr.h>
#include <modules/audio_device/include/audio_device.h>

#include <memory>

namespace wl {

class SharedAudioModule {
public:
    explicit SharedAudioModule(rtc::scoped_refptr<webrtc::AudioDeviceModule> device);
    // Stops the device and terminates it. Every factory made with a handle has ended.
    ~SharedAudioModule();
    SharedAudioModule(const SharedAudioModule&) = delete;
    SharedAudioModule& operator=(const SharedAudioModule&) = delete;

    // A module for one more factory.
    rtc::scoped_refptr<webrtc::AudioDeviceModule> handle();

private:
    struct State;
    class Handle;
    std::shared_ptr<State> state_;
};

} // namespace wl
