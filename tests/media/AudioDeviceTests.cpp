// The audio devices against a PulseAudio of each test's own (set up as the shared one of
// scripts/with-test-env): null sinks for the system sound and the speakers, null sources
// and sinks' monitors standing for microphones. The tests change its default source and
// load and unload modules, which other tests using the shared server must not see.

#include "ChildProcess.h"
#include "PulseServer.h"
#include "TestEnvironment.h"

#include "media/AudioIO.h"
#include "media/AudioThread.h"
#include "media/PlaybackAudioDevice.h"
#include "media/PulseAudioBackend.h"
#include "media/PulseStream.h"
#include "media/SampleRing.h"
#include "media/SessionAudioDevice.h"
#include "media/SystemAudioDevice.h"
#include "media/SystemSoundCapture.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace wl {
namespace {

using test::commandOutput;

QCoreApplication& app()
{
    if (auto* existing = QCoreApplication::instance())
        return *existing;
    static int argc = 1;
    static char name[] = "wl_media_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// Pumps the main thread's events until done() holds or the time is up.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Test sinks and sources, removed again at the end of the test.
class Modules {
public:
    ~Modules()
    {
        for (auto& id : ids_)
            commandOutput("pactl unload-module " + id);
    }
    void nullSink(const std::string& name)
    {
        ids_.push_back(
            commandOutput("pactl load-module module-null-sink sink_name=" + name + " rate=48000 channels=2"));
    }
    void nullSource(const std::string& name)
    {
        ids_.push_back(
            commandOutput("pactl load-module module-null-source source_name=" + name + " rate=48000 channels=1"));
    }

private:
    std::vector<std::string> ids_;
};

// Level of one frequency in mono samples, in dB relative to a full-scale sine.
double toneLevelDb(const std::vector<int16_t>& samples, double frequency, int rate = 48000)
{
    if (samples.empty())
        return -200;
    const double w = 2 * std::numbers::pi * frequency / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int16_t sample : samples) {
        const double s0 = sample / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    const double amplitude = 2 * std::sqrt(std::max(power, 1e-30)) / samples.size();
    return 20 * std::log10(amplitude);
}

std::vector<int16_t> sine(double frequency, std::size_t frames, int channels, double amplitude, std::size_t& phase)
{
    std::vector<int16_t> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i, ++phase) {
        const auto value =
            static_cast<int16_t>(amplitude * 32767 * std::sin(2 * std::numbers::pi * frequency * phase / 48000));
        for (int c = 0; c < channels; ++c)
            out[i * channels + c] = value;
    }
    return out;
}

// Plays a sine into a sink until destroyed.
class TonePlayer {
public:
    TonePlayer(const std::string& sink, double frequency, double amplitude = 0.3, int bufferMs = 40)
    {
        PulseStream::StreamSetup setup;
        setup.direction = PulseStream::Direction::playback;
        setup.device = sink;
        setup.channels = 2;
        setup.bufferMs = bufferMs;
        setup.name = "test tone";
        stream_ = PulseStream::open(setup, &error_);
        if (!stream_)
            return;
        thread_ = std::thread([this, frequency, amplitude] {
            std::size_t phase = 0;
            while (!stop_) {
                auto chunk = sine(frequency, 480, 2, amplitude, phase);
                if (!stream_->write(chunk.data(), 480))
                    break;
            }
        });
    }
    ~TonePlayer()
    {
        stop_ = true;
        if (stream_)
            stream_->interrupt();
        if (thread_.joinable())
            thread_.join();
    }
    bool ok() const { return stream_ != nullptr; }
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<PulseStream> stream_;
    std::string error_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// Keeps null sinks rendering in short blocks: an idle null sink sleeps in blocks of two
// seconds, which would delay what is played into it, and what its monitor delivers, by up
// to that much. Returns once sound flows from all of them (waiting for them together).
class SinkKeepAlive {
public:
    explicit SinkKeepAlive(std::initializer_list<std::string> sinks)
    {
        for (const auto& sink : sinks) {
            PulseStream::StreamSetup setup;
            setup.direction = PulseStream::Direction::record;
            setup.device = sink + ".monitor";
            setup.bufferMs = 10;
            setup.name = "test keep-alive";
            auto stream = PulseStream::open(setup, nullptr);
            if (!stream)
                continue;
            auto* reader = stream.get();
            streams_.push_back(std::move(stream));
            threads_.emplace_back([this, reader] {
                std::vector<int16_t> buffer(480);
                bool first = true;
                while (!stop_ && reader->read(buffer.data(), 480)) {
                    if (first)
                        ++flowing_;
                    first = false;
                }
            });
        }
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (flowing_ < streams_.size() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
    }
    ~SinkKeepAlive()
    {
        stop_ = true;
        for (auto& stream : streams_)
            stream->interrupt();
        for (auto& thread : threads_)
            thread.join();
    }

private:
    std::vector<std::unique_ptr<PulseStream>> streams_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> flowing_{0};
};

// Listens to a source (mono mix) in steps of 100 ms until `heard` has held for every
// window back to the one that ended where the newest begins (so the newest window holds
// no start of a sound, whose edge would smear over all frequencies), or the deadline
// passes; returns the newest window either way. Sound through PulseAudio arrives after a
// start-up delay that grows under load, so tests wait for what they expect to hear
// instead of sleeping a fixed time.
std::vector<int16_t> listenUntil(const std::string& source, std::chrono::milliseconds window,
                                 const std::function<bool(const std::vector<int16_t>&)>& heard,
                                 std::chrono::milliseconds deadline = 6s)
{
    PulseStream::StreamSetup setup;
    setup.direction = PulseStream::Direction::record;
    setup.device = source;
    setup.channels = 1;
    setup.bufferMs = 10;
    std::string error;
    auto stream = PulseStream::open(setup, &error);
    if (!stream)
        return {};
    const std::size_t size = static_cast<std::size_t>(window.count()) * 48;
    const std::size_t piece = 4800; // 100 ms
    std::vector<int16_t> samples;
    std::vector<int16_t> chunk(piece);
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::size_t held = 0; // windows in a row for which heard held
    while (stream->read(chunk.data(), piece)) {
        samples.insert(samples.end(), chunk.begin(), chunk.end());
        if (samples.size() > size)
            samples.erase(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(size));
        if (samples.size() < size)
            continue;
        held = heard(samples) ? held + 1 : 0;
        if (held > size / piece || std::chrono::steady_clock::now() > end)
            return samples;
    }
    return {};
}

// Takes windows of `count` samples from a ring as they come in (the ring emptied first)
// until `heard` holds for two in a row (the second then holds no start of a sound), or the
// deadline passes; returns the last window, or nothing when the ring stopped filling.
std::vector<int16_t> takeUntil(SampleRing& ring, std::size_t count,
                               const std::function<bool(const std::vector<int16_t>&)>& heard,
                               std::chrono::milliseconds deadline = 6s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    ring.clear();
    std::vector<int16_t> window(count);
    int held = 0;
    for (;;) {
        if (!pumpUntil([&] { return ring.size() >= count; }, 3s))
            return {};
        ring.pop(window.data(), count);
        held = heard(window) ? held + 1 : 0;
        if (held >= 2 || std::chrono::steady_clock::now() > end)
            return window;
    }
}

// WebRTC's side of a session device, for tests: recorded sound goes into a ring (mono
// mix), playout comes from a function.
class TestTransport : public webrtc::AudioTransport {
public:
    int32_t RecordedDataIsAvailable(const void* audioSamples, size_t nSamples, size_t, size_t nChannels,
                                    uint32_t samplesPerSec, uint32_t, int32_t, uint32_t, bool,
                                    uint32_t& newMicLevel) override
    {
        newMicLevel = 0;
        const auto* samples = static_cast<const int16_t*>(audioSamples);
        std::vector<int16_t> mono(nSamples);
        for (size_t i = 0; i < nSamples; ++i) {
            int sum = 0;
            for (size_t c = 0; c < nChannels; ++c)
                sum += samples[i * nChannels + c];
            mono[i] = static_cast<int16_t>(sum / static_cast<int>(nChannels));
        }
        recorded.push(mono.data(), mono.size());
        if (calls++ == 0) {
            std::lock_guard lock(mutex);
            firstThread = AudioThread::currentName();
            channels = nChannels;
            rate = samplesPerSec;
        }
        return 0;
    }
    int32_t NeedMorePlayData(size_t nSamples, size_t, size_t nChannels, uint32_t, void* audioSamples,
                             size_t& nSamplesOut, int64_t* elapsed, int64_t* ntp) override
    {
        *elapsed = 0;
        *ntp = 0;
        auto* out = static_cast<int16_t*>(audioSamples);
        std::vector<int16_t> mono(nSamples);
        if (play)
            play(mono.data(), nSamples);
        for (size_t i = 0; i < nSamples; ++i)
            for (size_t c = 0; c < nChannels; ++c)
                out[i * nChannels + c] = mono[i];
        nSamplesOut = nSamples;
        return 0;
    }
    void PullRenderData(int, int, size_t, size_t, void*, int64_t*, int64_t*) override { }

