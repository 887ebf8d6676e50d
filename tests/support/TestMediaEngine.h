#pragma once
// The media engine of a test executable: WebRTC gathers on 127.0.0.1 only, the
// factories carry silence, the audio devices talk to the test's PulseAudio. Made on
// first use and kept for the process (peers of every test come from it).

#include "media/MediaEngine.h"
#include "media/PulseAudioBackend.h"
#include "protocol/SessionEvent.h"

#include <memory>
#include <optional>
#include <string>

namespace wl::test {

inline MediaEngine& loopbackEngine()
{
    static auto* engine = new MediaEngine([] {
        MediaEngine::Options options;
        options.loopbackOnly = true;
        options.sound = false;
        return options;
    }());
    return *engine;
}

// The options of an engine that carries sound, through the PulseAudio at this address.
inline MediaEngine::Options soundEngineOptions(const std::string& pulseAddress)
{
    MediaEngine::Options options;
    options.loopbackOnly = true;
    options.audio = std::make_shared<PulseAudioBackend>(pulseAddress);
    return options;
}

// What the last microphone event among these session events said; nothing without one.
template <typename Events>
std::optional<bool> lastMicrophoneState(const Events& events)
{
    for (auto event = events.rbegin(); event != events.rend(); ++event)
        if (event->kind == SessionEvent::Kind::microphone)
            return event->active.value_or(false);
    return std::nullopt;
}

} // namespace wl::test
