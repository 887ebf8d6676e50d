#pragma once
// The host's audio device. Its recording is the system sound (the default sink's monitor,
// captured on "wickerlane.capture.audio") with the host's microphone mixed in while that
// is on; its playout is the helper's voice through the default sink.
//
// A monitor of an idle output delivers sound in bursts or not at all, so while the
// microphone is mixed in and flowing, the microphone paces the recording and the system
// sound waits in a ring; otherwise the system sound is handed on as it comes.

#include "media/SampleRing.h"
#include "media/SystemSoundCapture.h"
#include "media/VoiceAudioDevice.h"

#include <atomic>
#include <vector>

namespace wl {

class SystemAudioDevice : public VoiceAudioDevice {
public:
    struct Options {
        AudioIO::Options io;
        std::string systemSound; // source of the system sound; empty: the default sink's monitor
    };

    static SystemAudioDevice& shared();

    SystemAudioDevice(std::shared_ptr<PulseAudioBackend> backend, Options options);
    ~SystemAudioDevice() override;

    int recordingChannels() const override { return SystemSoundCapture::kChannels; }

    // Whether the microphone is mixed into the shared sound.
    bool mixing() const;
    // Switches the microphone off without a completion (the end of a session).
    void switchMicrophoneOff();

    // 10 ms of system sound (48 kHz stereo), from the capture thread: mixed with the
    // microphone and handed to the delegate while recording.
    void deliverSystemSound(const int16_t* samples, std::size_t frames);

protected:
    void microphoneSound(const int16_t* samples, std::size_t frames) override;
    void microphoneChanged(bool on) override;
    bool startRecordingPath() override;
    void stopRecordingPath() override;

private:
    bool microphoneFlowing() const;

    SystemSoundCapture systemSound_;
    SampleRing systemRing_;                   // stereo system sound waiting for the microphone
    bool mixing_ = false;                     // under stateMutex_
    std::atomic<int64_t> lastMicrophoneUs_{0}; // steady clock of the last microphone frame
    std::vector<int16_t> mixBuffer_;          // microphone thread only
};

} // namespace wl