    std::vector<int16_t> take(std::size_t count)
    {
        std::vector<int16_t> out(count);
        recorded.pop(out.data(), count);
        return out;
    }

    SampleRing recorded{48000 * 4};
    std::function<void(int16_t*, std::size_t)> play; // mono, 48 kHz
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::string firstThread;
    std::size_t channels = 0;
    uint32_t rate = 0;
};

class AudioDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        WL_REQUIRE_TEST_ENV(pulse_.ok(), "PulseAudio");
        // The devices' streams and pactl find the server here.
        setenv("PULSE_SERVER", pulse_.address().c_str(), 1);
        backend_ = std::make_shared<PulseAudioBackend>();
        ASSERT_TRUE(backend_->connected());
    }
    AudioIO::Options quiet(const std::string& microphone = {}, const std::string& speaker = {})
    {
        AudioIO::Options options;
        options.microphone = microphone;
        options.speaker = speaker;
        options.noiseSuppression = false; // test tones are steady: keep them
        return options;
    }
    MicrophoneResult switchMicrophone(RoleAudioDevice& device, bool on)
    {
        std::optional<MicrophoneResult> result;
        bool onMainThread = false;
        device.setMicrophone(on, [&](MicrophoneResult r) {
            result = r;
            onMainThread = QThread::currentThread() == app().thread();
        });
        EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(onMainThread) << "the completion runs on the main thread";
        return result.value_or(MicrophoneResult::notAllowed);
    }

