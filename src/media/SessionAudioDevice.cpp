#include "media/SessionAudioDevice.h"

#include "media/PlaybackAudioDevice.h"
#include "media/RoleAudioDevice.h"
#include "media/SystemAudioDevice.h"
#include "platform/Log.h"

#include <api/make_ref_counted.h>

#include <algorithm>
#include <cstring>

namespace wl {

namespace {
constexpr uint16_t kPlayoutDelayMs = 50;

void copyName(char* target, std::size_t size, const char* text)
{
    std::strncpy(target, text, size - 1);
    target[size - 1] = '\0';
}
} // namespace

rtc::scoped_refptr<SessionAudioDevice> SessionAudioDevice::create(RoleAudioDevice& hosting, RoleAudioDevice& helping)
{
    return rtc::make_ref_counted<SessionAudioDevice>(hosting, helping);
}

struct SessionAudioDevice::Relay final : AudioDeviceDelegate {
    explicit Relay(SessionAudioDevice& owner) : owner(owner) { }
    void dispatchAsync(std::function<void()> work) override { owner.dispatchAsync(std::move(work)); }
    void notifyAudioInputInterrupted() override { owner.notifyAudioInputInterrupted(); }
    void deliverRecordedData(const int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate) override
    {
        owner.deliverRecordedData(samples, frames, channels, sampleRate);
    }
    void getPlayoutData(int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate) override
    {
        owner.getPlayoutData(samples, frames, channels, sampleRate);
    }
    SessionAudioDevice& owner;
};

SessionAudioDevice::SessionAudioDevice(RoleAudioDevice& hosting, RoleAudioDevice& helping)
    : hosting_(hosting), helping_(helping), queue_("wickerlane.audio.device"), relay_(std::make_unique<Relay>(*this))
{
    hosting_.setDelegate(relay_.get());
    helping_.setDelegate(relay_.get());
}

SessionAudioDevice::~SessionAudioDevice()
{
    Terminate();
    queue_.sync([] {});
    // Waits for a call in flight on an audio thread; none comes after.
    hosting_.setDelegate(nullptr);
    helping_.setDelegate(nullptr);
    queue_.sync([] {});
}

SessionAudioDevice::Role SessionAudioDevice::currentRole() const
{
    std::lock_guard guard(lock);
    return role_;
}

RoleAudioDevice& SessionAudioDevice::device(Role role)
{
    return role == Role::hosting ? hosting_ : helping_;
}

RoleAudioDevice& SessionAudioDevice::current()
{
    return device(currentRole());
}

void SessionAudioDevice::setCurrentRole(Role role)
{
    std::lock_guard operation(operationMutex_);
    Role old;
    {
        std::lock_guard guard(lock);
        old = role_;
        role_ = role;
    }
    if (old == role)
        return;
    // What WebRTC started keeps running, now on the other role's device.
    if (playing_) {
        device(old).stopPlayout();
        device(role).startPlayout();
    }
    if (recording_) {
        device(old).stopRecording();
        device(role).startRecording();
    }
}

void SessionAudioDevice::setOnInputInterrupted(std::function<void()> observer)
{
    std::lock_guard guard(observerMutex_);
    onInputInterrupted_ = std::move(observer);
}

void SessionAudioDevice::dispatchAsync(std::function<void()> work)
{
    queue_.post(std::move(work));
}

void SessionAudioDevice::notifyAudioInputInterrupted()
{
    Log::line("Wickerlane: audio input changed");
    hosting_.inputInterrupted();
    helping_.inputInterrupted();
    std::function<void()> observer;
    {
        std::lock_guard guard(observerMutex_);
        observer = onInputInterrupted_;
    }
    if (observer)
        observer();
}

void SessionAudioDevice::deliverRecordedData(const int16_t* samples, std::size_t frames, std::size_t channels,
                                             int sampleRate)
{
    std::lock_guard guard(transportMutex_);
    if (!transport_)
        return;
    uint32_t newMicLevel = 0;
    transport_->RecordedDataIsAvailable(samples, frames, channels * sizeof(int16_t), channels,
                                        static_cast<uint32_t>(sampleRate), kPlayoutDelayMs, 0, 0, false, newMicLevel);
}

void SessionAudioDevice::getPlayoutData(int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate)
{
    std::lock_guard guard(transportMutex_);
    std::size_t produced = 0;
    if (transport_) {
        int64_t elapsed = 0;
        int64_t ntp = 0;
        transport_->NeedMorePlayData(frames, channels * sizeof(int16_t), channels, static_cast<uint32_t>(sampleRate),
                                     samples, produced, &elapsed, &ntp);
    }
    if (produced < frames)
        std::fill(samples + produced * channels, samples + frames * channels, int16_t{0});
}

int32_t SessionAudioDevice::ActiveAudioLayer(AudioLayer* audioLayer) const
{
    if (!audioLayer)
        return -1;
    *audioLayer = kPlatformDefaultAudio;
    return 0;
}

int32_t SessionAudioDevice::RegisterAudioCallback(webrtc::AudioTransport* audioCallback)
{
    std::lock_guard guard(transportMutex_);
    transport_ = audioCallback;
    return 0;
}

int32_t SessionAudioDevice::Init()
{
    initialized_ = true;
    return 0;
}

int32_t SessionAudioDevice::Terminate()
{
    StopPlayout();
    StopRecording();
    initialized_ = false;
    return 0;
}

bool SessionAudioDevice::Initialized() const
{
    return initialized_;
}
int16_t SessionAudioDevice::PlayoutDevices()
{
    return 1;
}
int16_t SessionAudioDevice::RecordingDevices()
{
    return 1;
}

int32_t SessionAudioDevice::PlayoutDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                                              char guid[webrtc::kAdmMaxGuidSize])
{
    if (index != 0 || !name)
        return -1;
    copyName(name, webrtc::kAdmMaxDeviceNameSize, "Wickerlane session output");
    if (guid)
        copyName(guid, webrtc::kAdmMaxGuidSize, "wickerlane-output");
    return 0;
}

