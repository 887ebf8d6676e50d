#pragma once
// One blocking PulseAudio stream of 16-bit interleaved samples, recording from a source
// or playing into a sink, with its own connection to the sound server. read() and
// write() block the calling (audio) thread; interrupt() wakes it from another thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace wl {

// Where 10 ms of a stream's sound sit in time: when its first sample reaches (or reached)
// the speaker, in microseconds of the steady clock (PulseStream::speakerTimeUs), and
// whether it follows the stream's previous 10 ms with no break in between. A playback
// tells too how much sound it means to keep ahead of the speaker.
struct SpeakerTime {
    int64_t us = 0;
    bool follows = false;
    int64_t aheadUs = 0;
};

class PulseStream {
public:
    enum class Direction { record, playback };
    struct StreamSetup {
        Direction direction = Direction::record;
        std::string server; // empty: the default server (PULSE_SERVER)
        std::string device; // source or sink name ("@DEFAULT_MONITOR@" works); empty: default
        std::string name = "Wickerlane";
        int rate = 48000;
        int channels = 1;
        int bufferMs = 40; // playback: target latency; record: fragment size
    };

    // nullptr and *error filled when the server, the device or the format refuses.
    static std::unique_ptr<PulseStream> open(const StreamSetup& setup, std::string* error);
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Reads exactly frames frames; false when the stream failed or was interrupted.
    bool read(int16_t* samples, std::size_t frames);
    // Writes exactly frames frames, waiting for room; false when failed or interrupted.
    bool write(const int16_t* samples, std::size_t frames);
    void interrupt();
    // Playback: keeps this much sound ahead of the speaker from now on.
    void setPlaybackBufferMs(int ms);

    // When the next sample written will be played (playback), or when the next sample read
    // was played or recorded (recording), in microseconds of the steady clock, by the
    // server's interpolated timing. A sink's monitor hears what the sink plays before the
    // speaker does: its times are those of the speaker too. Nothing until the server has
    // told the stream's timing.
    std::optional<int64_t> speakerTimeUs();
    // Now, on the clock of speakerTimeUs.
    static int64_t steadyNowUs();
    // How often the stream's sound broke off so far: a playback stream ran dry, or a
    // recording lost sound. What is written or read between two equal counts follows on.
    uint64_t breaks() const { return breaks_; }

    const StreamSetup& setup() const { return spec_; }
    std::string deviceName() const; // the device the server connected the stream to

private:
    explicit PulseStream(StreamSetup setup);
    // One attempt; *refused tells whether the server refused the connection.
    static std::unique_ptr<PulseStream> openOnce(const StreamSetup& setup, std::string* error, bool* refused);
    bool good() const;

    StreamSetup spec_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool interrupted_ = false; // under the mainloop lock
    std::atomic<uint64_t> breaks_{0};
    const uint8_t* peekData_ = nullptr;
    std::size_t peekLength_ = 0;
    std::size_t peekOffset_ = 0;
};

} // namespace wl
