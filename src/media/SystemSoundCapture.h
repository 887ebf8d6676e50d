#pragma once
// System sound: what the machine plays, recorded from the default sink's monitor source
// on its own thread "wickerlane.capture.audio" and handed, 10 ms at a time (48 kHz stereo),
// straight to the host's audio device, with the time its first sample was played.

#include "media/PulseStream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace wl {

class AudioThread;
class PulseStream;

class SystemSoundCapture {
public:
    static constexpr const char* kThreadName = "wickerlane.capture.audio";
    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;
    static constexpr std::size_t kFrames = 480;

    using Handler = std::function<void(const int16_t* samples, std::size_t frames, SpeakerTime time)>;

    // source: empty for the default sink's monitor.
    explicit SystemSoundCapture(std::string server = {}, std::string source = {});
    ~SystemSoundCapture();

    // Opens the stream and starts the thread; false (logged) when the stream cannot open.
    bool start(Handler handler);
    void stop();
    bool running() const;

private:
    std::string server_;
    std::string source_;
    mutable std::mutex mutex_;
    std::unique_ptr<PulseStream> stream_;
    std::unique_ptr<AudioThread> thread_;
    std::shared_ptr<std::atomic<bool>> stopping_;
    std::shared_ptr<std::atomic<bool>> ended_;
};

} // namespace wl