    test::PulseServer pulse_; // made first, ended last
    std::shared_ptr<PulseAudioBackend> backend_;
};

TEST(SampleRingTest, DropsOldestWhenFullAndPadsWithSilence)
{
    SampleRing ring(4);
    const int16_t in[] = {1, 2, 3, 4, 5, 6};
    ring.push(in, 3);
    ring.push(in + 3, 3); // 1 and 2 drop out
    EXPECT_EQ(ring.size(), 4u);
    int16_t out[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ring.pop(out, 6), 4u);
    EXPECT_EQ(std::vector<int16_t>(out, out + 6), (std::vector<int16_t>{3, 4, 5, 6, 0, 0}));
    ring.push(in, 6); // more than it holds: the newest four stay
    EXPECT_EQ(ring.pop(out, 2), 2u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 4);
}

TEST_F(AudioDevices, HostSoundReachesHelperPlayback)
{
    // Host: system sound from the default sink (wl_system); helper: plays into wl_playback.
    SinkKeepAlive running({"wl_system", "wl_playback"});
    SystemAudioDevice host(backend_, {quiet(), {}});
    PlaybackAudioDevice helper(backend_, quiet({}, "wl_playback"));
    SystemAudioDevice spareHost(backend_, {quiet(), {}});
    PlaybackAudioDevice spareHelper(backend_, quiet());
    auto hostSession = SessionAudioDevice::create(host, spareHelper);
    auto helperSession = SessionAudioDevice::create(spareHost, helper);
    helperSession->setCurrentRole(SessionAudioDevice::Role::helping);

    // The network between them: what the host records, the helper plays, with at most
    // 100 ms waiting in between (a burst of the monitor must not delay all that follows).
    TestTransport hostSide, helperSide;
    helperSide.play = [&](int16_t* out, std::size_t n) {
        while (hostSide.recorded.size() > 4800 + n)
            hostSide.recorded.pop(out, n);
        hostSide.recorded.pop(out, n);
    };
    hostSession->RegisterAudioCallback(&hostSide);
    helperSession->RegisterAudioCallback(&helperSide);
    ASSERT_EQ(hostSession->Init(), 0);
    ASSERT_EQ(helperSession->Init(), 0);
    hostSession->InitRecording();
    hostSession->StartRecording();
    helperSession->InitPlayout();
    helperSession->StartPlayout();
    EXPECT_TRUE(helper.io().playbackRunning());

    TonePlayer tone("wl_system", 1000);
    ASSERT_TRUE(tone.ok()) << tone.error();
    auto heard = listenUntil("wl_playback.monitor", 600ms, [](const auto& w) { return toneLevelDb(w, 1000) > -25.0; });
    ASSERT_FALSE(heard.empty());
    const double level = toneLevelDb(heard, 1000);
    EXPECT_GT(level, -25.0) << "the host's 1 kHz tone reaches the helper's speaker";
    EXPECT_GT(level - toneLevelDb(heard, 1700), 30.0);
    {
        std::lock_guard lock(hostSide.mutex);
        EXPECT_EQ(hostSide.firstThread, SystemSoundCapture::kThreadName);
        EXPECT_EQ(hostSide.channels, 2u);
        EXPECT_EQ(hostSide.rate, 48000u);
    }

    hostSession->StopRecording();
    helperSession->StopPlayout();
    EXPECT_FALSE(helper.io().playbackRunning());
}

TEST_F(AudioDevices, MicrophonesReachTheOtherSide)
{
    Modules modules;
    modules.nullSink("wl_voice"); // the helper's voice goes in here; its monitor is the microphone
    modules.nullSink("wl_speaker"); // the host's speakers
    SinkKeepAlive running({"wl_voice", "wl_speaker", "wl_system"});
    TonePlayer voice("wl_voice", 700);
    ASSERT_TRUE(voice.ok()) << voice.error();

    SystemAudioDevice host(backend_, {quiet("wl_voice.monitor", "wl_speaker"), {}});
    PlaybackAudioDevice helper(backend_, quiet("wl_voice.monitor", "wl_playback"));
    SystemAudioDevice spareHost(backend_, {quiet(), {}});
    PlaybackAudioDevice spareHelper(backend_, quiet());
    auto hostSession = SessionAudioDevice::create(host, spareHelper);
    auto helperSession = SessionAudioDevice::create(spareHost, helper);
    helperSession->setCurrentRole(SessionAudioDevice::Role::helping);
    TestTransport hostSide, helperSide;
    hostSide.play = [&](int16_t* out, std::size_t n) { helperSide.recorded.pop(out, n); };
    hostSession->RegisterAudioCallback(&hostSide);
    helperSession->RegisterAudioCallback(&helperSide);
    hostSession->Init();
    helperSession->Init();

    // The helper's microphone to the host's speakers.
    ASSERT_EQ(switchMicrophone(helper, true), MicrophoneResult::done);
    EXPECT_TRUE(helper.io().microphoneOn);
    helperSession->StartRecording();
    hostSession->StartPlayout();
    auto heard = listenUntil("wl_speaker.monitor", 600ms, [](const auto& w) { return toneLevelDb(w, 700) > -30.0; });
    EXPECT_GT(toneLevelDb(heard, 700), -30.0) << "the helper's voice plays on the host";
    helperSession->StopRecording();
    hostSession->StopPlayout();

    // The host's microphone mixed into the system sound, and out again.
    TonePlayer system("wl_system", 1000);
    ASSERT_TRUE(system.ok()) << system.error();
    hostSession->StartRecording();
    auto unmixed = takeUntil(hostSide.recorded, 9600, [](const auto& w) { return toneLevelDb(w, 1000) > -30.0; });
    EXPECT_GT(toneLevelDb(unmixed, 1000), -30.0) << "the system sound is recorded";
    EXPECT_LT(toneLevelDb(unmixed, 700), -60.0) << "microphone off: not in the sound";
    ASSERT_EQ(switchMicrophone(host, true), MicrophoneResult::done);
    EXPECT_TRUE(host.mixing());
    auto mixed = takeUntil(hostSide.recorded, 9600,
                           [](const auto& w) { return toneLevelDb(w, 700) > -30.0 && toneLevelDb(w, 1000) > -30.0; });
    EXPECT_GT(toneLevelDb(mixed, 700), -30.0) << "microphone on: mixed in";
    EXPECT_GT(toneLevelDb(mixed, 1000), -30.0) << "with the system sound";
    host.switchMicrophoneOff();
    EXPECT_FALSE(host.mixing());
    EXPECT_FALSE(host.io().microphoneOn);
    hostSession->StopRecording();
}

// What one speaker-to-microphone loop leaves of a played 1 kHz tone, in dB: the level in
// the first second of recording that reaches `enough`, or in the last one when none does
// before the deadline (the canceller needs a while to converge, longer under load).
double echoLevel(std::shared_ptr<PulseAudioBackend> backend, bool cancel, const std::function<bool(double)>& enough)
{
    AudioIO::Options options;
    options.microphone = "wl_echo.monitor"; // the microphone hears the speaker directly
    options.speaker = "wl_echo";
    options.noiseSuppression = false;
    options.echoCancellation = cancel;
    PlaybackAudioDevice helper(backend, options);
    SystemAudioDevice spareHost(backend, {});
    auto session = SessionAudioDevice::create(spareHost, helper);
    session->setCurrentRole(SessionAudioDevice::Role::helping);
    TestTransport transport;
    // A 1 kHz tone in bursts, as speech comes: the canceller leaves a steady tone alone
    // (it takes it for stationary background, not for an echo).
    std::size_t phase = 0;
    transport.play = [&](int16_t* out, std::size_t n) {
        const bool on = ((phase / 4800) * 2654435761u % 7) < 4; // 100 ms slots, 4 of 7 on
        auto chunk = sine(1000, n, 1, on ? 0.25 : 0.0, phase);
        std::copy(chunk.begin(), chunk.end(), out);
    };
    session->RegisterAudioCallback(&transport);
    session->Init();
    std::optional<MicrophoneResult> result;
    helper.setMicrophone(true, [&](MicrophoneResult r) { result = r; });
    pumpUntil([&] { return result.has_value(); });
    if (result != MicrophoneResult::done)
        return 1000;
    session->StartRecording();
    session->StartPlayout();
    // Measure only once the tone is played into the loop: before that, silence would pass.
    if (listenUntil("wl_echo.monitor", 500ms, [](const auto& w) { return toneLevelDb(w, 1000) > -40.0; }).empty())
        return 1000;
    auto heard = takeUntil(
        transport.recorded, 48000, [&](const auto& w) { return enough(toneLevelDb(w, 1000)); }, 15s);
    session->StopPlayout();
    session->StopRecording();
    helper.io().stop();
    return heard.empty() ? 1000 : toneLevelDb(heard, 1000);
}

TEST_F(AudioDevices, EchoCancellationLowersAPlayedToneByFifteenDecibels)
{
    Modules modules;
    modules.nullSink("wl_echo");
    SinkKeepAlive running({"wl_echo"});
    const double without = echoLevel(backend_, false, [](double level) { return level > -30.0; });
    ASSERT_LT(without, 100.0) << "microphone did not start";
    const double with = echoLevel(backend_, true, [&](double level) { return without - level >= 15.0; });
    ASSERT_LT(with, 100.0) << "microphone did not start";
    std::printf("echo of the played tone: %.1f dB without cancellation, %.1f dB with\n", without, with);
    EXPECT_GT(without, -30.0) << "the loop carries the tone";
    EXPECT_GE(without - with, 15.0) << "without " << without << " dB, with " << with << " dB";
}

struct OwnPlayoutLevels {
    double voice = 1000; // the helper's voice, played by the host, in the host's sound
    double system = 1000; // the system's own sound
    double systemGap = 0; // seconds: the longest the system sound went missing as the microphone came on
    std::vector<double> voices; // the voice in each second watched
    std::vector<double> systems; // and the system sound
};

// The host's recorded sound while it plays the helper's voice (700 Hz, in bursts) over the
// system's own steady 1 kHz, with its microphone (the silent default source) switched on
// meanwhile, or not, and with the playback thread running late every 0.7 s by `stalls`,
// or not: the levels in the first second that reaches `enough`, or in the last
// one when none does before the deadline (the canceller needs a while to converge, longer
// under load); then, over `seconds` more, the voice in each and over them all (as much
// sound as in each on average) and the system sound's middle level.
OwnPlayoutLevels ownPlayoutInSystemSound(std::shared_ptr<PulseAudioBackend> backend, bool remove, bool microphone,
                                         int seconds, const std::function<bool(const OwnPlayoutLevels&)>& enough,
                                         std::chrono::milliseconds stalls = 0ms)
{
    SystemAudioDevice::Options options;
    options.io.noiseSuppression = false;
    options.removeOwnPlayout = remove;
    SystemAudioDevice host(backend, options); // plays into the default sink, wl_system
    PlaybackAudioDevice spareHelper(backend, {});
    auto session = SessionAudioDevice::create(host, spareHelper);
    TestTransport transport;
    std::size_t phase = 0;
    std::size_t rendered = 0;
    transport.play = [&](int16_t* out, std::size_t n) { // the helper talking, in bursts
        if (stalls > 0ms && ++rendered % 70 == 0) // the playback thread runs late, as on a busy machine
            std::this_thread::sleep_for(stalls);
        const bool on = ((phase / 4800) * 2654435761u % 7) < 4;
        auto chunk = sine(700, n, 1, on ? 0.25 : 0.0, phase);
        std::copy(chunk.begin(), chunk.end(), out);
    };
    session->RegisterAudioCallback(&transport);
    session->Init();
    SinkKeepAlive running({"wl_system"});
    // With a long buffer: the tone itself does not run dry on a busy machine.
    TonePlayer system("wl_system", 1000, 0.1, 300);
    if (!system.ok())
        return {};
    session->StartRecording();
    session->StartPlayout();
    // Measure only once the voice plays into the sink: before that, silence would pass.
    if (listenUntil("wl_system.monitor", 500ms, [](const auto& w) { return toneLevelDb(w, 700) > -40.0; }).empty())
        return {};
    OwnPlayoutLevels result;
    if (microphone) { // as from the banner: the engine restarts
        // What is sent from the switch on to 3 s after it, in 100 ms pieces.
        std::vector<int16_t> sent;
        const auto take = [&] {
            std::vector<int16_t> piece(transport.recorded.size() / 4800 * 4800);
            transport.recorded.pop(piece.data(), piece.size());
            sent.insert(sent.end(), piece.begin(), piece.end());
        };
        transport.recorded.clear();
        std::optional<MicrophoneResult> switched;
        host.setMicrophone(true, [&](MicrophoneResult r) { switched = r; });
        if (!pumpUntil(
                [&] {
                    take();
                    return switched.has_value();
                },
                10s) ||
            switched != MicrophoneResult::done || !host.mixing())
            return {};
        const std::size_t until = sent.size() + 3 * 48000;
        if (!pumpUntil(
                [&] {
                    take();
                    return sent.size() >= until;
                },
                10s))
            return {};
        int missing = 0;
        for (auto piece = sent.begin(); piece != sent.end(); piece += 4800) {
            missing = toneLevelDb(std::vector<int16_t>(piece, piece + 4800), 1000) < -40.0 ? missing + 1 : 0;
            result.systemGap = std::max(result.systemGap, missing / 10.0);
        }
    }
    const auto levels = [](const std::vector<int16_t>& w) {
        return OwnPlayoutLevels{toneLevelDb(w, 700), toneLevelDb(w, 1000)};
    };
    auto heard = takeUntil(
        transport.recorded, 48000, [&](const auto& w) { return enough(levels(w)); }, 20s);
    if (heard.empty())
        return {};
    const auto first = levels(heard);
    result.voice = first.voice;
    result.system = first.system;
    // Watched once more when the voice came through: on a busy machine the playback runs
    // dry now and then, and the canceller needs a moment to find the echo again.
    for (int watch = 0; watch < 2 && seconds > 0; ++watch) {
        std::vector<double> systemLevels;
        double voicePower = 0;
        for (int second = 0; second < seconds; ++second) {
            if (!pumpUntil([&] { return transport.recorded.size() >= heard.size(); }, 5s))
                return {};
            transport.recorded.pop(heard.data(), heard.size());
            const auto now = levels(heard);
            result.voices.push_back(now.voice);
            result.systems.push_back(now.system);
            voicePower += std::pow(10.0, now.voice / 10) / seconds;
            systemLevels.push_back(now.system);
        }
        result.voice = 10 * std::log10(voicePower);
        std::nth_element(systemLevels.begin(), systemLevels.begin() + seconds / 2, systemLevels.end());
        result.system = systemLevels[seconds / 2];
        if (enough(result))
            break;
    }
    session->Terminate();
    return result;
}

TEST_F(AudioDevices, HelpersVoicePlayedByTheHostIsTakenOutOfTheSystemSound)
{
    const auto kept = ownPlayoutInSystemSound(
        backend_, false, false, 0, [](const OwnPlayoutLevels& l) { return l.voice > -30.0 && l.system > -30.0; });
    ASSERT_LT(kept.voice, 100.0) << "the host's sound did not flow";
    EXPECT_GT(kept.voice, -30.0) << "the monitor hears the played voice";
    // The voice comes in bursts over the steady system sound: double talk while it is on.
    // Removed over seconds on end, not in a lucky one.
    // Last, with the playback thread late by more than its buffer now and then: the
    // playback runs dry, and the server starts it again wherever the next sound comes. Once
    // it keeps enough sound ahead, the voice goes as far down as on a quiet machine (some
    // 60 dB); a canceller that keeps losing the echo takes some 20 dB.
    for (auto [microphone, stalls] : {std::pair{false, 0ms}, {true, 0ms}, {true, 80ms}}) {
        SCOPED_TRACE(std::string(microphone ? "microphone on" : "microphone off") +
                     (stalls > 0ms ? ", the playback running late" : ""));
        const double lower = stalls > 0ms ? 40.0 : 20.0;
        const auto removed = ownPlayoutInSystemSound(
            backend_, true, microphone, 5,
            [&](const OwnPlayoutLevels& l) { return kept.voice - l.voice >= lower && l.system > kept.system - 6.0; },
            stalls);
        ASSERT_LT(removed.voice, 100.0) << "the host's sound did not flow";
        std::string seconds, systemSeconds;
        for (double voice : removed.voices)
            seconds += " " + std::to_string(static_cast<int>(std::lround(voice)));
        for (double level : removed.systems)
            systemSeconds += " " + std::to_string(static_cast<int>(std::lround(level)));
        // The system sound in double talk: at most this far below its level with nothing removed.
        double dip = 0;
        for (double level : removed.systems)
            dip = std::max(dip, kept.system - level);
        std::printf("voice in the host's sound, microphone %s%s: %.1f dB kept, %.1f dB removed (each second:%s dB); "
                    "system sound %.1f / %.1f dB (each second:%s dB, down %.1f dB at most), missing for %.1f s at "
                    "the switch\n",
                    microphone ? "on" : "off", stalls > 0ms ? ", playback late" : "", kept.voice, removed.voice,
                    seconds.c_str(), kept.system, removed.system, systemSeconds.c_str(), dip, removed.systemGap);
        EXPECT_GE(kept.voice - removed.voice, lower);
        EXPECT_GT(removed.system, kept.system - 6.0) << "the system's own sound stays";
        EXPECT_LT(removed.systemGap, 0.5) << "the system sound goes on as the microphone comes on";
        EXPECT_LE(dip, 10.0) << "the system sound in double talk, each second:" << systemSeconds;
    }
}

TEST_F(AudioDevices, MicrophoneResults)
{
    // No such input device.
    PlaybackAudioDevice missing(backend_, quiet("wl_no_such_source"));
    EXPECT_EQ(switchMicrophone(missing, true), MicrophoneResult::noMicrophone);
    EXPECT_FALSE(missing.io().microphoneOn);

    // Only a monitor of an output as the default source: no microphone either.
    commandOutput("pactl set-default-source wl_system.monitor");
    PlaybackAudioDevice monitorOnly(backend_, quiet());
    EXPECT_EQ(switchMicrophone(monitorOnly, true), MicrophoneResult::noMicrophone);
    commandOutput("pactl set-default-source wl_mic");

    // An engine that cannot start: the device exists, the streams' server is gone.
    auto unreachable = quiet();
    unreachable.server = "unix:/nonexistent/wickerlane/native";
    SystemAudioDevice broken(backend_, {unreachable, {}});
    EXPECT_EQ(switchMicrophone(broken, true), MicrophoneResult::couldNotStart);
    EXPECT_FALSE(broken.io().microphoneOn);
    EXPECT_FALSE(broken.mixing());

    // The default microphone.
    SystemAudioDevice host(backend_, {quiet(), {}});
    EXPECT_EQ(switchMicrophone(host, true), MicrophoneResult::done);
    EXPECT_TRUE(host.io().microphoneOn);
    EXPECT_TRUE(host.io().microphoneRunning());
    EXPECT_EQ(host.io().microphoneInUse(), "wl_mic");
    EXPECT_TRUE(host.mixing());
    EXPECT_EQ(switchMicrophone(host, false), MicrophoneResult::done);
    EXPECT_FALSE(host.io().microphoneOn);
    EXPECT_FALSE(host.io().microphoneRunning());
    EXPECT_FALSE(host.mixing());
}

TEST_F(AudioDevices, ChangedInputDeviceIsFollowed)
{
    // Outlives the devices: a change they follow after the last check still reaches it.
    std::atomic<int> interruptions{0};
    Modules modules;
    modules.nullSource("wl_mic2");
    PlaybackAudioDevice helper(backend_, quiet());
    SystemAudioDevice spareHost(backend_, {quiet(), {}});
    auto session = SessionAudioDevice::create(spareHost, helper);
    session->setCurrentRole(SessionAudioDevice::Role::helping);
    session->setOnInputInterrupted([&] { ++interruptions; });
    ASSERT_EQ(switchMicrophone(helper, true), MicrophoneResult::done);
    EXPECT_EQ(helper.io().microphoneInUse(), "wl_mic");
    pumpUntil([&] { return interruptions > 0; }, 1s); // the switch itself counts as a change
    const int before = interruptions;

    commandOutput("pactl set-default-source wl_mic2");
    EXPECT_TRUE(pumpUntil([&] { return interruptions > before && helper.io().microphoneInUse() == "wl_mic2"; }));
    EXPECT_TRUE(helper.io().microphoneRunning());
    commandOutput("pactl set-default-source wl_mic");
    EXPECT_TRUE(pumpUntil([&] { return helper.io().microphoneInUse() == "wl_mic"; }));
    helper.io().stop();
}

TEST_F(AudioDevices, RoleChangeMovesRunningPlayoutAndRecording)
{
    SystemAudioDevice host(backend_, {quiet({}, "wl_playback"), {}});
    PlaybackAudioDevice helper(backend_, quiet({}, "wl_playback"));
    auto session = SessionAudioDevice::create(host, helper);
    EXPECT_EQ(session->currentRole(), SessionAudioDevice::Role::hosting);
    session->Init();
    session->StartPlayout();
    session->StartRecording();
    EXPECT_TRUE(host.isPlaying());
    EXPECT_TRUE(host.isRecording());
    EXPECT_FALSE(helper.isPlaying());

    session->setCurrentRole(SessionAudioDevice::Role::helping);
    EXPECT_FALSE(host.isPlaying());
    EXPECT_FALSE(host.isRecording());
    EXPECT_TRUE(helper.isPlaying());
    EXPECT_TRUE(helper.isRecording());
    EXPECT_TRUE(helper.io().playbackRunning());

    session->Terminate();
    EXPECT_FALSE(helper.isPlaying());
    EXPECT_FALSE(session->Playing());
}

} // namespace
} // namespace wl

