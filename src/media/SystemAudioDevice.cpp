#include "media/SystemAudioDevice.h"

#include "media/AudioDeviceDelegate.h"
#include "media/PulseAudioBackend.h"
#include "platform/Log.h"

#include <api/audio/echo_canceller3_factory.h>
#include <modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace wl {

namespace {
// At most this much system sound waits for the microphone: enough for the bursts of an
// idle output's monitor, little enough to keep the sound in step with the picture.
constexpr std::size_t kMaxSystemBacklogFrames = 15 * AudioIO::kFrames;
// A sound is waited for while its last frame is at most this old: on a busy machine an
// audio thread runs some tens of milliseconds late now and then.
constexpr int64_t kSoundStallUs = 100'000;
// At most this much of the microphone waits for the system sound: a little more than it
// is waited for, so that none is lost before the microphone goes on alone.
constexpr std::size_t kMaxMicrophoneBacklogFrames = 12 * AudioIO::kFrames;
// The played voice counts as playing while its last frame is at most this old.
constexpr int64_t kPlayoutStaleUs = 200'000;
// Each 10 ms of system sound goes to the canceller with the 10 ms of voice that reaches
// the speaker this much later; the voice is rendered a playback buffer (40 ms) ahead, so
// it is normally there by the time that system sound comes in. When the playback runs
// late, the capture waits for it at most kWaitForVoice.
constexpr int64_t kReferenceLeadUs = 15'000;
constexpr auto kWaitForVoice = std::chrono::milliseconds(20);
// The echo delay the canceller is told, in its own accounting of what it was given: with
// kReferenceLeadUs it puts the echo some 10 ms into the stretch its filter covers, so that
// timings a few milliseconds off either way still fall inside.
constexpr int kEchoDelayMs = 0;
// The played voice kept on the speaker's timeline: far more than is on its way there.
constexpr int64_t kTimelineFrames = 16384;
// The voice is looked for this many frames in a row in vain while it plays before the
// timelines are anchored again.
constexpr int kMissesBeforeAnchoring = 10;
// The playback's timing is followed again once it agrees with the steady clock's place
// for this many frames in a row.
constexpr int kAgreeingFrames = 100;
constexpr int64_t kAgreeUs = 30'000;
// A stream that starts or broke off fills its buffer at once: its frames are rendered as the
// speaker takes them only after this many.
constexpr int kSettlingFrames = 20;

int64_t onTimeline(int64_t us)
{
    return us * AudioIO::kRate / 1'000'000;
}

int16_t saturate(int value)
{
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

} // namespace

SystemAudioDevice::SystemAudioDevice(std::shared_ptr<PulseAudioBackend> backend, Options options)
    : VoiceAudioDevice(backend, options.io, "host"), options_(options),
      systemSound_(options.io.server.empty() ? backend->server() : options.io.server, options.systemSound),
      played_(static_cast<std::size_t>(kTimelineFrames) * AudioIO::kPlaybackChannels),
      systemRing_((kMaxSystemBacklogFrames + AudioIO::kFrames) * SystemSoundCapture::kChannels),
      microphoneRing_(kMaxMicrophoneBacklogFrames + AudioIO::kFrames)
{
}

SystemAudioDevice::~SystemAudioDevice()
{
    systemSound_.stop();
    stopEngine();
}

bool SystemAudioDevice::mixing() const
{
    std::lock_guard lock(stateMutex_);
    return mixing_;
}

void SystemAudioDevice::microphoneChanged(bool on)
{
    // What the microphone left waits for nothing any more; the system sound that waited
    // for it goes on with the next that comes.
    std::lock_guard delivering(deliveryMutex_);
    std::lock_guard lock(stateMutex_);
    mixing_ = on;
    microphoneRing_.clear();
    balance_.reset();
}

void SystemAudioDevice::switchMicrophoneOff()
{
    switchOffAtOnce();
}

bool SystemAudioDevice::startRecordingPath()
{
    {
        std::lock_guard delivering(deliveryMutex_);
        systemRing_.clear();
        microphoneRing_.clear();
        balance_.reset();
    }
    // Without system sound the microphone alone is sent.
    systemSound_.start([this](const int16_t* samples, std::size_t frames, SpeakerTime time) {
        deliverSystemSound(samples, frames, time);
    });
    return true;
}

void SystemAudioDevice::stopRecordingPath()
{
    systemSound_.stop();
    std::lock_guard delivering(deliveryMutex_);
    systemRing_.clear();
    microphoneRing_.clear();
}

bool SystemAudioDevice::microphoneFlowing() const
{
    return PulseStream::steadyNowUs() - lastMicrophoneUs_.load() <= kSoundStallUs;
}

bool SystemAudioDevice::systemSoundFlowing() const
{
    return PulseStream::steadyNowUs() - lastSystemUs_.load() <= kSoundStallUs;
}

void SystemAudioDevice::playoutRendered(const int16_t* samples, std::size_t frames, int channels, SpeakerTime time)
{
    if (!options_.removeOwnPlayout || frames != AudioIO::kFrames || channels != AudioIO::kPlaybackChannels)
        return;
    constexpr auto stride = static_cast<std::size_t>(AudioIO::kPlaybackChannels);
    const auto slot = [](int64_t position) { return static_cast<std::size_t>(position % kTimelineFrames) * stride; };
    const int64_t now = PulseStream::steadyNowUs();
    if (std::any_of(samples, samples + frames * stride, [](int16_t sample) { return sample != 0; }))
        lastVoiceUs_ = now;
    std::lock_guard lock(playedMutex_);
    followingFrames_ = time.follows ? followingFrames_ + 1 : 0;
    playTimingUs_ = time.us;
    if (std::exchange(anchorPlayingAgain_, false))
        playing_.anchorAgain();
    if (byClock_) {
        const int64_t byClock = now + time.aheadUs + static_cast<int64_t>(playLeadUs_);
        if (followingFrames_ >= kSettlingFrames)
            agreeing_ = std::abs(time.us - byClock) <= kAgreeUs ? agreeing_ + 1 : 0;
        if (agreeing_ >= kAgreeingFrames) {
            byClock_ = false;
        } else {
            // Learnt from frames rendered as the speaker takes them, not while a new stream
            // fills its buffer at once.
            const auto off = static_cast<double>(time.us - byClock);
            if (!playOffsetUs_)
                playOffsetUs_ = off;
            else if (time.follows && followingFrames_ >= kSettlingFrames)
                *playOffsetUs_ += (off - *playOffsetUs_) / 64;
            time.us -= static_cast<int64_t>(*playOffsetUs_);
        }
    } else if (aligned_ && followingFrames_ >= kSettlingFrames) {
        // A frame whose timing moved (the capture has not noticed yet) teaches nothing; a lead
        // that really changed is taken after a run of such frames.
        const auto lead = static_cast<double>(time.us - now - time.aheadUs);
        if (std::abs(lead - playLeadUs_) <= kAgreeUs || ++leadOutliers_ > kAgreeingFrames) {
            playLeadUs_ += (lead - playLeadUs_) / 64;
            leadOutliers_ = 0;
        }
    }
    const int64_t before = playing_.end();
    const bool continued = playing_.started();
    const int64_t at = playing_.place(time);
    if (!continued || at - before >= kTimelineFrames || at < playedFrom_) {
        playedFrom_ = at;
    } else {
        // The playback broke off: silence reached the speaker meanwhile. (A restarted
        // stream plays over what its predecessor left unplayed.)
        for (int64_t p = before; p < at; ++p)
            std::fill_n(played_.begin() + static_cast<std::ptrdiff_t>(slot(p)), stride, int16_t{0});
    }
    for (std::size_t i = 0; i < frames; ++i)
        std::copy_n(samples + i * stride, stride,
                    played_.begin() + static_cast<std::ptrdiff_t>(slot(at + static_cast<int64_t>(i))));
    playedFrom_ = std::max(playedFrom_, playing_.end() - kTimelineFrames);
    playedChanged_.notify_all();
}

bool SystemAudioDevice::takeReference(SpeakerTime played)
{
    constexpr auto stride = static_cast<std::size_t>(AudioIO::kPlaybackChannels);
    const int64_t now = PulseStream::steadyNowUs();
    const int64_t timed = onTimeline(played.us) + onTimeline(kReferenceLeadUs); // where the timing puts it
    if (!byClock_) {
        heardOffsetUs_.reset();
    } else {
        const auto off = static_cast<double>(played.us - (now - static_cast<int64_t>(heardLagUs_)));
        heardOffsetUs_ = heardOffsetUs_ ? *heardOffsetUs_ + (off - *heardOffsetUs_) / 64 : off;
        played.us -= static_cast<int64_t>(*heardOffsetUs_);
    }
    // The monitor hears what the sink plays: the system sound's frames take the played
    // voice's steps, and the two stay the same number of samples apart.
    std::unique_lock lock(playedMutex_);
    const int64_t from = heard_.place(played, &playing_) + onTimeline(kReferenceLeadUs);
    const int64_t to = from + static_cast<int64_t>(AudioIO::kFrames);
    reference_.assign(AudioIO::kFrames * stride, 0);
    if (playing_.end() < to && playing_.end() > from - onTimeline(kPlayoutStaleUs))
        playedChanged_.wait_for(lock, kWaitForVoice, [&] { return playing_.end() >= to; });
    const int64_t first = std::max(from, playedFrom_);
    const int64_t last = std::min(to, playing_.end());
    for (int64_t p = first; p < last; ++p)
        std::copy_n(
            played_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(p % kTimelineFrames) * stride),
            stride, reference_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(p - from) * stride));
    const bool found = first < last;
    if (found) {
        misses_ = 0;
        if (!byClock_)
            heardLagUs_ += (static_cast<double>(now - played.us) - heardLagUs_) / 64;
    } else if (now - lastVoiceUs_ <= kPlayoutStaleUs && ++misses_ >= kMissesBeforeAnchoring) {
        // No voice where the voice plays: the two timelines went apart. Where the two streams'
        // timings put the frames, the voice is found again: each is anchored where its timing
        // puts it. Where not, the timings disagree (one moved without a break), and the steady
        // clock places the frames until they agree again.
        misses_ = 0;
        const int64_t timedEnd = onTimeline(playTimingUs_) + static_cast<int64_t>(AudioIO::kFrames);
        if (!byClock_ && (timed < timedEnd - kTimelineFrames || timed > timedEnd + onTimeline(kPlayoutStaleUs))) {
            Log::line("Wickerlane: the played voice is not where the system sound's timing puts it; "
                      "placing both by the clock");
            byClock_ = true;
            agreeing_ = 0;
            playOffsetUs_.reset();
        }
        heard_.anchorAgain();
        anchorPlayingAgain_ = true;
    }
    aligned_ = found;
    return found;
}

