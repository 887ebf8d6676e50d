#pragma once
// The host's audio device. Its recording is the system sound (the default sink's monitor,
// captured on "wickerlane.capture.audio") with the host's microphone mixed in while that
// is on; its playout is the helper's voice through the default sink.
//
// A monitor of an idle output delivers sound in bursts or not at all, so while the
// microphone is mixed in and flowing, the microphone paces the recording and the system
// sound waits in a ring; otherwise the system sound is handed on as it comes.
//
// The helper's voice, played through the default sink, comes back in that sink's monitor;
// while it plays, an echo canceller with the played voice as reference takes it out of
// the system sound again, so the helper does not hear themselves.

#include "media/SampleRing.h"
#include "media/SystemSoundCapture.h"
#include "media/VoiceAudioDevice.h"

#include <api/scoped_refptr.h>

namespace webrtc {
class AudioProcessing;
}

#include <atomic>
#include <mutex>
#include <vector>

namespace wl {

class SystemAudioDevice : public VoiceAudioDevice {
public:
    struct Options {
        AudioIO::Options io;
        std::string systemSound; // source of the system sound; empty: the default sink's monitor
        bool removeOwnPlayout = true; // cancel the played voice out of the system sound
    };

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
    void playoutRendered(const int16_t* samples, std::size_t frames, int channels) override;

private:
    bool microphoneFlowing() const;

    Options options_;
    SystemSoundCapture systemSound_;
    // The canceller of the played voice in the system sound; made when playout starts.
    std::mutex ownPlayoutMutex_;
    rtc::scoped_refptr<webrtc::AudioProcessing> ownPlayout_; // under ownPlayoutMutex_
    std::atomic<int64_t> lastPlayoutUs_{0};
    SampleRing systemRing_; // stereo system sound waiting for the microphone
    bool mixing_ = false; // under stateMutex_
    std::atomic<int64_t> lastMicrophoneUs_{0}; // steady clock of the last microphone frame
    std::vector<int16_t> mixBuffer_; // microphone thread only
    std::vector<int16_t> reference_; // playback thread only
    std::vector<int16_t> cleaned_; // capture thread only
};

} // namespace wl
