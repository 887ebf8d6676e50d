#include "media/AudioIO.h"

#include "media/AudioThread.h"
#include "media/PlaybackLead.h"
#include "media/PulseAudioBackend.h"
#include "media/PulseStream.h"
#include "media/StaleSound.h"
#include "platform/Log.h"

#include <modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <string>
#include <vector>

namespace wl {

struct AudioIO::Shared {
    std::mutex mutex;
    CaptureHandler capture;
    RenderSource render;
    std::function<void()> inputChanged;
    // The playback's target latency: it grows each time the playback runs dry and comes down
    // again after minutes without a break, across restarts of the engine. The lead is the
    // running playback thread's alone; the microphone's thread reads the latency.
    std::atomic<int> playbackBufferMs{0};
    std::unique_ptr<PlaybackLead> lead;
};

struct AudioIO::Engine {
    rtc::scoped_refptr<webrtc::AudioProcessing> processing;
    bool echoCancellation = false;
    std::unique_ptr<PulseStream> microphone;
    std::unique_ptr<PulseStream> speaker;
    std::unique_ptr<AudioThread> microphoneThread;
    std::unique_ptr<AudioThread> speakerThread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> microphoneEnded{false};
    std::atomic<bool> speakerEnded{false};
    std::string microphoneName;
    int microphoneRate = kRate;

    void stop()
    {
        stopping = true;
        if (microphone)
            microphone->interrupt();
        if (speaker)
            speaker->interrupt();
        microphoneThread.reset();
        speakerThread.reset();
        microphone.reset();
        speaker.reset();
    }
};

namespace {

// Rates the microphone stream may run at; the processing module converts them to 48 kHz.
int captureRateFor(int sourceRate)
{
    switch (sourceRate) {
    case 8000:
    case 16000:
    case 32000:
    case 44100:
    case 48000: return sourceRate;
    default: return AudioIO::kRate;
    }
}

} // namespace

AudioIO::AudioIO(std::shared_ptr<PulseAudioBackend> backend, Options options)
    : backend_(std::move(backend)), options_(std::move(options)), shared_(std::make_shared<Shared>())
{
    shared_->playbackBufferMs = options_.playbackBufferMs;
    shared_->lead = std::make_unique<PlaybackLead>(options_.playbackBufferMs);
    std::weak_ptr<Shared> weak = shared_;
    listenerId_ = backend_->addDefaultSourceListener([weak](const std::string&) {
        auto shared = weak.lock();
        if (!shared)
            return;
        std::function<void()> handler;
        {
            std::lock_guard lock(shared->mutex);
            handler = shared->inputChanged;
        }
        if (handler)
            handler();
    });
}

AudioIO::~AudioIO()
{
    backend_->removeDefaultSourceListener(listenerId_);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->inputChanged = nullptr;
    }
    stop();
}

void AudioIO::setCaptureHandler(CaptureHandler handler)
{
    std::lock_guard lock(shared_->mutex);
    shared_->capture = std::move(handler);
}

void AudioIO::setRenderSource(RenderSource source)
{
    std::lock_guard lock(shared_->mutex);
    shared_->render = std::move(source);
}

void AudioIO::setOnInputChanged(std::function<void()> handler)
{
    std::lock_guard lock(shared_->mutex);
    shared_->inputChanged = std::move(handler);
}

void AudioIO::stop()
{
    std::lock_guard lock(engineMutex_);
    if (engine_) {
        engine_->stop();
        engine_.reset();
    }
}

std::optional<std::string> AudioIO::microphoneSource()
{
    if (!options_.microphone.empty()) {
        auto info = backend_->sourceInfo(options_.microphone);
        if (!info)
            return std::nullopt;
        return info->name;
    }
    auto name = backend_->defaultSourceName();
    if (!name)
        return std::nullopt;
    auto info = backend_->sourceInfo(*name);
    // With no input device PulseAudio falls back to the monitor of an output: that is
    // not a microphone.
    if (!info || info->isMonitor)
        return std::nullopt;
    return info->name;
}

