#include "host/HostPeer.h"

#include "host/MemoryTrim.h"
#include "host/VideoAdaptation.h"

#include "media/MediaEngine.h"
#include "media/PeerFactory.h"
#include "media/VideoFeedback.h"
#include "media/ScreenCapturer.h"
#include "media/ScreenVideoSource.h"
#include "media/SenderEncodings.h"
#include "media/WantsTenBit.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "signalling/ConnectionFailureGrace.h"
#include "signalling/ICEDiagnostics.h"
#include "signalling/PeerLink.h"
#include "signalling/RouteDescription.h"
#include "signalling/ScreenBandwidth.h"
#include "host/SharedDisplay.h"
#include "signalling/SignalTransport.h"
#include "signalling/WebRTCConfiguration.h"

#include <api/rtp_parameters.h>
#include <api/stats/rtcstats_objects.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include <sstream>

namespace wl {

namespace {

// How long after a session's peer is gone its memory is handed back (its threads end
// and free their last frames in the meantime).
constexpr int kTrimAfterSessionMs = 2000;

// How often, in statistics readings, the free memory of malloc's arenas goes back to
// the system during a session: every 15 seconds. The session's threads (the capture, the
// encoder and its workers, started anew with every reopen, WebRTC's queues) allocate
// from arenas of their own, and glibc hands an arena's pages back only from the top of
// its heap, and only when a large block is freed there: what is freed below stays with
// the process, and so do whole arenas whose threads have ended. Over a long session the
// arenas' free memory grew in steps (5 to 12 MB in half an hour here), and the host's
// RSS with it while its live memory stayed flat. A trim of a large heap over many arenas
// takes tens of milliseconds: it runs on a thread of its own (MemoryTrim), off the main
// thread that posts the helper's input.
constexpr int kStatsReadingsPerTrim = 15'000 / HostPeer::kStatsIntervalMs;

std::string withoutLineBreaks(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n')
            out += " | ";
        else
            out += text[i];
    }
    return out;
}

// Writes one change to every encoding of the sender.
void changeEncodings(webrtc::RtpSenderInterface& sender,
                     const std::function<void(webrtc::RtpEncodingParameters&)>& change)
{
    webrtc::RtpParameters parameters = sender.GetParameters();
    for (auto& encoding : parameters.encodings)
        change(encoding);
    auto result = sender.SetParameters(parameters);
    if (!result.ok())
        Log::line(std::string("Wickerlane: could not change the video encoding: ") + result.message());
}

// The report as plain entries: every defined value that is a flag, a number or a text.
StatsReport plainReport(const webrtc::RTCStatsReport& report)
{
    using Member = webrtc::RTCStatsMemberInterface;
    StatsReport entries;
    for (const webrtc::RTCStats& stats : report) {
        StatsEntry entry{stats.id(), stats.type(), {}};
        for (const Member* member : stats.Members()) {
            if (!member->is_defined())
                continue;
            switch (member->type()) {
            case Member::kBool: entry.values[member->name()] = *member->cast_to<webrtc::RTCStatsMember<bool>>(); break;
            case Member::kInt32:
                entry.values[member->name()] = std::int64_t(*member->cast_to<webrtc::RTCStatsMember<int32_t>>());
                break;
            case Member::kUint32:
                entry.values[member->name()] = std::int64_t(*member->cast_to<webrtc::RTCStatsMember<uint32_t>>());
                break;
            case Member::kInt64:
                entry.values[member->name()] = std::int64_t(*member->cast_to<webrtc::RTCStatsMember<int64_t>>());
                break;
            case Member::kUint64:
                entry.values[member->name()] = std::int64_t(*member->cast_to<webrtc::RTCStatsMember<uint64_t>>());
                break;
            case Member::kDouble:
                entry.values[member->name()] = *member->cast_to<webrtc::RTCStatsMember<double>>();
                break;
            case Member::kString:
                entry.values[member->name()] = *member->cast_to<webrtc::RTCStatsMember<std::string>>();
                break;
            default: break;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

struct HostPeer::Impl {
    std::unique_ptr<ICEDiagnostics> diagnostics;
    std::unique_ptr<ConnectionFailureGrace> failureGrace;
    rtc::scoped_refptr<ScreenVideoSource> videoSource;
    std::unique_ptr<ScreenCapturer> capturer;
    std::shared_ptr<VideoFeedback> feedback = std::make_shared<VideoFeedback>(); // the capture's and the encoders'
    std::shared_ptr<PeerFactory> factory;
    std::unique_ptr<PeerLink> link;
    std::shared_ptr<DataChannelLink> guideChannel;
    rtc::scoped_refptr<webrtc::RtpSenderInterface> videoSender;
    rtc::scoped_refptr<webrtc::RtpSenderInterface> audioSender;
    std::unique_ptr<OneShotTimer> statsTimer;
    VideoAdaptation adaptation;
    int captureRate = 30; // frames a second the capture runs at without a lower ceiling
    int readingsSinceTrim = 0;
};

std::shared_ptr<HostPeer> HostPeer::make(MediaEngine& engine, std::shared_ptr<SignalTransport> signal,
                                         std::vector<ICEServer> relays, TimerFactory timers,
                                         const ScreenSources& screens, std::shared_ptr<CaptureExclusion> exclusion,
                                         std::shared_ptr<SharedDisplay> shared, const Defaults& defaults)
{
    std::shared_ptr<HostPeer> peer(new HostPeer(engine, std::move(signal), relays, std::move(timers), screens,
                                                std::move(exclusion), std::move(shared), defaults));
    peer->build(relays, defaults);
    return peer;
}

HostPeer::HostPeer(MediaEngine& engine, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
                   TimerFactory timers, const ScreenSources& screens, std::shared_ptr<CaptureExclusion> exclusion,
                   std::shared_ptr<SharedDisplay> shared, const Defaults& defaults)
    : signal_(std::move(signal)), timers_(requiredTimers(std::move(timers), "HostPeer")), shared_(std::move(shared)),
      media_(MediaSettings::read(defaults)), impl_(std::make_unique<Impl>())
{
    impl_->diagnostics = std::make_unique<ICEDiagnostics>(relays, defaults);
    impl_->videoSource = ScreenVideoSource::create();
    impl_->capturer =
        std::make_unique<ScreenCapturer>(impl_->videoSource, screens ? screens() : nullptr, std::move(exclusion),
                                         engine.framePool(), impl_->feedback, media_);
    impl_->factory = engine.sessionFactory(media_, impl_->feedback);
    impl_->captureRate = impl_->capturer->frameRate.load();
}

void HostPeer::build(const std::vector<ICEServer>& relays, const Defaults& defaults)
{
    assertMainThread("HostPeer::build");
    // Every event below runs on the main thread while the link is open, that is while
    // this peer exists and has not closed it.
    PeerLink::Events events;
    events.localCandidate = [this](const SignalMessage& candidate) {
        if (candidate.sdp)
            impl_->diagnostics->recordCandidate(*candidate.sdp, true);
        if (signal_)
            signal_->send(candidate);
    };
    events.candidateError = [this](const std::string& url, int code, const std::string& text) {
        impl_->diagnostics->recordError(url, code, text);
    };
    events.iceConnectionState = [this](PeerLink::IceConnectionState state) {
        Log::line("Wickerlane ICE: state=" + std::to_string(static_cast<int>(state)) + " | " +
                  withoutLineBreaks(impl_->diagnostics->summary()));
        connectionState_ = static_cast<ConnectionState>(state);
        if (connectionState_ == ConnectionState::connected || connectionState_ == ConnectionState::completed)
            hasConnected_ = true;
        if (!impl_->failureGrace) {
            impl_->failureGrace = std::make_unique<ConnectionFailureGrace>(timers_);
            QPointer<HostPeer> self(this);
            impl_->failureGrace->giveUp = [self] {
                if (!self)
                    return;
                if (auto ended = self->onEnded)
                    ended();
            };
        }
        impl_->failureGrace->update(state);
    };
    events.dataChannel = [this](std::shared_ptr<DataChannelLink> channel) {
        // The host never opens a channel; it takes the one the helper opens.
        channel->events.state = [this](webrtc::DataChannelInterface::DataState state) {
            if (state == webrtc::DataChannelInterface::kOpen)
                if (auto open = onChannelOpen)
                    open();
        };
        channel->events.message = [this](const std::string& bytes, bool) {
            auto event = SessionEvent::decode(bytes);
            if (!event)
                return;
            if (auto handler = onEvent)
                handler(*event);
        };
        impl_->guideChannel = channel;
        if (channel->isOpen())
            if (auto open = onChannelOpen)
                open();
    };
    auto configuration = makeRTCConfiguration(defaults, relays);
    // Left unset, the library pads a screen share up to a minimum transmit rate whenever
    // the encoder sends less (measured: about 70 kbit/s of padding on a still screen).
    // A screen that doesn't change should cost nothing.
    configuration.screencast_min_bitrate = 0;
    impl_->link = std::make_unique<PeerLink>(impl_->factory, configuration, std::move(events));
}

HostPeer::~HostPeer()
{
    impl_->statsTimer.reset();
    if (impl_->link)
        impl_->link->close();
    if (impl_->capturer)
        impl_->capturer->stop(impl_->capturer->takeStream());
    // The session's threads (capture, encoder, WebRTC's queues) freed their frames into
    // malloc arenas of their own, which glibc keeps; once they are gone, hand the free
    // pages of every arena back to the system.
    if (auto* app = QCoreApplication::instance())
        QTimer::singleShot(kTrimAfterSessionMs, app, [] { MemoryTrim::request(); });
}

void HostPeer::requestKeyFrame()
{
    impl_->feedback->requestKeyFrame();
}

bool HostPeer::hasConnection() const
{
    return impl_->link && impl_->link->connection();
}

void HostPeer::applyOffer(const SignalMessage& offer)
{
    if (stopped_ || !hasConnection() || !offer.sdp || offerApplied_)
        return;
    offerApplied_ = true;
    // The screen's stream is made from the offer, before its encodings can apply: it
    // takes the screen's highest rate from there.
    const std::string sdp = withVideoBandwidth(*offer.sdp, kScreenMaxBitrateBps / 1000);
    impl_->link->setRemoteDescription(webrtc::SdpType::kOffer, sdp, [this](std::string error) {
        if (!error.empty()) {
            Log::line("Wickerlane: could not apply offer: " + error);
            return;
        }
        answerOffer();
    });
}

void HostPeer::answerOffer()
{
    if (stopped_ || !hasConnection())
        return;
    webrtc::PeerConnectionInterface* connection = impl_->link->connection();
    webrtc::PeerConnectionFactoryInterface* factory = impl_->factory->get();
    auto video = factory->CreateVideoTrack("screen0", impl_->videoSource.get());
    auto videoSender = connection->AddTrack(video, {"screen"});
    if (videoSender.ok())
        impl_->videoSender = videoSender.MoveValue();
    else
        Log::line(std::string("Wickerlane: could not add the screen: ") + videoSender.error().message());

    // The sound is the system's own: no voice processing on it.
    cricket::AudioOptions options;
    options.echo_cancellation = false;
    options.auto_gain_control = false;
    options.noise_suppression = false;
    options.highpass_filter = false;
    auto sound = factory->CreateAudioTrack("sound0", factory->CreateAudioSource(options).get());
    auto audioSender = connection->AddTrack(sound, {"screen"});
    if (audioSender.ok())
        impl_->audioSender = audioSender.MoveValue();
    else
        Log::line(std::string("Wickerlane: could not add the sound: ") + audioSender.error().message());

    impl_->link->setLocalDescription([this](std::optional<std::string> sdp, std::string error) {
        if (!sdp) {
            Log::line("Wickerlane: could not create answer: " + error);
            return;
        }
        finishAnswer(*sdp);
    });

    // The capture and the statistics do not wait for the answer.
    impl_->capturer->start(shared_->remembered(), impl_->capturer->tenBit.load() && !impl_->capturer->tenBitRefused());
    armStatsTimer();
}

void HostPeer::armStatsTimer()
{
    QPointer<HostPeer> self(this);
    impl_->statsTimer = timers_(std::chrono::milliseconds(kStatsIntervalMs), [self] {
        if (!self || self->stopped_)
            return;
        self->pollStats();
        if (++self->impl_->readingsSinceTrim >= kStatsReadingsPerTrim) {
            self->impl_->readingsSinceTrim = 0;
            MemoryTrim::request();
        }
        self->armStatsTimer();
    });
}

void HostPeer::finishAnswer(const std::string& sdp)
{
    if (stopped_)
        return;
    if (impl_->videoSender)
        configureScreenEncodings(*impl_->videoSender);
    if (impl_->audioSender)
        configureSoundEncodings(*impl_->audioSender);
    chooseTenBit(sdpHasH265(sdp));
    if (signal_)
        signal_->send(descriptionMessage(SignalMessage::Kind::answer, sdp, signAnswer));
}

void HostPeer::chooseTenBit(bool h265InUse)
{
    ScreenCapturer& capturer = *impl_->capturer;
    if (wantsTenBitH265(media_)) {
        if (h265InUse != capturer.tenBit.load()) {
            capturer.tenBit = h265InUse;
            capturer.applyPixelFormat();
        }
    } else if (capturer.tenBit.load()) {
        capturer.tenBit = false;
        capturer.applyPixelFormat();
    }
}

bool HostPeer::sdpHasH265(const std::string& sdp)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        std::size_t end = sdp.find("\r\n", start);
        lines.push_back(sdp.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    for (const std::string& line : lines) {
        if (line.rfind("m=video", 0) != 0)
            continue;
        std::istringstream words(line);
        std::vector<std::string> pieces;
        for (std::string word; words >> word;)
            pieces.push_back(word);
        if (pieces.size() < 4)
            return false;
        const std::string prefix = "a=rtpmap:" + pieces[3] + " H265/";
        for (const std::string& other : lines)
            if (other.rfind(prefix, 0) == 0)
                return true;
        return false;
    }
    return false;
}

void HostPeer::pollStats()
{
    if (stopped_ || !hasConnection())
        return;
    ScreenCapturer& capturer = *impl_->capturer;
    const long long captured = capturer.counts().framesCaptured;
    const auto configuration = capturer.configuration();
    const bool tenBit = configuration && configuration->pixelFormat == ScreenCapturer::PixelFormat::rgb10;
    std::string transceivers;
    for (const auto& transceiver : impl_->link->connection()->GetTransceivers()) {
        if (!transceivers.empty())
            transceivers += ", ";
        transceivers += transceiver->media_type() == cricket::MEDIA_TYPE_VIDEO ? "video" : "other";
        transceivers += " dir=" + std::to_string(static_cast<int>(transceiver->direction()));
        transceivers += std::string(" track=") + (transceiver->sender()->track() ? "true" : "false");
    }
    impl_->link->getStats([this, captured, tenBit,
                           transceivers](rtc::scoped_refptr<const webrtc::RTCStatsReport> report) {
        if (stopped_ || !report)
            return;
        applyStatsReading(readStats(plainReport(*report), captured, tenBit, transceivers, routeDescription(*report)));
    });
}

void HostPeer::applyStatsReading(const StatsReading& reading)
{
    VideoAdaptation& adaptation = impl_->adaptation;
    for (const std::string& codec : reading.videoCodecs) {
        adaptation.noteCodec(codec);
        usingH265_ = adaptation.usingH265();
        chooseTenBit(usingH265_);
    }
    VideoAdaptation::Sender sender;
    if (auto* video = impl_->videoSender.get()) {
        sender.setScale = [video](double scale) {
            changeEncodings(*video, [scale](webrtc::RtpEncodingParameters& encoding) {
                encoding.scale_resolution_down_by = scale;
            });
        };
        ScreenCapturer* capturer = impl_->capturer.get();
        const int captureRate = impl_->captureRate;
        sender.setMaxFrameRate = [video, capturer, captureRate](int frameRate) {
            changeEncodings(
                *video, [frameRate](webrtc::RtpEncodingParameters& encoding) { encoding.max_framerate = frameRate; });
            // A ceiling below the capture rate is met by capturing less often: left to
            // the encoder, it would drop captured frames here and there, and a dropped
            // change would wait for the next capture.
            capturer->frameRate = std::min(captureRate, frameRate);
        };
    }
    for (const std::string& line : adaptation.apply(reading, captureSize(), impl_->videoSender ? &sender : nullptr))
        Log::line(line);
}

double HostPeer::currentScale() const
{
    return impl_->adaptation.currentScale();
}

int HostPeer::currentFrameRate() const
{
    return impl_->adaptation.currentFrameRate();
}

void HostPeer::capBitrate(int bitsPerSecond)
{
    if (!hasConnection())
        return;
    webrtc::BitrateSettings settings;
    settings.max_bitrate_bps = bitsPerSecond;
    settings.start_bitrate_bps = std::min(bitsPerSecond, 300000);
    auto result = impl_->link->connection()->SetBitrate(settings);
    if (!result.ok())
        Log::line(std::string("Wickerlane: could not cap the bitrate: ") + result.message());
}

std::optional<double> HostPeer::encodingScale() const
{
    if (!impl_->videoSender)
        return std::nullopt;
    auto parameters = impl_->videoSender->GetParameters();
    if (parameters.encodings.empty() || !parameters.encodings[0].scale_resolution_down_by)
        return std::nullopt;
    return *parameters.encodings[0].scale_resolution_down_by;
}

int HostPeer::captureFrameRate() const
{
    return impl_->capturer->frameRate.load();
}

std::optional<int> HostPeer::encodingMaxFrameRate() const
{
    if (!impl_->videoSender)
        return std::nullopt;
    auto parameters = impl_->videoSender->GetParameters();
    if (parameters.encodings.empty() || !parameters.encodings[0].max_framerate)
        return std::nullopt;
    return int(*parameters.encodings[0].max_framerate);
}

void HostPeer::addRemoteCandidate(const SignalMessage& candidate)
{
    if (candidate.kind != SignalMessage::Kind::candidate || !candidate.sdp)
        return;
    impl_->diagnostics->recordCandidate(*candidate.sdp, false);
    if (!stopped_ && impl_->link)
        impl_->link->addRemoteCandidate(candidate);
}

bool HostPeer::guideChannelOpen() const
{
    return impl_->guideChannel && impl_->guideChannel->isOpen();
}

void HostPeer::send(const SessionEvent& event)
{
    assertMainThread("HostPeer::send");
    if (!guideChannelOpen())
        return;
    impl_->guideChannel->send(event.encode(), false);
}

void HostPeer::setShowsCursor(bool shows)
{
    ScreenCapturer& capturer = *impl_->capturer;
    if (capturer.showsCursor.load() == shows)
        return;
    capturer.showsCursor = shows;
    capturer.applyCursor();
}

void HostPeer::switchDisplay(std::uint32_t displayId)
{
    impl_->capturer->switchDisplay(displayId);
}

std::optional<std::pair<int, int>> HostPeer::captureSize() const
{
    auto size = impl_->capturer->captureSize();
    if (!size)
        return std::nullopt;
    return std::make_pair(size->width, size->height);
}

bool HostPeer::capturing() const
{
    return impl_->capturer->stream() != nullptr;
}

void HostPeer::stop(std::optional<SessionEvent> goodbye)
{
    assertMainThread("HostPeer::stop");
    if (stopped_)
        return;
    stopped_ = true;
    onEnded = nullptr;
    onEvent = nullptr;
    if (impl_->failureGrace) {
        impl_->failureGrace->timer.reset();
        impl_->failureGrace->giveUp = nullptr;
    }
    impl_->statsTimer.reset();
    impl_->capturer->stop(impl_->capturer->takeStream());
    if (goodbye && guideChannelOpen()) {
        send(*goodbye);
        // The peer lives until the goodbye has had its half second.
        auto keep = shared_from_this();
        QTimer::singleShot(kGoodbyeDelayMs, this, [keep] { keep->closeNow(); });
        return;
    }
    closeNow();
}

void HostPeer::closeNow()
{
    if (impl_->guideChannel)
        impl_->guideChannel->close();
    if (impl_->link)
        impl_->link->close();
}

} // namespace wl
