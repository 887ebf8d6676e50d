#pragma once
// The audio device of one session role behind SessionAudioDevice: the host's
// (SystemAudioDevice) or the helper's (PlaybackAudioDevice).

#include "media/MicrophoneResult.h"

#include <functional>

namespace wl {

class AudioDeviceDelegate;
class AudioIO;

class RoleAudioDevice {
public:
    virtual ~RoleAudioDevice() = default;

    virtual void setDelegate(AudioDeviceDelegate* delegate) = 0;
    virtual AudioIO& io() = 0;

    virtual bool startPlayout() = 0;
    virtual void stopPlayout() = 0;
    virtual bool isPlaying() const = 0;
    virtual bool startRecording() = 0;
    virtual void stopRecording() = 0;
    virtual bool isRecording() const = 0;
    virtual int recordingChannels() const = 0;

    // Switches the microphone and later calls completion on the main thread; afterwards
    // io().microphoneOn holds the real state.
    virtual void setMicrophone(bool on, std::function<void(MicrophoneResult)> completion) = 0;
    // Follows a changed input device: a microphone left on moves to the input device there
    // is now, stops while there is none, and comes back with the next.
    virtual void inputInterrupted() = 0;
    // Whether the person left the microphone on: it records, or waits for an input device.
    virtual bool microphoneLeftOn() const = 0;
    // Called on the main thread after the microphone stopped or came back by itself, its
    // input device gone or back; the watcher reads io().microphoneOn and microphoneLeftOn.
    virtual int addMicrophoneWatcher(std::function<void()> watcher) = 0;
    virtual void removeMicrophoneWatcher(int id) = 0;
};

} // namespace wl
