#include "media/SystemAudioDevice.h"

#include "media/AudioDeviceDelegate.h"
#include "media/PulseAudioBackend.h"
#include "platform/Log.h"

#include <algorithm>

namespace wl {

namespace {
// At most this much microphone sound waits for the system sound (keeps the voice in
// step with the picture when the two clocks drift).
constexpr std::size_t kMaxMicrophoneBacklog = 3 * AudioIO::kFrames;

int16_t saturate(int value)
{
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}
} // namespace

SystemAudioDevice& SystemAudioDevice::shared()
{
    static auto* device = new SystemAudioDevice(PulseAudioBackend::shared(), Options{});
    return *device;
}

SystemAudioDevice::SystemAudioDevice(std::shared_ptr<PulseAudioBackend> backend, Options options)
    : VoiceAudioDevice(backend, options.io, "host"),
      systemSound_(options.io.server.empty() ? backend->server() : options.io.server, options.systemSound),
      microphoneRing_(AudioIO::kRate / 10)
{
}

SystemAudioDevice::~SystemAudioDevice()
{
    systemSound_.stop();
    stopEngine();
}

bool SystemAudioDevice::mixing() const
{
    std::lock_guard lock(stateMutex_);
    return mixing_;
}

void SystemAudioDevice::microphoneChanged(bool on)
{
    std::lock_guard lock(stateMutex_);
    mixing_ = on;
    microphoneRing_.clear();
}

void SystemAudioDevice::switchMicrophoneOff()
{
    auto& engine = io();
    engine.microphoneOn = false;
    engine.restart();
    microphoneChanged(false);
}

bool SystemAudioDevice::startRecordingPath()
{
    microphoneRing_.clear();
    const bool started = systemSound_.start(
        [this](const int16_t* samples, std::size_t frames) { deliverSystemSound(samples, frames); });
    std::lock_guard lock(stateMutex_);
    systemSoundRunning_ = started;
    // Without system sound the microphone alone is sent (see microphoneSound).
    return true;
}

void SystemAudioDevice::stopRecordingPath()
{
    systemSound_.stop();
    std::lock_guard lock(stateMutex_);
    systemSoundRunning_ = false;
}

void SystemAudioDevice::deliverSystemSound(const int16_t* samples, std::size_t frames)
{
    AudioDeviceDelegate* delegate;
    bool mix;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !delegate_)
            return;
        delegate = delegate_;
        mix = mixing_;
    }
    const std::size_t channels = SystemSoundCapture::kChannels;
    if (!mix) {
        delegate->deliverRecordedData(samples, frames, channels, SystemSoundCapture::kRate);
        return;
    }
    mixBuffer_.assign(samples, samples + frames * channels);
    micBuffer_.resize(frames);
    while (microphoneRing_.size() > kMaxMicrophoneBacklog + frames)
        microphoneRing_.pop(micBuffer_.data(), frames);
    microphoneRing_.pop(micBuffer_.data(), frames);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            mixBuffer_[i * channels + c] = saturate(mixBuffer_[i * channels + c] + micBuffer_[i]);
    delegate->deliverRecordedData(mixBuffer_.data(), frames, channels, SystemSoundCapture::kRate);
}

void SystemAudioDevice::microphoneSound(const int16_t* samples, std::size_t frames)
{
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !mixing_)
            return;
        if (systemSoundRunning_ && systemSound_.running()) {
            microphoneRing_.push(samples, frames);
            return;
        }
        delegate = delegate_;
    }
    if (!delegate)
        return;
    // No system sound: the microphone alone paces the recording.
    const std::size_t channels = SystemSoundCapture::kChannels;
    directBuffer_.resize(frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            directBuffer_[i * channels + c] = samples[i];
    delegate->deliverRecordedData(directBuffer_.data(), frames, channels, AudioIO::kRate);
}

} // namespace wl
