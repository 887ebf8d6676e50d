#include "media/PulseStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace wl {

namespace {
// A playback stream keeps bufferMs of sound ahead of the speaker (the server's and the
// stream's together) and asks for 10 ms at a time; a recording hands over bufferMs at a time.
pa_buffer_attr bufferAttributes(const pa_sample_spec& format, int bufferMs)
{
    const auto bytesFor = [&](int ms) {
        return static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(ms) * 1000, &format));
    };
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.tlength = bytesFor(std::max(bufferMs, 10));
    attributes.minreq = bytesFor(10);
    attributes.fragsize = bytesFor(std::max(bufferMs, 10));
    return attributes;
}

void signalLoop(void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}
void contextStateChanged(pa_context*, void* loop)
{
    signalLoop(loop);
}
void streamStateChanged(pa_stream*, void* loop)
{
    signalLoop(loop);
}
void streamReady(pa_stream*, size_t, void* loop)
{
    signalLoop(loop);
}
void streamBroke(pa_stream*, void* breaks)
{
    ++*static_cast<std::atomic<uint64_t>*>(breaks);
}
} // namespace

PulseStream::PulseStream(StreamSetup setup) : spec_(std::move(setup)) { }

std::unique_ptr<PulseStream> PulseStream::open(const StreamSetup& setup, std::string* error)
{
    // A busy server accepts connections late, and the few its socket queues meanwhile fill
    // quickly: further ones are refused at once. Such a refusal passes within moments, so
    // try again a few times (about a third of a second in all) before giving up.
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        bool refused = false;
        auto stream = openOnce(setup, error, &refused);
        if (stream || !refused || attempt == kAttempts)
            return stream;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 << (attempt - 1)));
    }
}

std::unique_ptr<PulseStream> PulseStream::openOnce(const StreamSetup& setup, std::string* error, bool* refused)
{
    auto fail = [error](std::string text) {
        if (error)
            *error = std::move(text);
        return nullptr;
    };
    pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(std::max(setup.rate, 0)),
                          static_cast<uint8_t>(std::clamp(setup.channels, 0, 255))};
    if (setup.rate <= 0 || setup.channels <= 0 || !pa_sample_spec_valid(&format))
        return fail("unsupported sample format");

    std::unique_ptr<PulseStream> self(new PulseStream(setup));
    self->loop_ = pa_threaded_mainloop_new();
    if (!self->loop_)
        return fail("no main loop");
    self->context_ = pa_context_new(pa_threaded_mainloop_get_api(self->loop_), setup.name.c_str());
    if (!self->context_)
        return fail("no context");
    pa_context_set_state_callback(self->context_, contextStateChanged, self->loop_);
    if (pa_context_connect(self->context_, setup.server.empty() ? nullptr : setup.server.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *refused = pa_context_errno(self->context_) == PA_ERR_CONNECTIONREFUSED;
        return fail(pa_strerror(pa_context_errno(self->context_)));
    }
    pa_threaded_mainloop_lock(self->loop_);
    if (pa_threaded_mainloop_start(self->loop_) < 0) {
        pa_threaded_mainloop_unlock(self->loop_);
        return fail("main loop did not start");
    }
    for (;;) {
        auto state = pa_context_get_state(self->context_);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            *refused = pa_context_errno(self->context_) == PA_ERR_CONNECTIONREFUSED;
            std::string text = pa_strerror(pa_context_errno(self->context_));
            pa_threaded_mainloop_unlock(self->loop_);
            return fail(text);
        }
        pa_threaded_mainloop_wait(self->loop_);
    }

    self->stream_ = pa_stream_new(self->context_, setup.name.c_str(), &format, nullptr);
    if (!self->stream_) {
        std::string text = pa_strerror(pa_context_errno(self->context_));
        pa_threaded_mainloop_unlock(self->loop_);
        return fail(text);
    }
    pa_stream_set_state_callback(self->stream_, streamStateChanged, self->loop_);
    pa_stream_set_read_callback(self->stream_, streamReady, self->loop_);
    pa_stream_set_write_callback(self->stream_, streamReady, self->loop_);
    pa_stream_set_underflow_callback(self->stream_, streamBroke, &self->breaks_);
    pa_stream_set_overflow_callback(self->stream_, streamBroke, &self->breaks_);

    const pa_buffer_attr attributes = bufferAttributes(format, setup.bufferMs);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    const char* device = setup.device.empty() ? nullptr : setup.device.c_str();
    int connected = setup.direction == Direction::record
        ? pa_stream_connect_record(self->stream_, device, &attributes, flags)
        : pa_stream_connect_playback(self->stream_, device, &attributes, flags, nullptr, nullptr);
    if (connected < 0) {
        std::string text = pa_strerror(pa_context_errno(self->context_));
        pa_threaded_mainloop_unlock(self->loop_);
        return fail(text);
    }
    for (;;) {
        auto state = pa_stream_get_state(self->stream_);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            std::string text = pa_strerror(pa_context_errno(self->context_));
            pa_threaded_mainloop_unlock(self->loop_);
            return fail(text);
        }
        pa_threaded_mainloop_wait(self->loop_);
    }
    pa_threaded_mainloop_unlock(self->loop_);
    return self;
}