namespace wl {
namespace {

TEST_F(AudioDevices, SystemSoundComesFromTheDefaultSinkOnItsOwnThread)
{
    SinkKeepAlive running({"wl_system"});
    TonePlayer tone("wl_system", 1000);
    ASSERT_TRUE(tone.ok()) << tone.error();
    SampleRing heard(48000);
    std::mutex mutex;
    std::string threadName;
    SystemSoundCapture capture;
    ASSERT_TRUE(capture.start([&](const int16_t* samples, std::size_t frames, SpeakerTime) {
        std::vector<int16_t> left(frames);
        for (std::size_t i = 0; i < frames; ++i)
            left[i] = samples[2 * i];
        heard.push(left.data(), frames);
        std::lock_guard lock(mutex);
        threadName = AudioThread::currentName();
    }));
    EXPECT_TRUE(pumpUntil([&] { return heard.size() >= 24000; }, 6s));
    capture.stop();
    EXPECT_FALSE(capture.running());
    std::vector<int16_t> samples(24000);
    heard.pop(samples.data(), samples.size());
    EXPECT_GT(toneLevelDb(samples, 1000), -25.0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(threadName, "wickerlane.capture.audio");
}

} // namespace
} // namespace wl

namespace wl {
namespace {

// The host's device with the playback's timing moved by `jump` from the moment it is set,
// as a sound server's timing can move without telling of a break.
class JumpingHost : public SystemAudioDevice {
public:
    using SystemAudioDevice::SystemAudioDevice;
    ~JumpingHost() override { stopEngine(); } // as every device: its threads end before it does
    std::atomic<int64_t> jumpUs{0};
    std::atomic<int> breaks{0}; // played frames that did not follow on from the one before

protected:
    void playoutRendered(const int16_t* samples, std::size_t frames, int channels, SpeakerTime time) override
    {
        if (!time.follows)
            ++breaks;
        time.us += jumpUs.load();
        SystemAudioDevice::playoutRendered(samples, frames, channels, time);
    }
};

TEST_F(AudioDevices, HelpersVoiceStaysOutWhenThePlaybacksTimingJumps)
{
    // The helper's voice comes in bursts of 0.4 s every 2 s; the host's playback runs dry
    // once, and its timing moves half a second meanwhile, further than the played voice is
    // kept: the system sound's frames find none where their timing puts them. The host then
    // switches the microphone on (the playback starts anew, its timing as far off).
    SystemAudioDevice::Options options;
    options.io.noiseSuppression = false;
    JumpingHost host(backend_, options); // plays into the default sink, wl_system
    PlaybackAudioDevice spareHelper(backend_, {});
    auto session = SessionAudioDevice::create(host, spareHelper);
    TestTransport transport;
    std::size_t phase = 0;
    std::atomic<bool> stall{false};
    transport.play = [&](int16_t* out, std::size_t n) {
        if (stall.exchange(false)) {
            host.jumpUs = 500'000;
            std::this_thread::sleep_for(100ms); // more than the playback keeps ahead: it runs dry
        }
        auto chunk = sine(700, n, 1, phase % 96000 < 19200 ? 0.25 : 0.0, phase);
        std::copy(chunk.begin(), chunk.end(), out);
    };
    session->RegisterAudioCallback(&transport);
    session->Init();
    SinkKeepAlive running({"wl_system"});
    TonePlayer system("wl_system", 1000, 0.1, 300);
    ASSERT_TRUE(system.ok()) << system.error();
    session->StartRecording();
    session->StartPlayout();
    ASSERT_FALSE(
        listenUntil("wl_system.monitor", 500ms, [](const auto& w) { return toneLevelDb(w, 700) > -40.0; }).empty());
    // A second of voice in the host's sound: 0.4 s of the tone, -20 dB with nothing removed.
    constexpr double kKept = -20.0;
    std::vector<int16_t> second(48000);
    const auto nextSecond = [&] {
        EXPECT_TRUE(pumpUntil([&] { return transport.recorded.size() >= second.size(); }, 5s));
        transport.recorded.pop(second.data(), second.size());
        return std::pair{toneLevelDb(second, 700), toneLevelDb(second, 1000)};
    };
    for (int s = 0; s < 3; ++s)
        nextSecond();
    stall = true;
    // Seven seconds with the microphone off, then fifteen with it on: the voice is down by
    // 20 dB in each after the first two. On a busy machine the playback may run dry again:
    // the canceller then finds the echo anew, and in that second and the next the voice is
    // held to 10 dB down (marked * below).
    for (const bool microphone : {false, true}) {
        if (microphone) {
            ASSERT_EQ(switchMicrophone(host, true), MicrophoneResult::done);
        }
        std::string voices, systems;
        double loudest = -200, loudestAfterBreak = -200;
        bool brokeBefore = false;
        for (int s = 0; s < (microphone ? 15 : 7); ++s) {
            const int breaks = host.breaks;
            const auto [voice, system] = nextSecond();
            const bool broke = host.breaks != breaks;
            const bool afterBreak = broke || brokeBefore;
            brokeBefore = broke;
            voices += " " + std::to_string(std::lround(voice)) + (afterBreak ? "*" : "");
            systems += " " + std::to_string(std::lround(system));
            double& bound = afterBreak ? loudestAfterBreak : loudest;
            if (s >= 2)
                bound = std::max(bound, voice);
        }
        std::printf("after the playback's timing jumped, microphone %s, each second: voice%s dB; system sound%s dB\n",
                    microphone ? "on" : "off", voices.c_str(), systems.c_str());
        EXPECT_LE(loudest, kKept - 20.0) << (microphone ? "microphone on" : "microphone off")
                                         << ", voice each second:" << voices;
        EXPECT_LE(loudestAfterBreak, kKept - 10.0)
            << (microphone ? "microphone on" : "microphone off") << ", voice each second:" << voices;
    }
    session->Terminate();
}

} // namespace
} // namespace wl
