#include "media/SystemAudioDevice.h"

#include "media/AudioDeviceDelegate.h"
#include "media/PulseAudioBackend.h"
#include "platform/Log.h"

#include <modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <chrono>

namespace wl {

namespace {
// At most this much system sound waits for the microphone: enough for the bursts of an
// idle output's monitor, little enough to keep the sound in step with the picture.
constexpr std::size_t kMaxSystemBacklogFrames = 15 * AudioIO::kFrames;
// The microphone paces the recording while its last frame is at most this old.
constexpr int64_t kMicrophoneStallUs = 50'000;
// The played voice counts as playing while its last frame is at most this old.
constexpr int64_t kPlayoutStaleUs = 200'000;

int16_t saturate(int value)
{
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

SystemAudioDevice::SystemAudioDevice(std::shared_ptr<PulseAudioBackend> backend, Options options)
    : VoiceAudioDevice(backend, options.io, "host"), options_(options),
      systemSound_(options.io.server.empty() ? backend->server() : options.io.server, options.systemSound),
      systemRing_(2 * kMaxSystemBacklogFrames * SystemSoundCapture::kChannels)
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
    systemRing_.clear();
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
    systemRing_.clear();
    // Without system sound the microphone alone is sent.
    systemSound_.start([this](const int16_t* samples, std::size_t frames) { deliverSystemSound(samples, frames); });
    return true;
}

void SystemAudioDevice::stopRecordingPath()
{
    systemSound_.stop();
    systemRing_.clear();
}

bool SystemAudioDevice::microphoneFlowing() const
{
    return nowUs() - lastMicrophoneUs_.load() <= kMicrophoneStallUs;
}

void SystemAudioDevice::playoutRendered(const int16_t* samples, std::size_t frames, int channels)
{
    if (!options_.removeOwnPlayout || frames != AudioIO::kFrames)
        return;
    std::lock_guard lock(ownPlayoutMutex_);
    if (!ownPlayout_) {
        webrtc::AudioProcessing::Config config;
        config.echo_canceller.enabled = true;
        config.pipeline.multi_channel_capture = true; // the system sound stays stereo
        config.pipeline.multi_channel_render = true;
        ownPlayout_ = webrtc::AudioProcessingBuilder().SetConfig(config).Create();
        if (!ownPlayout_)
            return;
    }
    const webrtc::StreamConfig format(AudioIO::kRate, static_cast<std::size_t>(channels));
    reference_.assign(samples, samples + frames * static_cast<std::size_t>(channels));
    ownPlayout_->ProcessReverseStream(reference_.data(), format, format, reference_.data());
    lastPlayoutUs_ = nowUs();
}

void SystemAudioDevice::deliverSystemSound(const int16_t* input, std::size_t frames)
{
    const int16_t* samples = input;
    // While the helper's voice plays, take it out of what the monitor heard.
    if (nowUs() - lastPlayoutUs_.load() <= kPlayoutStaleUs && frames == AudioIO::kFrames) {
        std::lock_guard lock(ownPlayoutMutex_);
        if (ownPlayout_) {
            const webrtc::StreamConfig format(SystemSoundCapture::kRate, SystemSoundCapture::kChannels);
            cleaned_.assign(input, input + frames * SystemSoundCapture::kChannels);
            ownPlayout_->set_stream_delay_ms(AudioIO::Options{}.playbackBufferMs + 10);
            ownPlayout_->ProcessStream(cleaned_.data(), format, format, cleaned_.data());
            samples = cleaned_.data();
        }
    }
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !delegate_)
            return;
        if (mixing_ && microphoneFlowing()) {
            systemRing_.push(samples, frames * SystemSoundCapture::kChannels);
            return;
        }
        delegate = delegate_;
    }
    delegate->deliverRecordedData(samples, frames, SystemSoundCapture::kChannels, SystemSoundCapture::kRate);
}

void SystemAudioDevice::microphoneSound(const int16_t* samples, std::size_t frames)
{
    lastMicrophoneUs_ = nowUs();
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !mixing_ || !delegate_)
            return;
        delegate = delegate_;
    }
    const std::size_t channels = SystemSoundCapture::kChannels;
    mixBuffer_.resize(frames * channels);
    while (systemRing_.size() > (kMaxSystemBacklogFrames + frames) * channels)
        systemRing_.pop(mixBuffer_.data(), frames * channels);
    systemRing_.pop(mixBuffer_.data(), frames * channels);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels; ++c)
            mixBuffer_[i * channels + c] = saturate(mixBuffer_[i * channels + c] + samples[i]);
    delegate->deliverRecordedData(mixBuffer_.data(), frames, channels, AudioIO::kRate);
}

} // namespace wl
