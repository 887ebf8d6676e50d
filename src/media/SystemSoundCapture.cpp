#include "media/SystemSoundCapture.h"

#include "media/AudioThread.h"
#include "media/PulseStream.h"
#include "platform/Log.h"

#include <atomic>
#include <vector>

namespace wl {

SystemSoundCapture::SystemSoundCapture(std::string server, std::string source)
    : server_(std::move(server)), source_(std::move(source))
{
}

SystemSoundCapture::~SystemSoundCapture()
{
    stop();
}

bool SystemSoundCapture::start(Handler handler)
{
    std::lock_guard lock(mutex_);
    if (thread_)
        return true;
    PulseStream::StreamSetup setup;
    setup.direction = PulseStream::Direction::record;
    setup.server = server_;
    setup.device = source_.empty() ? "@DEFAULT_MONITOR@" : source_;
    setup.name = "Wickerlane system sound";
    setup.rate = kRate;
    setup.channels = kChannels;
    setup.bufferMs = 10;
    std::string error;
    stream_ = PulseStream::open(setup, &error);
    if (!stream_) {
        Log::line("Wickerlane: system sound capture failed: " + error);
        return false;
    }
    stopping_ = std::make_shared<std::atomic<bool>>(false);
    ended_ = std::make_shared<std::atomic<bool>>(false);
    PulseStream* stream = stream_.get();
    thread_ = std::make_unique<AudioThread>(
        kThreadName, [stream, handler = std::move(handler), stopping = stopping_, ended = ended_] {
            std::vector<int16_t> frame(kFrames * kChannels);
            constexpr int64_t kFrameUs = int64_t{kFrames} * 1'000'000 / kRate;
            bool first = true;
            uint64_t breaks = 0;
            while (!*stopping) {
                if (!stream->read(frame.data(), kFrames))
                    break;
                // Before the server has told the stream's timing, the frame just ended.
                SpeakerTime time;
                time.us = stream->speakerTimeUs().value_or(PulseStream::steadyNowUs()) - kFrameUs;
                time.follows = !first && stream->breaks() == breaks;
                breaks = stream->breaks();
                first = false;
                if (handler)
                    handler(frame.data(), kFrames, time);
            }
            if (!*stopping)
                Log::line("Wickerlane: system sound capture ended");
            *ended = true;
        });
    return true;
}

void SystemSoundCapture::stop()
{
    std::lock_guard lock(mutex_);
    if (!thread_)
        return;
    *stopping_ = true;
    stream_->interrupt();
    thread_.reset();
    stream_.reset();
}

bool SystemSoundCapture::running() const
{
    std::lock_guard lock(mutex_);
    return thread_ && !*ended_;
}

} // namespace wl
