#pragma once
// The helper's audio device: its playout is the host's sound through the default sink;
// its recording is the helper's microphone while that is on.

#include "media/VoiceAudioDevice.h"

namespace wl {

class PlaybackAudioDevice : public VoiceAudioDevice {
public:
    PlaybackAudioDevice(std::shared_ptr<PulseAudioBackend> backend, AudioIO::Options options);
    ~PlaybackAudioDevice() override;

    int recordingChannels() const override { return 1; }

    // Switches the microphone off at once (a session ending): the engine restarts
    // without it, it no longer counts as left on, and the delegate is told that the
    // input changed.
    void switchMicrophoneOff();

protected:
    void microphoneSound(const int16_t* samples, std::size_t frames) override;
};

} // namespace wl
