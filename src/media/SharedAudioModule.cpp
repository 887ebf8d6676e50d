#include "media/SharedAudioModule.h"

#include <api/make_ref_counted.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace wl {

// What the handles share: the device, and the one callback the device calls, which hands
// recorded sound to every recording handle and asks the latest playing one for sound.
struct SharedAudioModule::State final : webrtc::AudioTransport {
    explicit State(rtc::scoped_refptr<webrtc::AudioDeviceModule> device) : device(std::move(device)) { }

    struct Entry {
        const void* handle = nullptr;
        webrtc::AudioTransport* transport = nullptr;
        bool playing = false;
        bool recording = false;
    };

    rtc::scoped_refptr<webrtc::AudioDeviceModule> device;
    std::mutex control; // serialises the handles' start, stop and registration
    bool callbackRegistered = false; // under control
    // Whether the shared module has initialised the device (under control). The device's
    // own Initialized() is no guide: WebRTC's test device, for one, always answers true,
    // and only its Init() starts the task that records and plays.
    bool deviceInitialized = false;
    std::mutex delivery; // held while a transport is called, and for entries
    std::vector<Entry> entries; // in the order the handles were made

    Entry* entryOf(const void* handle)
    {
        for (auto& entry : entries)
            if (entry.handle == handle)
                return &entry;
        return nullptr;
    }

    // Whether a handle other than this one still wants playout (or recording).
    bool othersWant(const void* handle, bool Entry::*what)
    {
        std::lock_guard guard(delivery);
        return std::any_of(entries.begin(), entries.end(),
                           [&](const Entry& entry) { return entry.handle != handle && entry.*what; });
    }

    void set(const void* handle, bool Entry::*what, bool value)
    {
        std::lock_guard guard(delivery);
        if (auto* entry = entryOf(handle))
            entry->*what = value;
    }

    webrtc::AudioTransport* player()
    {
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
            if (entry->playing && entry->transport)
                return entry->transport;
        return nullptr;
    }

    int32_t RecordedDataIsAvailable(const void* samples, size_t count, size_t bytesPerSample, size_t channels,
                                    uint32_t rate, uint32_t delayMs, int32_t drift, uint32_t micLevel, bool keyPressed,
                                    uint32_t& newMicLevel) override
    {
        std::lock_guard guard(delivery);
        newMicLevel = micLevel;
        for (auto& entry : entries)
            if (entry.recording && entry.transport) {
                uint32_t level = micLevel;
                entry.transport->RecordedDataIsAvailable(samples, count, bytesPerSample, channels, rate, delayMs, drift,
                                                         micLevel, keyPressed, level);
            }
        return 0;
    }

    int32_t RecordedDataIsAvailable(const void* samples, size_t count, size_t bytesPerSample, size_t channels,
                                    uint32_t rate, uint32_t delayMs, int32_t drift, uint32_t micLevel, bool keyPressed,
                                    uint32_t& newMicLevel, int64_t captureTimeNs) override
    {
        std::lock_guard guard(delivery);
        newMicLevel = micLevel;
        for (auto& entry : entries)
            if (entry.recording && entry.transport) {
                uint32_t level = micLevel;
                entry.transport->RecordedDataIsAvailable(samples, count, bytesPerSample, channels, rate, delayMs, drift,
                                                         micLevel, keyPressed, level, captureTimeNs);
            }
        return 0;
    }

    int32_t NeedMorePlayData(size_t count, size_t bytesPerSample, size_t channels, uint32_t rate, void* samples,
                             size_t& countOut, int64_t* elapsedMs, int64_t* ntpMs) override
    {
        std::lock_guard guard(delivery);
        if (auto* transport = player())
            return transport->NeedMorePlayData(count, bytesPerSample, channels, rate, samples, countOut, elapsedMs,
                                               ntpMs);
        std::memset(samples, 0, count * bytesPerSample);
        countOut = count;
        if (elapsedMs)
            *elapsedMs = -1;
        if (ntpMs)
            *ntpMs = -1;
        return 0;
    }

    void PullRenderData(int bitsPerSample, int rate, size_t channels, size_t frames, void* data, int64_t* elapsedMs,
                        int64_t* ntpMs) override
    {
        std::lock_guard guard(delivery);
        if (auto* transport = player())
            transport->PullRenderData(bitsPerSample, rate, channels, frames, data, elapsedMs, ntpMs);
        else
            std::memset(data, 0, frames * channels * static_cast<size_t>(bitsPerSample / 8));
    }
};

// One factory's module: its own callback, its own playout and recording, forwarded to
// the shared device only as far as the device's state allows; the rest passes through.
class SharedAudioModule::Handle : public webrtc::AudioDeviceModule {
public:
    explicit Handle(std::shared_ptr<State> state) : state_(std::move(state)), device_(*state_->device)
    {
        std::lock_guard guard(state_->delivery);
        state_->entries.push_back(State::Entry{this});
    }

