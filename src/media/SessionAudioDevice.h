#pragma once
// The audio device the media engine hands WebRTC's peer-connection factories. It forwards WebRTC's
// playout and recording to the device of the current role: the host's SystemAudioDevice
// while hosting, the helper's PlaybackAudioDevice while helping. The role starts as
// hosting and is written under `lock`; a change moves running playout and recording over
// to the other device.

#include "media/AudioDeviceDelegate.h"
#include "media/AudioThread.h"

#include <modules/audio_device/include/audio_device.h>

#include <atomic>
#include <memory>
#include <functional>
#include <mutex>

namespace wl {

class RoleAudioDevice;

class SessionAudioDevice : public webrtc::AudioDeviceModule {
public:
    enum class Role { hosting, helping };

    // A device over the given pair (the media engine's, or a test's own).
    static rtc::scoped_refptr<SessionAudioDevice> create(RoleAudioDevice& hosting, RoleAudioDevice& helping);

    SessionAudioDevice(RoleAudioDevice& hosting, RoleAudioDevice& helping);

    Role currentRole() const;
    void setCurrentRole(Role role);
    RoleAudioDevice& device(Role role);

    // Told (on the device queue) of each input change a device followed.
    void setOnInputInterrupted(std::function<void()> observer);

    // webrtc::AudioDeviceModule
    int32_t ActiveAudioLayer(AudioLayer* audioLayer) const override;
    int32_t RegisterAudioCallback(webrtc::AudioTransport* audioCallback) override;
    int32_t Init() override;
    int32_t Terminate() override;
    bool Initialized() const override;
    int16_t PlayoutDevices() override;
    int16_t RecordingDevices() override;
    int32_t PlayoutDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                              char guid[webrtc::kAdmMaxGuidSize]) override;
    int32_t RecordingDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                                char guid[webrtc::kAdmMaxGuidSize]) override;
    int32_t SetPlayoutDevice(uint16_t index) override;
    int32_t SetPlayoutDevice(WindowsDeviceType device) override;
    int32_t SetRecordingDevice(uint16_t index) override;
    int32_t SetRecordingDevice(WindowsDeviceType device) override;
    int32_t PlayoutIsAvailable(bool* available) override;
    int32_t InitPlayout() override;
    bool PlayoutIsInitialized() const override;
    int32_t RecordingIsAvailable(bool* available) override;
    int32_t InitRecording() override;
    bool RecordingIsInitialized() const override;
    int32_t StartPlayout() override;
    int32_t StopPlayout() override;
    bool Playing() const override;
    int32_t StartRecording() override;
    int32_t StopRecording() override;
    bool Recording() const override;
    int32_t InitSpeaker() override;
    bool SpeakerIsInitialized() const override;
    int32_t InitMicrophone() override;
    bool MicrophoneIsInitialized() const override;
    int32_t SpeakerVolumeIsAvailable(bool* available) override;
    int32_t SetSpeakerVolume(uint32_t volume) override;
    int32_t SpeakerVolume(uint32_t* volume) const override;
    int32_t MaxSpeakerVolume(uint32_t* maxVolume) const override;
    int32_t MinSpeakerVolume(uint32_t* minVolume) const override;
    int32_t MicrophoneVolumeIsAvailable(bool* available) override;
    int32_t SetMicrophoneVolume(uint32_t volume) override;
    int32_t MicrophoneVolume(uint32_t* volume) const override;
    int32_t MaxMicrophoneVolume(uint32_t* maxVolume) const override;
    int32_t MinMicrophoneVolume(uint32_t* minVolume) const override;
    int32_t SpeakerMuteIsAvailable(bool* available) override;
    int32_t SetSpeakerMute(bool enable) override;
    int32_t SpeakerMute(bool* enabled) const override;
    int32_t MicrophoneMuteIsAvailable(bool* available) override;
    int32_t SetMicrophoneMute(bool enable) override;
    int32_t MicrophoneMute(bool* enabled) const override;
    int32_t StereoPlayoutIsAvailable(bool* available) const override;
    int32_t SetStereoPlayout(bool enable) override;
    int32_t StereoPlayout(bool* enabled) const override;
    int32_t StereoRecordingIsAvailable(bool* available) const override;
    int32_t SetStereoRecording(bool enable) override;
    int32_t StereoRecording(bool* enabled) const override;
    int32_t PlayoutDelay(uint16_t* delayMS) const override;
    bool BuiltInAECIsAvailable() const override;
    bool BuiltInAGCIsAvailable() const override;
    bool BuiltInNSIsAvailable() const override;
    int32_t EnableBuiltInAEC(bool enable) override;
    int32_t EnableBuiltInAGC(bool enable) override;
    int32_t EnableBuiltInNS(bool enable) override;

    // The lock under which the role is written.
    mutable std::mutex lock;

protected:
    ~SessionAudioDevice() override;

private:
    // What the devices call, through relay_ (AudioDeviceDelegate). The relay is an object
    // of its own so that the devices never make a virtual call on this one while it is
    // being destroyed: it outlives the destructor's body, where the devices let go of it.
    struct Relay;
    void dispatchAsync(std::function<void()> work);
    void notifyAudioInputInterrupted();
    void deliverRecordedData(const int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate);
    void getPlayoutData(int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate);

    RoleAudioDevice& current();

    RoleAudioDevice& hosting_;
    RoleAudioDevice& helping_;
    Role role_ = Role::hosting; // under lock

    std::mutex operationMutex_; // serialises start/stop and role moves
    std::atomic<bool> initialized_{false};
    std::atomic<bool> playoutInitialized_{false};
    std::atomic<bool> recordingInitialized_{false};
    std::atomic<bool> playing_{false};
    std::atomic<bool> recording_{false};

    std::mutex transportMutex_;
    webrtc::AudioTransport* transport_ = nullptr;
    std::mutex observerMutex_;
    std::function<void()> onInputInterrupted_;
    SerialQueue queue_;
    std::unique_ptr<Relay> relay_;
};

} // namespace wl
