#pragma once
// The outcome of switching a microphone on or off.

namespace wl {

enum class MicrophoneResult {
    notAllowed = 0, // access to the microphone was not granted
    noMicrophone = 1, // there is no default audio input device
    couldNotStart = 2, // the audio engine did not start
    done = 3,
};

const char* microphoneResultName(MicrophoneResult result);

} // namespace wl
