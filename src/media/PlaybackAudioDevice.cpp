#include "media/PlaybackAudioDevice.h"

#include "media/AudioDeviceDelegate.h"
#include "media/PulseAudioBackend.h"

namespace wl {

PlaybackAudioDevice::PlaybackAudioDevice(std::shared_ptr<PulseAudioBackend> backend, AudioIO::Options options)
    : VoiceAudioDevice(std::move(backend), std::move(options), "helper")
{
}

PlaybackAudioDevice::~PlaybackAudioDevice()
{
    stopEngine();
}

void PlaybackAudioDevice::microphoneSound(const int16_t* samples, std::size_t frames)
{
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_)
            return;
        delegate = delegate_;
    }
    if (delegate)
        delegate->deliverRecordedData(samples, frames, 1, AudioIO::kRate);
}

void PlaybackAudioDevice::switchMicrophoneOff()
{
    switchOffAtOnce();
    tellInputChanged();
}

} // namespace wl