    ~Handle() override
    {
        std::lock_guard guard(state_->delivery);
        auto& entries = state_->entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.handle == this; }),
                      entries.end());
    }

    int32_t RegisterAudioCallback(webrtc::AudioTransport* transport) override
    {
        std::lock_guard control(state_->control);
        {
            std::lock_guard guard(state_->delivery);
            if (auto* entry = state_->entryOf(this))
                entry->transport = transport;
        }
        if (!state_->callbackRegistered && transport) {
            state_->callbackRegistered = true;
            return device_.RegisterAudioCallback(state_.get());
        }
        return 0;
    }

    int32_t Init() override
    {
        std::lock_guard control(state_->control);
        initialized_ = true;
        if (state_->deviceInitialized)
            return 0;
        if (device_.Init() != 0)
            return -1;
        state_->deviceInitialized = true;
        return 0;
    }
    int32_t Terminate() override
    {
        StopPlayout();
        StopRecording();
        initialized_ = false;
        return 0; // the device stays up for the other factories
    }
    bool Initialized() const override { return initialized_; }

    int32_t InitPlayout() override
    {
        std::lock_guard control(state_->control);
        playoutInitialized_ = true;
        return device_.Playing() || device_.PlayoutIsInitialized() ? 0 : device_.InitPlayout();
    }
    bool PlayoutIsInitialized() const override { return playoutInitialized_; }
    int32_t StartPlayout() override
    {
        std::lock_guard control(state_->control);
        state_->set(this, &State::Entry::playing, true);
        if (device_.Playing())
            return 0;
        if (!device_.PlayoutIsInitialized() && device_.InitPlayout() != 0)
            return -1;
        return device_.StartPlayout();
    }
    int32_t StopPlayout() override
    {
        std::lock_guard control(state_->control);
        playoutInitialized_ = false;
        state_->set(this, &State::Entry::playing, false);
        if (state_->othersWant(this, &State::Entry::playing) || !device_.Playing())
            return 0;
        return device_.StopPlayout();
    }
    bool Playing() const override
    {
        std::lock_guard guard(state_->delivery);
        auto* entry = state_->entryOf(this);
        return entry && entry->playing;
    }

    int32_t InitRecording() override
    {
        std::lock_guard control(state_->control);
        recordingInitialized_ = true;
        return device_.Recording() || device_.RecordingIsInitialized() ? 0 : device_.InitRecording();
    }
    bool RecordingIsInitialized() const override { return recordingInitialized_; }
    int32_t StartRecording() override
    {
        std::lock_guard control(state_->control);
        state_->set(this, &State::Entry::recording, true);
        if (device_.Recording())
            return 0;
        if (!device_.RecordingIsInitialized() && device_.InitRecording() != 0)
            return -1;
        return device_.StartRecording();
    }
    int32_t StopRecording() override
    {
        std::lock_guard control(state_->control);
        recordingInitialized_ = false;
        state_->set(this, &State::Entry::recording, false);
        if (state_->othersWant(this, &State::Entry::recording) || !device_.Recording())
            return 0;
        return device_.StopRecording();
    }
    bool Recording() const override
    {
        std::lock_guard guard(state_->delivery);
        auto* entry = state_->entryOf(this);
        return entry && entry->recording;
    }

    // The rest is the device's.
    int32_t ActiveAudioLayer(AudioLayer* layer) const override { return device_.ActiveAudioLayer(layer); }
    int16_t PlayoutDevices() override { return device_.PlayoutDevices(); }
    int16_t RecordingDevices() override { return device_.RecordingDevices(); }
    int32_t PlayoutDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                              char guid[webrtc::kAdmMaxGuidSize]) override
    {
        return device_.PlayoutDeviceName(index, name, guid);
    }
    int32_t RecordingDeviceName(uint16_t index, char name[webrtc::kAdmMaxDeviceNameSize],
                                char guid[webrtc::kAdmMaxGuidSize]) override
    {
        return device_.RecordingDeviceName(index, name, guid);
    }
    int32_t SetPlayoutDevice(uint16_t index) override { return device_.SetPlayoutDevice(index); }
    int32_t SetPlayoutDevice(WindowsDeviceType device) override { return device_.SetPlayoutDevice(device); }
    int32_t SetRecordingDevice(uint16_t index) override { return device_.SetRecordingDevice(index); }
    int32_t SetRecordingDevice(WindowsDeviceType device) override { return device_.SetRecordingDevice(device); }
    int32_t PlayoutIsAvailable(bool* available) override { return device_.PlayoutIsAvailable(available); }
    int32_t RecordingIsAvailable(bool* available) override { return device_.RecordingIsAvailable(available); }
    int32_t InitSpeaker() override { return device_.InitSpeaker(); }
    bool SpeakerIsInitialized() const override { return device_.SpeakerIsInitialized(); }
    int32_t InitMicrophone() override { return device_.InitMicrophone(); }
    bool MicrophoneIsInitialized() const override { return device_.MicrophoneIsInitialized(); }
    int32_t SpeakerVolumeIsAvailable(bool* available) override { return device_.SpeakerVolumeIsAvailable(available); }
    int32_t SetSpeakerVolume(uint32_t volume) override { return device_.SetSpeakerVolume(volume); }
    int32_t SpeakerVolume(uint32_t* volume) const override { return device_.SpeakerVolume(volume); }
    int32_t MaxSpeakerVolume(uint32_t* volume) const override { return device_.MaxSpeakerVolume(volume); }
    int32_t MinSpeakerVolume(uint32_t* volume) const override { return device_.MinSpeakerVolume(volume); }
    int32_t MicrophoneVolumeIsAvailable(bool* available) override
    {
        return device_.MicrophoneVolumeIsAvailable(available);
    }
    int32_t SetMicrophoneVolume(uint32_t volume) override { return device_.SetMicrophoneVolume(volume); }
    int32_t MicrophoneVolume(uint32_t* volume) const override { return device_.MicrophoneVolume(volume); }
    int32_t MaxMicrophoneVolume(uint32_t* volume) const override { return device_.MaxMicrophoneVolume(volume); }
    int32_t MinMicrophoneVolume(uint32_t* volume) const override { return device_.MinMicrophoneVolume(volume); }
    int32_t SpeakerMuteIsAvailable(bool* available) override { return device_.SpeakerMuteIsAvailable(available); }
    int32_t SetSpeakerMute(bool enable) override { return device_.SetSpeakerMute(enable); }
    int32_t SpeakerMute(bool* enabled) const override { return device_.SpeakerMute(enabled); }
    int32_t MicrophoneMuteIsAvailable(bool* available) override { return device_.MicrophoneMuteIsAvailable(available); }
    int32_t SetMicrophoneMute(bool enable) override { return device_.SetMicrophoneMute(enable); }
    int32_t MicrophoneMute(bool* enabled) const override { return device_.MicrophoneMute(enabled); }
    int32_t StereoPlayoutIsAvailable(bool* available) const override
    {
        return device_.StereoPlayoutIsAvailable(available);
    }
    int32_t SetStereoPlayout(bool enable) override { return device_.SetStereoPlayout(enable); }
    int32_t StereoPlayout(bool* enabled) const override { return device_.StereoPlayout(enabled); }
    int32_t StereoRecordingIsAvailable(bool* available) const override
    {
        return device_.StereoRecordingIsAvailable(available);
    }
    int32_t SetStereoRecording(bool enable) override { return device_.SetStereoRecording(enable); }
    int32_t StereoRecording(bool* enabled) const override { return device_.StereoRecording(enabled); }
    int32_t PlayoutDelay(uint16_t* delayMs) const override { return device_.PlayoutDelay(delayMs); }
    bool BuiltInAECIsAvailable() const override { return device_.BuiltInAECIsAvailable(); }
    bool BuiltInAGCIsAvailable() const override { return device_.BuiltInAGCIsAvailable(); }
    bool BuiltInNSIsAvailable() const override { return device_.BuiltInNSIsAvailable(); }
    int32_t EnableBuiltInAEC(bool enable) override { return device_.EnableBuiltInAEC(enable); }
    int32_t EnableBuiltInAGC(bool enable) override { return device_.EnableBuiltInAGC(enable); }
    int32_t EnableBuiltInNS(bool enable) override { return device_.EnableBuiltInNS(enable); }

private:
    const std::shared_ptr<State> state_;
    webrtc::AudioDeviceModule& device_;
    std::atomic<bool> initialized_{false};
    std::atomic<bool> playoutInitialized_{false};
    std::atomic<bool> recordingInitialized_{false};
};

SharedAudioModule::SharedAudioModule(rtc::scoped_refptr<webrtc::AudioDeviceModule> device)
    : state_(std::make_shared<State>(std::move(device)))
{
}

SharedAudioModule::~SharedAudioModule()
{
    auto& device = *state_->device;
    if (device.Playing())
        device.StopPlayout();
    if (device.Recording())
        device.StopRecording();
    if (state_->callbackRegistered)
        device.RegisterAudioCallback(nullptr);
    if (state_->deviceInitialized)
        device.Terminate();
}

rtc::scoped_refptr<webrtc::AudioDeviceModule> SharedAudioModule::handle()
{
    return rtc::make_ref_counted<Handle>(state_);
}

} // namespace wl
