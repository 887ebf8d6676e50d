#pragma once
// What the host's and the helper's audio devices share: the lazily made AudioIO, the
// delegate, WebRTC's playout through the engine's playback stream, the microphone switch
// and following a changed input device. The device state sits under one small lock.
//
// A microphone the person left on follows the input devices by itself: when the last one
// goes away it stops recording (microphoneOn false) but stays left on, and when an input
// device comes back (a headset plugged in again) it records from that one. Its watchers
// hear of each such change on the main thread.

#include "media/AudioIO.h"
#include "media/AudioThread.h"
#include "media/RoleAudioDevice.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace wl {

class PulseAudioBackend;

class VoiceAudioDevice : public RoleAudioDevice {
public:
    VoiceAudioDevice(std::shared_ptr<PulseAudioBackend> backend, AudioIO::Options options, std::string name);
    ~VoiceAudioDevice() override;

    void setDelegate(AudioDeviceDelegate* delegate) override;
    AudioIO& io() override;

    bool startPlayout() override;
    void stopPlayout() override;
    bool isPlaying() const override;
    bool startRecording() override;
    void stopRecording() override;
    bool isRecording() const override;

    void setMicrophone(bool on, std::function<void(MicrophoneResult)> completion) override;
    void inputInterrupted() override;
    bool microphoneLeftOn() const override { return leftOn_; }
    int addMicrophoneWatcher(std::function<void()> watcher) override;
    void removeMicrophoneWatcher(int id) override;

    // Waits until every microphone switch asked for so far has finished (tests, shutdown).
    void waitForSwitches();

protected:
    // 10 ms of processed microphone sound (48 kHz mono), on the engine's thread.
    virtual void microphoneSound(const int16_t* samples, std::size_t frames) = 0;
    // After a microphone switch or an input change, on the switch queue.
    virtual void microphoneChanged(bool on);
    // 10 ms of sound just handed to the speakers (48 kHz interleaved), on the engine's
    // thread, and when it reaches them.
    virtual void playoutRendered(const int16_t*, std::size_t, int, SpeakerTime) { }
    virtual bool startRecordingPath() { return true; }
    virtual void stopRecordingPath() { }
    // Tells the delegate, through its queue, that the input changed.
    void tellInputChanged();
    // Switches the microphone off at once and forgets that it was left on (a session's
    // end); waits for a switch in flight.
    void switchOffAtOnce();
    // Stops the engine; derived devices call it first in their destructors.
    void stopEngine();

    // Held (before stateMutex_) while the delegate is called, so that setDelegate waits for
    // a call in flight; recursive, as a delegate may call back into the device.
    std::recursive_mutex deliveryMutex_;
    mutable std::mutex stateMutex_; // the device's state below
    AudioDeviceDelegate* delegate_ = nullptr;
    bool playing_ = false;
    bool recording_ = false;

private:
    void renderPlayout(int16_t* samples, std::size_t frames, int channels, SpeakerTime time);
    // On the switch queue: the microphone left on follows the input devices there are now.
    void followInput();
    void tellWatchers();

    struct Watchers {
        std::mutex mutex;
        std::map<int, std::function<void()>> list;
        int next = 1;
    };

    std::shared_ptr<PulseAudioBackend> backend_;
    AudioIO::Options options_;
    std::string name_;
    std::mutex ioMutex_;
    std::unique_ptr<AudioIO> io_;
    // Whether the person left the microphone on: written on the switch queue.
    std::atomic<bool> leftOn_{false};
    std::atomic<bool> closing_{false}; // no input change is followed any more
    const std::shared_ptr<Watchers> watchers_ = std::make_shared<Watchers>();
    SerialQueue switches_;
};

} // namespace wl
