#pragma once
// What an audio device talks to on WebRTC's side: it hands over recorded sound, asks for
// sound to play, and is told (through dispatchAsync) when the input device changed.
// SessionAudioDevice provides the one delegate, over WebRTC's AudioTransport.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace wl {

class AudioDeviceDelegate {
public:
    virtual ~AudioDeviceDelegate() = default;

    // Runs work later on the delegate's own queue.
    virtual void dispatchAsync(std::function<void()> work) = 0;
    // The input device changed: the recording is rebuilt for the new one. Call through
    // dispatchAsync.
    virtual void notifyAudioInputInterrupted() = 0;

    // 10 ms of recorded sound, interleaved 16-bit (called on an audio thread).
    virtual void deliverRecordedData(const int16_t* samples, std::size_t frames, std::size_t channels,
                                     int sampleRate) = 0;
    // Fills 10 ms of sound to play, interleaved 16-bit (called on an audio thread).
    virtual void getPlayoutData(int16_t* samples, std::size_t frames, std::size_t channels, int sampleRate) = 0;
};

} // namespace wl