int32_t SessionAudioDevice::RecordingDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                                                char guid[webrtc::kAdmMaxGuidSize])
{
    if (index != 0 || !name)
        return -1;
    copyName(name, webrtc::kAdmMaxDeviceNameSize, "Wickerlane session input");
    if (guid)
        copyName(guid, webrtc::kAdmMaxGuidSize, "wickerlane-input");
    return 0;
}

int32_t SessionAudioDevice::SetPlayoutDevice(uint16_t index)
{
    return index == 0 ? 0 : -1;
}
int32_t SessionAudioDevice::SetPlayoutDevice(WindowsDeviceType)
{
    return 0;
}
int32_t SessionAudioDevice::SetRecordingDevice(uint16_t index)
{
    return index == 0 ? 0 : -1;
}
int32_t SessionAudioDevice::SetRecordingDevice(WindowsDeviceType)
{
    return 0;
}

int32_t SessionAudioDevice::PlayoutIsAvailable(bool* available)
{
    if (available)
        *available = true;
    return 0;
}

int32_t SessionAudioDevice::InitPlayout()
{
    playoutInitialized_ = true;
    return 0;
}

bool SessionAudioDevice::PlayoutIsInitialized() const
{
    return playoutInitialized_;
}

int32_t SessionAudioDevice::RecordingIsAvailable(bool* available)
{
    if (available)
        *available = true;
    return 0;
}

int32_t SessionAudioDevice::InitRecording()
{
    recordingInitialized_ = true;
    return 0;
}

bool SessionAudioDevice::RecordingIsInitialized() const
{
    return recordingInitialized_;
}

int32_t SessionAudioDevice::StartPlayout()
{
    std::lock_guard operation(operationMutex_);
    if (playing_)
        return 0;
    playing_ = true;
    if (!current().startPlayout())
        Log::line("Wickerlane: audio playout did not start");
    return 0;
}

int32_t SessionAudioDevice::StopPlayout()
{
    std::lock_guard operation(operationMutex_);
    if (!playing_)
        return 0;
    playing_ = false;
    current().stopPlayout();
    return 0;
}

bool SessionAudioDevice::Playing() const
{
    return playing_;
}

int32_t SessionAudioDevice::StartRecording()
{
    std::lock_guard operation(operationMutex_);
    if (recording_)
        return 0;
    recording_ = true;
    current().startRecording();
    return 0;
}

