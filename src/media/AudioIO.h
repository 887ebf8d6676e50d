#pragma once
// The voice audio engine of an audio device: the microphone (captured from the default
// PulseAudio source, or a chosen one) and a playback stream (into the default sink, or a
// chosen one), with WebRTC's audio processing module between them for echo cancellation,
// noise suppression and resampling to 48 kHz. Every stream runs on its own engine thread;
// the handlers are called there (real-time: no blocking, no hopping).
//
// The flags say what the engine should run; restart() stops it and rebuilds it for them.

#include "media/MicrophoneResult.h"
#include "media/PulseStream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace wl {

class PulseAudioBackend;

class AudioIO {
public:
    static constexpr int kRate = 48000;
    static constexpr std::size_t kFrames = 480; // 10 ms
    static constexpr int kPlaybackChannels = 2;

    struct Options {
        std::string server; // streams' server; empty: the backend's
        std::string microphone; // source name; empty: the server's default source
        std::string speaker; // sink name; empty: the server's default sink
        bool echoCancellation = true;
        bool noiseSuppression = true;
        int playbackBufferMs = 40;
    };

    // 10 ms of processed microphone sound: 48 kHz mono.
    using CaptureHandler = std::function<void(const int16_t* samples, std::size_t frames)>;
    // Fills 10 ms of sound to play: 48 kHz, kPlaybackChannels interleaved, and when it
    // reaches the speaker.
    using RenderSource = std::function<void(int16_t* samples, std::size_t frames, int channels, SpeakerTime time)>;

    AudioIO(std::shared_ptr<PulseAudioBackend> backend, Options options);
    ~AudioIO();
    AudioIO(const AudioIO&) = delete;
    AudioIO& operator=(const AudioIO&) = delete;

    // Whether the microphone is captured (the engine holds this state after a restart).
    std::atomic<bool> microphoneOn{false};
    // Whether the playback stream runs (the owning device sets it from WebRTC's playout).
    std::atomic<bool> playbackOn{false};

    // Stops the engine and rebuilds it for the current flags. False when a wanted stream
    // did not start (the others still run).
    bool restart();
    void stop();

    // Switches the microphone: off always succeeds; on needs an input device and a
    // starting engine, otherwise the microphone stays off. Blocks while the engine restarts.
    MicrophoneResult switchMicrophone(bool on);

    // The source the microphone would use now, or nullopt when there is no input device
    // (no default source, or only a monitor of an output).
    std::optional<std::string> microphoneSource();

    bool microphoneRunning() const;
    bool playbackRunning() const;
    std::string microphoneInUse() const; // the source name of the running microphone

    void setCaptureHandler(CaptureHandler handler);
    void setRenderSource(RenderSource source);
    // Called on the backend thread when the server's default input device changes.
    void setOnInputChanged(std::function<void()> handler);

    const Options& options() const { return options_; }
    PulseAudioBackend& backend() { return *backend_; }

private:
    struct Engine;
    struct Shared;
    std::shared_ptr<PulseAudioBackend> backend_;
    Options options_;
    std::shared_ptr<Shared> shared_;
    mutable std::mutex engineMutex_; // serialises restart/stop
    std::unique_ptr<Engine> engine_;
    int listenerId_ = 0;
};

} // namespace wl