bool AudioIO::restart()
{
    std::lock_guard lock(engineMutex_);
    if (engine_) {
        engine_->stop();
        engine_.reset();
    }
    const bool wantMicrophone = microphoneOn.load();
    const bool wantPlayback = playbackOn.load();
    if (!wantMicrophone && !wantPlayback)
        return true;

    auto engine = std::make_unique<Engine>();
    bool ok = true;

    webrtc::AudioProcessing::Config config;
    config.echo_canceller.enabled = options_.echoCancellation;
    config.noise_suppression.enabled = options_.noiseSuppression;
    config.noise_suppression.level = webrtc::AudioProcessing::Config::NoiseSuppression::kModerate;
    config.high_pass_filter.enabled = options_.echoCancellation || options_.noiseSuppression;
    engine->processing = webrtc::AudioProcessingBuilder().SetConfig(config).Create();
    engine->echoCancellation = options_.echoCancellation && wantMicrophone && engine->processing;

    CaptureHandler capture;
    RenderSource render;
    {
        std::lock_guard handlers(shared_->mutex);
        capture = shared_->capture;
        render = shared_->render;
    }

    if (wantMicrophone) {
        auto source = microphoneSource();
        if (!source) {
            Log::line("Wickerlane: no microphone to capture");
            ok = false;
        } else {
            auto info = backend_->sourceInfo(*source);
            PulseStream::StreamSetup setup;
            setup.direction = PulseStream::Direction::record;
            setup.server = options_.server.empty() ? backend_->server() : options_.server;
            setup.device = *source;
            setup.name = "Wickerlane microphone";
            setup.rate = captureRateFor(info ? info->rate : kRate);
            setup.channels = 1;
            setup.bufferMs = 10;
            std::string error;
            engine->microphone = PulseStream::open(setup, &error);
            if (!engine->microphone) {
                Log::line("Wickerlane: the microphone could not start: " + error);
                ok = false;
            } else {
                engine->microphoneName = *source;
                engine->microphoneRate = setup.rate;
            }
        }
    }
    if (wantPlayback) {
        PulseStream::StreamSetup setup;
        setup.direction = PulseStream::Direction::playback;
        setup.server = options_.server.empty() ? backend_->server() : options_.server;
        setup.device = options_.speaker;
        setup.name = "Wickerlane playback";
        setup.rate = kRate;
        setup.channels = kPlaybackChannels;
        setup.bufferMs = shared_->playbackBufferMs;
        std::string error;
        engine->speaker = PulseStream::open(setup, &error);
        if (!engine->speaker) {
            Log::line("Wickerlane: audio playback could not start: " + error);
            ok = false;
        }
    }

    Engine* e = engine.get();
    std::shared_ptr<Shared> shared = shared_;
    if (e->microphone) {
        e->microphoneThread = std::make_unique<AudioThread>("wickerlane.audio.in", [e, capture, shared] {
            const int rate = e->microphoneRate;
            std::vector<int16_t> input(static_cast<std::size_t>(rate / 100));
            std::vector<int16_t> output(kFrames);
            const webrtc::StreamConfig inputConfig(rate, 1);
            const webrtc::StreamConfig outputConfig(kRate, 1);
            StaleSound stale;
            while (!e->stopping) {
                if (!e->microphone->read(input.data(), input.size()))
                    break;
                if (!stale.keep(e->microphone->speakerTimeUs(), PulseStream::steadyNowUs()))
                    continue;
                if (e->processing) {
                    e->processing->set_stream_delay_ms(shared->playbackBufferMs + 10);
                    // In place when no resampling is needed: the module leaves the frame
                    // untouched when none of its parts has work to do.
                    if (rate == kRate) {
                        e->processing->ProcessStream(input.data(), inputConfig, outputConfig, input.data());
                        output = input;
                    } else {
                        e->processing->ProcessStream(input.data(), inputConfig, outputConfig, output.data());
                    }
                } else if (rate == kRate) {
                    output = input;
                } else {
                    std::fill(output.begin(), output.end(), 0);
                }
                if (capture)
                    capture(output.data(), kFrames);
            }
            if (!e->stopping)
                Log::line("Wickerlane: the microphone stream ended");
            e->microphoneEnded = true;
        });
    }
    if (e->speaker) {
        e->speakerThread = std::make_unique<AudioThread>("wickerlane.audio.out", [e, render, shared] {
            std::vector<int16_t> frame(kFrames * kPlaybackChannels);
            std::vector<int16_t> scratch(frame.size());
            const webrtc::StreamConfig config(kRate, kPlaybackChannels);
            bool first = true;
            uint64_t breaks = 0;
            PlaybackLead& lead = *shared->lead;
            lead.started(PulseStream::steadyNowUs());
            while (!e->stopping) {
                // Before the server has told the stream's timing, a full buffer is ahead.
                const int64_t now = PulseStream::steadyNowUs();
                SpeakerTime time;
                time.us = e->speaker->speakerTimeUs().value_or(now + int64_t{lead.ms()} * 1000);
                time.follows = !first && e->speaker->breaks() == breaks;
                time.aheadUs = int64_t{lead.ms()} * 1000;
                if (!first && (time.follows ? lead.played(now) : lead.ranDry(now))) {
                    shared->playbackBufferMs = lead.ms();
                    e->speaker->setPlaybackBufferMs(lead.ms());
                    time.aheadUs = int64_t{lead.ms()} * 1000;
                    Log::line(std::string("Wickerlane: ") +
                              (time.follows ? "the playback kept up for minutes" : "the playback ran dry") +
                              "; it keeps " + std::to_string(lead.ms()) + " ms ahead now");
                }
                breaks = e->speaker->breaks();
                first = false;
                if (render)
                    render(frame.data(), kFrames, kPlaybackChannels, time);
                else
                    std::fill(frame.begin(), frame.end(), 0);
                // What is played is the echo the microphone will hear.
                if (e->echoCancellation)
                    e->processing->ProcessReverseStream(frame.data(), config, config, scratch.data());
                if (!e->speaker->write(frame.data(), kFrames))
                    break;
            }
            if (!e->stopping)
                Log::line("Wickerlane: the playback stream ended");
            e->speakerEnded = true;
        });
    }
    engine_ = std::move(engine);
    return ok;
}

MicrophoneResult AudioIO::switchMicrophone(bool on)
{
    if (!on) {
        microphoneOn = false;
        restart();
        return MicrophoneResult::done;
    }
    if (!microphoneSource()) {
        if (microphoneOn.exchange(false))
            restart();
        return MicrophoneResult::noMicrophone;
    }
    // Linux asks no permission for the microphone: access counts as granted.
    microphoneOn = true;
    restart();
    if (!microphoneRunning()) {
        microphoneOn = false;
        restart();
        return MicrophoneResult::couldNotStart;
    }
    return MicrophoneResult::done;
}

bool AudioIO::microphoneRunning() const
{
    std::lock_guard lock(engineMutex_);
    return engine_ && engine_->microphone && !engine_->microphoneEnded;
}

bool AudioIO::playbackRunning() const
{
    std::lock_guard lock(engineMutex_);
    return engine_ && engine_->speaker && !engine_->speakerEnded;
}

std::string AudioIO::microphoneInUse() const
{
    std::lock_guard lock(engineMutex_);
    return engine_ && engine_->microphone ? engine_->microphoneName : std::string();
}

} // namespace wl