bool SystemAudioDevice::removeOwnPlayout(const int16_t* input, std::size_t frames, SpeakerTime played)
{
    const bool voice = takeReference(played);
    if (voice)
        lastReferenceUs_ = played.us;
    // While the voice plays, the system sound goes through the canceller even where the voice
    // was not found with it.
    const bool playing = PulseStream::steadyNowUs() - lastVoiceUs_ <= kPlayoutStaleUs;
    if (!voice && !playing && (!ownPlayout_ || played.us - lastReferenceUs_ > kPlayoutStaleUs))
        return false;
    if (!ownPlayout_) {
        webrtc::AudioProcessing::Config config;
        config.echo_canceller.enabled = true;
        config.pipeline.multi_channel_capture = true; // the system sound stays stereo
        config.pipeline.multi_channel_render = true;
        // The echo's delay is known (kEchoDelayMs): the canceller's own estimate, which a
        // steady tone can lead astray, is not needed.
        webrtc::EchoCanceller3Config canceller;
        canceller.delay.use_external_delay_estimator = true;
        ownPlayout_ = webrtc::AudioProcessingBuilder()
                          .SetConfig(config)
                          .SetEchoControlFactory(std::make_unique<webrtc::EchoCanceller3Factory>(canceller))
                          .Create();
        if (!ownPlayout_)
            return false;
        // Set up for both streams at once: set up for one at a time on their first frames,
        // it would lose the first played frame, and with it the alignment it is told.
        const webrtc::StreamConfig stereo(SystemSoundCapture::kRate, SystemSoundCapture::kChannels);
        webrtc::ProcessingConfig streams;
        streams.input_stream() = stereo;
        streams.output_stream() = stereo;
        streams.reverse_input_stream() = stereo;
        streams.reverse_output_stream() = stereo;
        ownPlayout_->Initialize(streams);
    }
    // One frame of reference, then one of system sound: the canceller sees them in step.
    const webrtc::StreamConfig format(SystemSoundCapture::kRate, SystemSoundCapture::kChannels);
    ownPlayout_->ProcessReverseStream(reference_.data(), format, format, reference_.data());
    cleaned_.assign(input, input + frames * SystemSoundCapture::kChannels);
    ownPlayout_->set_stream_delay_ms(kEchoDelayMs);
    ownPlayout_->ProcessStream(cleaned_.data(), format, format, cleaned_.data());
    return true;
}