PulseStream::~PulseStream()
{
    if (loop_)
        pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
}

bool PulseStream::good() const
{
    return !interrupted_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
        pa_stream_get_state(stream_) == PA_STREAM_READY;
}

bool PulseStream::read(int16_t* samples, std::size_t frames)
{
    auto* out = reinterpret_cast<uint8_t*>(samples);
    std::size_t remaining = frames * static_cast<std::size_t>(spec_.channels) * sizeof(int16_t);
    pa_threaded_mainloop_lock(loop_);
    while (remaining > 0) {
        if (!good()) {
            pa_threaded_mainloop_unlock(loop_);
            return false;
        }
        if (!peekData_) {
            const void* data = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(stream_, &data, &length) < 0) {
                pa_threaded_mainloop_unlock(loop_);
                return false;
            }
            if (length == 0) {
                pa_threaded_mainloop_wait(loop_);
                continue;
            }
            if (!data) { // a hole in the recording: skip it
                ++breaks_;
                pa_stream_drop(stream_);
                continue;
            }
            peekData_ = static_cast<const uint8_t*>(data);
            peekLength_ = length;
            peekOffset_ = 0;
        }
        std::size_t n = std::min(remaining, peekLength_ - peekOffset_);
        std::memcpy(out, peekData_ + peekOffset_, n);
        out += n;
        remaining -= n;
        peekOffset_ += n;
        if (peekOffset_ == peekLength_) {
            pa_stream_drop(stream_);
            peekData_ = nullptr;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return true;
}

bool PulseStream::write(const int16_t* samples, std::size_t frames)
{
    const auto* in = reinterpret_cast<const uint8_t*>(samples);
    std::size_t remaining = frames * static_cast<std::size_t>(spec_.channels) * sizeof(int16_t);
    pa_threaded_mainloop_lock(loop_);
    while (remaining > 0) {
        if (!good()) {
            pa_threaded_mainloop_unlock(loop_);
            return false;
        }
        std::size_t room = pa_stream_writable_size(stream_);
        if (room == static_cast<std::size_t>(-1)) {
            pa_threaded_mainloop_unlock(loop_);
            return false;
        }
        if (room == 0) {
            pa_threaded_mainloop_wait(loop_);
            continue;
        }
        std::size_t n = std::min(room, remaining);
        if (pa_stream_write(stream_, in, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            pa_threaded_mainloop_unlock(loop_);
            return false;
        }
        in += n;
        remaining -= n;
    }
    pa_threaded_mainloop_unlock(loop_);
    return true;
}

void PulseStream::interrupt()
{
    pa_threaded_mainloop_lock(loop_);
    interrupted_ = true;
    pa_threaded_mainloop_signal(loop_, 0);
    pa_threaded_mainloop_unlock(loop_);
}

void PulseStream::setPlaybackBufferMs(int ms)
{
    pa_threaded_mainloop_lock(loop_);
    if (good() && spec_.direction == Direction::playback) {
        const pa_buffer_attr attributes = bufferAttributes(*pa_stream_get_sample_spec(stream_), ms);
        if (pa_operation* operation = pa_stream_set_buffer_attr(stream_, &attributes, nullptr, nullptr))
            pa_operation_unref(operation);
    }
    pa_threaded_mainloop_unlock(loop_);
}

int64_t PulseStream::steadyNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<int64_t> PulseStream::speakerTimeUs()
{
    pa_threaded_mainloop_lock(loop_);
    std::optional<int64_t> result;
    pa_usec_t latency = 0;
    int negative = 0;
    if (good() && pa_stream_get_latency(stream_, &latency, &negative) == 0) {
        const int64_t now = steadyNowUs();
        const int64_t signedLatency = negative ? -static_cast<int64_t>(latency) : static_cast<int64_t>(latency);
        if (spec_.direction == Direction::playback) {
            result = now + signedLatency;
        } else {
            // The server counts a fragment as unread until all of it is: what was read of it
            // is newer than its start.
            const auto* format = pa_stream_get_sample_spec(stream_);
            const int64_t read = peekData_ && format ? static_cast<int64_t>(pa_bytes_to_usec(peekOffset_, format)) : 0;
            result = now - signedLatency + read;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

std::string PulseStream::deviceName() const
{
    pa_threaded_mainloop_lock(loop_);
    const char* name = pa_stream_get_device_name(stream_);
    std::string result = name ? name : "";
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

} // namespace wl
