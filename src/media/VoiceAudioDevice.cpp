#include "media/VoiceAudioDevice.h"

#include "media/AudioDeviceDelegate.h"
#include "media/PulseAudioBackend.h"
#include "platform/Log.h"

#include <algorithm>
#include <vector>

namespace wl {

VoiceAudioDevice::VoiceAudioDevice(std::shared_ptr<PulseAudioBackend> backend, AudioIO::Options options,
                                   std::string name)
    : backend_(std::move(backend)), options_(std::move(options)), name_(std::move(name)),
      switches_("wickerlane.audio.switch")
{
}

VoiceAudioDevice::~VoiceAudioDevice()
{
    closing_ = true;
    waitForSwitches();
    std::lock_guard lock(ioMutex_);
    io_.reset();
}

AudioIO& VoiceAudioDevice::io()
{
    std::lock_guard lock(ioMutex_);
    if (!io_) {
        io_ = std::make_unique<AudioIO>(backend_, options_);
        io_->setCaptureHandler(
            [this](const int16_t* samples, std::size_t frames) { microphoneSound(samples, frames); });
        io_->setRenderSource([this](int16_t* samples, std::size_t frames, int channels, SpeakerTime time) {
            renderPlayout(samples, frames, channels, time);
        });
        // Called on the sound server's thread until the engine goes, which may be while
        // this device is being destroyed: the call is not dispatched through the object.
        io_->setOnInputChanged([this] { VoiceAudioDevice::inputInterrupted(); });
    }
    return *io_;
}

void VoiceAudioDevice::setDelegate(AudioDeviceDelegate* delegate)
{
    std::lock_guard delivering(deliveryMutex_);
    std::lock_guard lock(stateMutex_);
    delegate_ = delegate;
}

void VoiceAudioDevice::tellInputChanged()
{
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        delegate = delegate_;
    }
    if (delegate)
        delegate->dispatchAsync([delegate] { delegate->notifyAudioInputInterrupted(); });
}

void VoiceAudioDevice::renderPlayout(int16_t* samples, std::size_t frames, int channels, SpeakerTime time)
{
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate = nullptr;
    {
        std::lock_guard lock(stateMutex_);
        if (playing_)
            delegate = delegate_;
    }
    if (delegate)
        delegate->getPlayoutData(samples, frames, static_cast<std::size_t>(channels), AudioIO::kRate);
    else
        std::fill(samples, samples + frames * static_cast<std::size_t>(channels), int16_t{0});
    playoutRendered(samples, frames, channels, time);
}

bool VoiceAudioDevice::startPlayout()
{
    {
        std::lock_guard lock(stateMutex_);
        if (playing_)
            return true;
        playing_ = true;
    }
    auto& engine = io();
    engine.playbackOn = true;
    engine.restart();
    return engine.playbackRunning();
}

void VoiceAudioDevice::stopPlayout()
{
    {
        std::lock_guard lock(stateMutex_);
        if (!playing_)
            return;
        playing_ = false;
    }
    auto& engine = io();
    engine.playbackOn = false;
    engine.restart();
}

bool VoiceAudioDevice::isPlaying() const
{
    std::lock_guard lock(stateMutex_);
    return playing_;
}

bool VoiceAudioDevice::startRecording()
{
    {
        std::lock_guard lock(stateMutex_);
        if (recording_)
            return true;
        recording_ = true;
    }
    return startRecordingPath();
}

void VoiceAudioDevice::stopRecording()
{
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_)
            return;
        recording_ = false;
    }
    stopRecordingPath();
}

bool VoiceAudioDevice::isRecording() const
{
    std::lock_guard lock(stateMutex_);
    return recording_;
}

void VoiceAudioDevice::microphoneChanged(bool) { }

void VoiceAudioDevice::setMicrophone(bool on, std::function<void(MicrophoneResult)> completion)
{
    switches_.post([this, on, completion = std::move(completion)] {
        auto& engine = io();
        const bool before = engine.microphoneOn;
        const MicrophoneResult result = engine.switchMicrophone(on);
        const bool after = engine.microphoneOn;
        leftOn_ = after;
        microphoneChanged(after);
        if (before != after)
            tellInputChanged();
        Log::line("Wickerlane: " + name_ + " microphone " + (after ? "on" : "off") + " (" +
                  microphoneResultName(result) + ")");
        if (completion)
            runOnMainThread([completion, result] { completion(result); });
    });
}

void VoiceAudioDevice::inputInterrupted()
{
    if (closing_ || !leftOn_)
        return;
    switches_.post([this] { followInput(); });
}

void VoiceAudioDevice::followInput()
{
    // The person may have switched it off meanwhile; a device on its way out follows nothing.
    if (closing_ || !leftOn_)
        return;
    auto& engine = io();
    const bool before = engine.microphoneOn;
    auto source = engine.microphoneSource();
    if (before && source && *source == engine.microphoneInUse() && engine.microphoneRunning())
        return;
    if (!source) {
        if (!before)
            return;
        Log::line("Wickerlane: the " + name_ + " microphone went away; it comes back with the next input device");
        engine.microphoneOn = false;
        engine.restart();
    } else {
        Log::line("Wickerlane: the " + name_ + " microphone " + (before ? "follows " : "comes back on ") + *source);
        engine.microphoneOn = true;
        if (!engine.restart() && !engine.microphoneRunning()) {
            Log::line("Wickerlane: the " + name_ + " microphone could not start on " + *source);
            engine.microphoneOn = false;
            engine.restart();
        }
    }
    const bool after = engine.microphoneOn;
    microphoneChanged(after);
    // A start that failed again changed nothing: the delegate, which has both devices
    // follow, is not told (it would have this one try again at once).
    if (before || after)
        tellInputChanged();
    if (before != after)
        tellWatchers();
}

void VoiceAudioDevice::switchOffAtOnce()
{
    switches_.sync([this] {
        leftOn_ = false;
        auto& engine = io();
        engine.microphoneOn = false;
        engine.restart();
        microphoneChanged(false);
    });
}

int VoiceAudioDevice::addMicrophoneWatcher(std::function<void()> watcher)
{
    std::lock_guard lock(watchers_->mutex);
    const int id = watchers_->next++;
    watchers_->list[id] = std::move(watcher);
    return id;
}

void VoiceAudioDevice::removeMicrophoneWatcher(int id)
{
    std::lock_guard lock(watchers_->mutex);
    watchers_->list.erase(id);
}

void VoiceAudioDevice::tellWatchers()
{
    // Looked up on the main thread, where watchers come and go: one removed meanwhile is
    // not called, and the list outlives the device.
    runOnMainThread([watchers = watchers_] {
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard lock(watchers->mutex);
            for (const auto& [id, watcher] : watchers->list)
                calls.push_back(watcher);
        }
        for (const auto& call : calls)
            call();
    });
}

void VoiceAudioDevice::stopEngine()
{
    closing_ = true;
    waitForSwitches();
    std::lock_guard lock(ioMutex_);
    if (io_)
        io_->stop();
}

void VoiceAudioDevice::waitForSwitches()
{
    switches_.sync([] {});
}

} // namespace wl