void SystemAudioDevice::deliverSystemSound(const int16_t* input, std::size_t frames, SpeakerTime played)
{
    lastSystemUs_ = PulseStream::steadyNowUs();
    const int16_t* samples = input;
    // While the helper's voice plays, take it out of what the monitor heard.
    if (options_.removeOwnPlayout && frames == AudioIO::kFrames && removeOwnPlayout(input, frames, played))
        samples = cleaned_.data();
    constexpr std::size_t channels = SystemSoundCapture::kChannels;
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    bool mix;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !delegate_)
            return;
        delegate = delegate_;
        mix = mixing_ && microphoneFlowing();
    }
    if (mix && frames == AudioIO::kFrames) {
        systemRing_.push(samples, frames * channels);
        mixBuffer_.resize(frames * channels);
        while (systemRing_.size() > kMaxSystemBacklogFrames * channels)
            systemRing_.pop(mixBuffer_.data(), frames * channels);
        mixOut(delegate, false);
        return;
    }
    // Alone: first what waited for the microphone.
    mixBuffer_.resize(AudioIO::kFrames * channels);
    while (systemRing_.size() >= mixBuffer_.size()) {
        systemRing_.pop(mixBuffer_.data(), mixBuffer_.size());
        delegate->deliverRecordedData(mixBuffer_.data(), AudioIO::kFrames, channels, SystemSoundCapture::kRate);
    }
    delegate->deliverRecordedData(samples, frames, channels, SystemSoundCapture::kRate);
}

