#pragma once
// The media engine of a test executable: WebRTC gathers on 127.0.0.1 only, the
// factories carry silence, the audio devices talk to the test's PulseAudio. Made on
// first use and kept for the process (peers of every test come from it).

#include "media/MediaEngine.h"

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

} // namespace wl::test
