#pragma once
// The host's audio device. Its recording is the system sound (the default sink's monitor,
// captured on "wickerlane.capture.audio") with the host's microphone mixed in while that
// is on; its playout is the helper's voice through the default sink.
//
// While the microphone is mixed in, the two sounds wait in rings for each other and go on
// together, 10 ms of each, as soon as both are there: neither is handed on with silence
// in place of the other while that still comes. A monitor of an idle output delivers in
// bursts or not at all: a sound that stopped coming is waited for no longer (the other
// goes on alone), and of a burst only the newest waits. Otherwise the system sound is
// handed on as it comes.
//
// The helper's voice, played through the default sink, comes back in that sink's monitor;
// while it plays, an echo canceller with the played voice as reference takes it out of
// the system sound again (before any microphone is mixed in), so the helper does not
// hear themselves. The canceller runs on the capture thread alone. The played voice is
// laid out on a timeline of when it reaches the speaker (by the playback stream's
// timing), and each 10 ms of system sound, placed on it by the capture stream's timing,
// goes in with the voice a fixed moment later: the echo keeps one small, steady delay
// however the playback and capture threads are scheduled, and across restarts of the
// playback stream (switching the microphone restarts the engine). While the voice plays,
// the system sound always goes through the canceller; where it finds no played voice at its
// place, the two timelines went apart (a stream's timing moved without a break): within a
// fraction of a second both are anchored again, by their timings or, when those disagree, by
// the steady clock.

#include "media/SampleRing.h"
#include "media/SpeakerTimeline.h"
#include "media/SystemSoundCapture.h"
#include "media/VoiceAudioDevice.h"

#include <api/scoped_refptr.h>

namespace webrtc {
class AudioProcessing;
}

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
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

    // 10 ms of system sound (48 kHz stereo) and when it was played, from the capture
    // thread: cleaned of the played voice, mixed with the microphone and handed to the
    // delegate while recording.
    void deliverSystemSound(const int16_t* samples, std::size_t frames, SpeakerTime played);

protected:
    void microphoneSound(const int16_t* samples, std::size_t frames) override;
    void microphoneChanged(bool on) override;
    bool startRecordingPath() override;
    void stopRecordingPath() override;
    void playoutRendered(const int16_t* samples, std::size_t frames, int channels, SpeakerTime time) override;

private:
    bool microphoneFlowing() const;
    bool systemSoundFlowing() const;
    // Hands on what waits in the rings: the two together, or the microphone alone.
    void mixOut(AudioDeviceDelegate* delegate, bool microphoneAlone);
    // The played voice due with the system sound played then, into reference_; false when
    // none is (silence then).
    bool takeReference(SpeakerTime played);
    // Cleans the system sound into cleaned_ while the voice plays; false when it is left.
    bool removeOwnPlayout(const int16_t* input, std::size_t frames, SpeakerTime played);

    Options options_;
    SystemSoundCapture systemSound_;
    // The played voice on the speaker's timeline, stereo, in a ring: what reached the
    // speaker from playedFrom_ to playing_.end (silence where nothing did).
    std::mutex playedMutex_;
    std::condition_variable playedChanged_;
    std::vector<int16_t> played_; // under playedMutex_, as what follows up to aligned_
    SpeakerTimeline playing_;
    int64_t playedFrom_ = 0;
    bool anchorPlayingAgain_ = false; // the next played frame goes where its timing puts it
    int64_t playTimingUs_ = 0; // where the playback's timing put its last frame
    // How much later than the playback means to keep ahead of now the voice reaches the
    // speaker, smoothed.
    double playLeadUs_ = 0;
    int leadOutliers_ = 0; // frames in a row whose lead was far from it
    int followingFrames_ = 0; // played frames since the playback last broke off
    int agreeing_ = 0; // frames in a row whose timing agreed with the steady clock's place
    std::optional<double> playOffsetUs_; // how far the timing is off by the clock, smoothed
    // Whether the voice was found with the system sound when last looked for.
    std::atomic<bool> aligned_{false};
    // The streams' timings disagree: their frames go on the timeline where the steady clock
    // puts them (as far ahead or behind as while the voice was found), each by its timing
    // less how far that was off then, until the playback's timing agrees again.
    std::atomic<bool> byClock_{false};
    std::atomic<int64_t> lastVoiceUs_{0}; // steady clock of the last played frame that was not silence
    SpeakerTimeline heard_; // the system sound's frames: under playedMutex_, on the capture thread
    // The next four: capture thread only.
    double heardLagUs_ = 10'000; // how long ago now the system sound was played, smoothed
    std::optional<double> heardOffsetUs_; // how far the timing is off by the clock, smoothed
    int misses_ = 0; // frames in a row that found no voice while it played
    rtc::scoped_refptr<webrtc::AudioProcessing> ownPlayout_; // the canceller
    int64_t lastReferenceUs_ = 0; // when the last played voice came with the system sound
    // The rings and the mix: under deliveryMutex_.
    SampleRing systemRing_; // stereo system sound waiting for the microphone
    SampleRing microphoneRing_; // the microphone waiting for the system sound
    RingBalance balance_; // of the microphone (first) against the system sound
    std::vector<int16_t> mixBuffer_, microphoneBuffer_;
    bool mixing_ = false; // under stateMutex_
    std::atomic<int64_t> lastMicrophoneUs_{0}; // steady clock of the last microphone frame
    std::atomic<int64_t> lastSystemUs_{0}; // and of the last system sound
    std::vector<int16_t> reference_; // capture thread only, as the next
    std::vector<int16_t> cleaned_;
};

} // namespace wl