int32_t SessionAudioDevice::StopRecording()
{
    std::lock_guard operation(operationMutex_);
    if (!recording_)
        return 0;
    recording_ = false;
    current().stopRecording();
    return 0;
}

bool SessionAudioDevice::Recording() const
{
    return recording_;
}
int32_t SessionAudioDevice::InitSpeaker()
{
    return 0;
}
bool SessionAudioDevice::SpeakerIsInitialized() const
{
    return true;
}
int32_t SessionAudioDevice::InitMicrophone()
{
    return 0;
}
bool SessionAudioDevice::MicrophoneIsInitialized() const
{
    return true;
}

int32_t SessionAudioDevice::SpeakerVolumeIsAvailable(bool* available)
{
    if (available)
        *available = false;
    return 0;
}
int32_t SessionAudioDevice::SetSpeakerVolume(uint32_t)
{
    return -1;
}
int32_t SessionAudioDevice::SpeakerVolume(uint32_t*) const
{
    return -1;
}
int32_t SessionAudioDevice::MaxSpeakerVolume(uint32_t*) const
{
    return -1;
}
int32_t SessionAudioDevice::MinSpeakerVolume(uint32_t*) const
{
    return -1;
}

int32_t SessionAudioDevice::MicrophoneVolumeIsAvailable(bool* available)
{
    if (available)
        *available = false;
    return 0;
}
int32_t SessionAudioDevice::SetMicrophoneVolume(uint32_t)
{
    return -1;
}
int32_t SessionAudioDevice::MicrophoneVolume(uint32_t*) const
{
    return -1;
}
int32_t SessionAudioDevice::MaxMicrophoneVolume(uint32_t*) const
{
    return -1;
}
int32_t SessionAudioDevice::MinMicrophoneVolume(uint32_t*) const
{
    return -1;
}

int32_t SessionAudioDevice::SpeakerMuteIsAvailable(bool* available)
{
    if (available)
        *available = false;
    return 0;
}
int32_t SessionAudioDevice::SetSpeakerMute(bool)
{
    return -1;
}
int32_t SessionAudioDevice::SpeakerMute(bool*) const
{
    return -1;
}

int32_t SessionAudioDevice::MicrophoneMuteIsAvailable(bool* available)
{
    if (available)
        *available = false;
    return 0;
}
int32_t SessionAudioDevice::SetMicrophoneMute(bool)
{
    return -1;
}
int32_t SessionAudioDevice::MicrophoneMute(bool*) const
{
    return -1;
}

int32_t SessionAudioDevice::StereoPlayoutIsAvailable(bool* available) const
{
    if (available)
        *available = true;
    return 0;
}
int32_t SessionAudioDevice::SetStereoPlayout(bool enable)
{
    return enable ? 0 : -1;
}
int32_t SessionAudioDevice::StereoPlayout(bool* enabled) const
{
    if (enabled)
        *enabled = true;
    return 0;
}

int32_t SessionAudioDevice::StereoRecordingIsAvailable(bool* available) const
{
    if (available)
        *available = true;
    return 0;
}
int32_t SessionAudioDevice::SetStereoRecording(bool)
{
    return 0;
}
int32_t SessionAudioDevice::StereoRecording(bool* enabled) const
{
    // The host's sound is stereo; the helper's microphone is mono (sent as it comes).
    if (enabled)
        *enabled = const_cast<SessionAudioDevice*>(this)->current().recordingChannels() == 2;
    return 0;
}

int32_t SessionAudioDevice::PlayoutDelay(uint16_t* delayMS) const
{
    if (!delayMS)
        return -1;
    *delayMS = kPlayoutDelayMs;
    return 0;
}

bool SessionAudioDevice::BuiltInAECIsAvailable() const
{
    return false;
}
bool SessionAudioDevice::BuiltInAGCIsAvailable() const
{
    return false;
}
bool SessionAudioDevice::BuiltInNSIsAvailable() const
{
    return false;
}
int32_t SessionAudioDevice::EnableBuiltInAEC(bool)
{
    return -1;
}
int32_t SessionAudioDevice::EnableBuiltInAGC(bool)
{
    return -1;
}
int32_t SessionAudioDevice::EnableBuiltInNS(bool)
{
    return -1;
}

} // namespace wl