void SystemAudioDevice::microphoneSound(const int16_t* samples, std::size_t frames)
{
    lastMicrophoneUs_ = PulseStream::steadyNowUs();
    if (frames != AudioIO::kFrames)
        return;
    std::lock_guard delivering(deliveryMutex_);
    AudioDeviceDelegate* delegate;
    {
        std::lock_guard lock(stateMutex_);
        if (!recording_ || !mixing_ || !delegate_)
            return;
        delegate = delegate_;
    }
    microphoneRing_.push(samples, frames);
    microphoneBuffer_.resize(frames);
    while (microphoneRing_.size() > kMaxMicrophoneBacklogFrames)
        microphoneRing_.pop(microphoneBuffer_.data(), frames);
    // Without system sound the microphone alone is sent.
    mixOut(delegate, !systemSoundFlowing());
}

void SystemAudioDevice::mixOut(AudioDeviceDelegate* delegate, bool microphoneAlone)
{
    constexpr std::size_t frames = AudioIO::kFrames;
    constexpr std::size_t channels = SystemSoundCapture::kChannels;
    mixBuffer_.resize(frames * channels);
    microphoneBuffer_.resize(frames);
    while (microphoneRing_.size() >= frames && (microphoneAlone || systemRing_.size() >= frames * channels)) {
        microphoneRing_.pop(microphoneBuffer_.data(), frames);
        systemRing_.pop(mixBuffer_.data(), frames * channels);
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < channels; ++c)
                mixBuffer_[i * channels + c] = saturate(mixBuffer_[i * channels + c] + microphoneBuffer_[i]);
        delegate->deliverRecordedData(mixBuffer_.data(), frames, channels, AudioIO::kRate);
        if (microphoneAlone) {
            balance_.reset();
            continue;
        }
        // The two cards' clocks differ a little: a single frame of the one ahead goes.
        int16_t dropped[channels];
        switch (balance_.after(microphoneRing_.size(), systemRing_.size() / channels)) {
        case RingBalance::Trim::first: microphoneRing_.pop(dropped, 1); break;
        case RingBalance::Trim::second: systemRing_.pop(dropped, channels); break;
        case RingBalance::Trim::none: break;
        }
    }
}

} // namespace wl
