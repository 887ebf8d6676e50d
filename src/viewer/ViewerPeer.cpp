#include "viewer/ViewerPeer.h"

#include "media/DecodedPictureSink.h"
#include "media/MediaEngine.h"
#include "media/PeerFactory.h"
#include "media/SenderEncodings.h"
#include "media/StallWatch.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "signalling/ConnectionFailureGrace.h"
#include "signalling/ICEDiagnostics.h"
#include "signalling/OpusStereo.h"
#include "signalling/PeerLink.h"
#include "signalling/RouteDescription.h"
#include "signalling/SignalTransport.h"
#include "signalling/WebRTCConfiguration.h"
#include "viewer/MoveLimiter.h"
#include "viewer/SampleBufferRenderer.h"

#include <api/jsep.h>
#include <api/media_stream_interface.h>
#include <api/rtp_transceiver_interface.h>
#include <api/stats/rtcstats_objects.h>

#include <QPointer>

#include <algorithm>
#include <chrono>
#include <map>

namespace wl {

namespace {

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct ViewerPeer::Impl {
    std::shared_ptr<PeerFactory> factory;
    std::unique_ptr<PeerLink> link;
    std::unique_ptr<ConnectionFailureGrace> failureGrace;
    std::shared_ptr<DataChannelLink> guideChannel;
    rtc::scoped_refptr<webrtc::VideoTrackInterface> remoteVideoTrack;
    std::unique_ptr<DecodedPictureSink> pictures; // on remoteVideoTrack, into the renderer
    rtc::scoped_refptr<webrtc::AudioTrackInterface> remoteAudioTrack;
    rtc::scoped_refptr<webrtc::AudioTrackInterface> voiceTrack;
    StallWatch stallWatch;
    std::unique_ptr<OneShotTimer> stallTimer;
    std::unique_ptr<OneShotTimer> goodbyeTimer;
};

std::shared_ptr<ViewerPeer> ViewerPeer::make(MediaEngine& engine, std::shared_ptr<SignalTransport> signal,
                                             std::vector<ICEServer> relays, TimerFactory timers,
                                             const Defaults& defaults)
{
    std::shared_ptr<ViewerPeer> peer(new ViewerPeer(engine, std::move(signal), relays, std::move(timers), defaults));
    peer->build(relays, defaults);
    return peer;
}

ViewerPeer::ViewerPeer(MediaEngine& engine, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
                       TimerFactory timers, const Defaults& defaults)
    : signal_(std::move(signal)), timers_(requiredTimers(std::move(timers), "ViewerPeer")),
      media_(MediaSettings::read(defaults)), impl_(std::make_unique<Impl>()),
      diagnostics_(std::make_unique<ICEDiagnostics>(relays, defaults)),
      renderer_(std::make_shared<SampleBufferRenderer>())
{
    impl_->factory = engine.sessionFactory(media_);
    impl_->pictures = std::make_unique<DecodedPictureSink>(
        [renderer = renderer_](const DecodedPicture& picture) { renderer->renderPicture(picture); });
    impl_->stallWatch.framesDecoded = -1;
    impl_->stallWatch.lastRequest = -1e18;
}

void ViewerPeer::build(const std::vector<ICEServer>& relays, const Defaults& defaults)
{
    assertMainThread("ViewerPeer::build");
    // Every event below runs on the main thread while the link is open, that is while
    // this peer exists and has not closed it.
    PeerLink::Events events;
    events.localCandidate = [this](const SignalMessage& candidate) {
        if (candidate.sdp)
            diagnostics_->recordCandidate(*candidate.sdp, true);
        if (signal_)
            signal_->send(candidate);
    };
    events.candidateError = [this](const std::string& url, int code, const std::string& text) {
        diagnostics_->recordError(url, code, text);
    };
    events.iceConnectionState = [this](PeerLink::IceConnectionState state) { iceStateChanged(int(state)); };
    impl_->link = std::make_unique<PeerLink>(impl_->factory, makeRTCConfiguration(defaults, relays), std::move(events));
}

ViewerPeer::~ViewerPeer()
{
    if (impl_->remoteVideoTrack)
        impl_->remoteVideoTrack->RemoveSink(impl_->pictures.get());
    if (impl_->link)
        impl_->link->close();
}

bool ViewerPeer::hasConnection() const
{
    return impl_->link && impl_->link->connection() && !impl_->link->isClosed();
}

double ViewerPeer::now() const
{
    return clock ? clock() : steadySeconds();
}

std::vector<std::string> ViewerPeer::preferredCodecOrder(const std::vector<std::string>& factoryNames)
{
    const auto ranking = codecRanking();
    auto position = [&](const std::string& name) {
        auto it = std::find(ranking.begin(), ranking.end(), name);
        return it == ranking.end() ? 99 : int(it - ranking.begin());
    };
    std::vector<std::string> kept;
    for (const auto& name : factoryNames)
        if (position(name) != 99)
            kept.push_back(name);
    std::stable_sort(kept.begin(), kept.end(),
                     [&](const std::string& a, const std::string& b) { return position(a) < position(b); });
    return kept;
}

void ViewerPeer::start()
{
    assertMainThread("ViewerPeer::start");
    if (!hasConnection()) {
        if (auto ended = onEnded)
            ended();
        return;
    }
    webrtc::PeerConnectionInterface* connection = impl_->link->connection();
    webrtc::PeerConnectionFactoryInterface* factory = impl_->factory->get();

    // The host's screen: receive only, H.265 first, then H.264.
    webrtc::RtpTransceiverInit videoInit;
    videoInit.direction = webrtc::RtpTransceiverDirection::kRecvOnly;
    auto video = connection->AddTransceiver(cricket::MEDIA_TYPE_VIDEO, videoInit);
    if (video.ok()) {
        auto transceiver = video.MoveValue();
        std::vector<webrtc::RtpCodecCapability> capabilities = factory
            ? factory->GetRtpReceiverCapabilities(cricket::MEDIA_TYPE_VIDEO).codecs
            : std::vector<webrtc::RtpCodecCapability>{};
        const auto ranking = codecRanking();
        auto position = [&](const std::string& name) {
            auto it = std::find(ranking.begin(), ranking.end(), name);
            return it == ranking.end() ? 99 : int(it - ranking.begin());
        };
        std::vector<webrtc::RtpCodecCapability> kept;
        for (const auto& codec : capabilities)
            if (position(codec.name) != 99)
                kept.push_back(codec);
        std::stable_sort(kept.begin(), kept.end(),
                         [&](const auto& a, const auto& b) { return position(a.name) < position(b.name); });
        if (!kept.empty()) {
            auto result = transceiver->SetCodecPreferences(kept);
            if (!result.ok())
                Log::line(std::string("Wickerlane: could not prefer H.264: ") + result.message());
        }
        auto track = transceiver->receiver()->track();
        if (track && track->kind() == webrtc::MediaStreamTrackInterface::kVideoKind) {
            impl_->remoteVideoTrack =
                rtc::scoped_refptr<webrtc::VideoTrackInterface>(static_cast<webrtc::VideoTrackInterface*>(track.get()));
            impl_->remoteVideoTrack->AddOrUpdateSink(impl_->pictures.get(), rtc::VideoSinkWants());
        }
    }

    // The helper's microphone, off until switched on; the voice processing is the audio
    // device's own.
    if (factory) {
        cricket::AudioOptions options;
        options.echo_cancellation = false;
        options.auto_gain_control = false;
        options.noise_suppression = false;
        options.highpass_filter = false;
        auto voice = factory->CreateAudioTrack("voice0", factory->CreateAudioSource(options).get());
        voice->set_enabled(false);
        impl_->voiceTrack = voice;
        webrtc::RtpTransceiverInit audioInit;
        audioInit.direction = webrtc::RtpTransceiverDirection::kSendRecv;
        audioInit.stream_ids = {"voice"};
        audioInit.send_encodings.emplace_back().max_bitrate_bps = kVoiceMaxBitrateBps;
        auto audio = connection->AddTransceiver(voice, audioInit);
        impl_->remoteAudioTrack = nullptr;
        if (audio.ok()) {
            auto track = audio.value()->receiver()->track();
            if (track && track->kind() == webrtc::MediaStreamTrackInterface::kAudioKind)
                impl_->remoteAudioTrack = rtc::scoped_refptr<webrtc::AudioTrackInterface>(
                    static_cast<webrtc::AudioTrackInterface*>(track.get()));
        }
    }

    // "guide": session events both ways.
    impl_->guideChannel = impl_->link->createDataChannel("guide", true);
    if (impl_->guideChannel) {
        impl_->guideChannel->events.message = [this](const std::string& bytes, bool) {
            auto event = SessionEvent::decode(bytes);
            if (!event)
                return;
            if (auto handler = onEvent)
                handler(*event);
        };
    }

    schedulePoll();

    // The offer, with stereo Opus for the host's sound, signed by the session. An
    // offer that can't be made or set ends the attempt at once.
    impl_->link->setLocalDescription(
        [this](std::optional<std::string> sdp, std::string error) {
            if (closed_)
                return;
            if (!sdp) {
                Log::line("Wickerlane: could not create offer: " + error);
                giveUp();
                return;
            }
            if (signal_)
                signal_->send(descriptionMessage(SignalMessage::Kind::offer, *sdp, signOffer));
        },
        preferOpusStereo);
}

void ViewerPeer::applyAnswer(const std::string& sdp)
{
    assertMainThread("ViewerPeer::applyAnswer");
    if (!hasConnection())
        return;
    // An answer that can't be set ends the attempt at once.
    impl_->link->setRemoteDescription(webrtc::SdpType::kAnswer, soundOutOfStream(sdp), [this](std::string error) {
        if (error.empty())
            return;
        Log::line("Wickerlane: could not apply answer: " + error);
        giveUp();
    });
}

void ViewerPeer::giveUp()
{
    if (closed_)
        return;
    if (auto ended = onEnded)
        ended();
}

void ViewerPeer::addRemoteCandidate(const SignalMessage& message)
{
    assertMainThread("ViewerPeer::addRemoteCandidate");
    if (message.kind != SignalMessage::Kind::candidate || !message.sdp)
        return;
    diagnostics_->recordCandidate(*message.sdp, false);
    if (hasConnection() && !impl_->link->addRemoteCandidate(message))
        Log::line("Wickerlane: could not add candidate: unreadable candidate");
}

bool ViewerPeer::guideOpen() const
{
    return impl_->guideChannel && impl_->guideChannel->isOpen();
}

void ViewerPeer::sendNow(const SessionEvent& event)
{
    if (guideOpen())
        impl_->guideChannel->send(event.encode(), false);
}

void ViewerPeer::send(const SessionEvent& event)
{
    assertMainThread("ViewerPeer::send");
    if (!guideOpen())
        return;
    if (!moves_)
        moves_ = std::make_unique<MoveLimiter>(
            kPointerInterval, [this] { return now(); }, timers_, [this](const SessionEvent& e) { sendNow(e); });
    moves_->send(event);
}

void ViewerPeer::iceStateChanged(int state)
{
    assertMainThread("ViewerPeer::iceStateChanged");
    connectionState_ = static_cast<ConnectionState>(state);
    if (!impl_->failureGrace) {
        impl_->failureGrace = std::make_unique<ConnectionFailureGrace>(timers_);
        QPointer<ViewerPeer> self(this);
        impl_->failureGrace->giveUp = [self] {
            if (!self)
                return;
            if (auto ended = self->onEnded)
                ended();
        };
    }
    impl_->failureGrace->update(static_cast<webrtc::PeerConnectionInterface::IceConnectionState>(state));
}

void ViewerPeer::schedulePoll()
{
    QPointer<ViewerPeer> self(this);
    impl_->stallTimer = timers_(kStallPollInterval, [self] {
        if (!self || self->closed_)
            return;
        self->pollStats();
        self->schedulePoll();
    });
}

void ViewerPeer::pollStats()
{
    if (!hasConnection())
        return;
    QPointer<ViewerPeer> self(this);
    impl_->link->getStats([self](rtc::scoped_refptr<const webrtc::RTCStatsReport> report) {
        if (!self || !report)
            return;
        std::map<std::string, std::string> mimeTypes;
        for (const auto* codec : report->GetStatsOfType<webrtc::RTCCodecStats>())
            if (codec->mime_type.is_defined())
                mimeTypes[codec->id()] = *codec->mime_type;
        for (const auto* inbound : report->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
            if (!inbound->kind.is_defined() || *inbound->kind != "video")
                continue;
            if (!inbound->codec_id.is_defined())
                return;
            auto it = mimeTypes.find(*inbound->codec_id);
            if (it == mimeTypes.end() || it->second != "video/H265")
                return;
            // This library's statistics don't count retransmitted bytes received apart:
            // all bytes received count as media.
            long long bytes = static_cast<long long>(inbound->bytes_received.ValueOrDefault(0));
            long long frames = inbound->frames_decoded.ValueOrDefault(0);
            self->checkStall(bytes, frames);
        }
    });
}

void ViewerPeer::checkStall(long long mediaBytes, long long framesDecoded)
{
    assertMainThread("ViewerPeer::checkStall");
    if (closed_)
        return;
    if (!impl_->stallWatch.shouldRequestKeyFrame(now(), mediaBytes, framesDecoded))
        return;
    Log::line("Wickerlane: picture stuck with video arriving; asking for a key frame");
    ++keyFramesRequested_;
    send(SessionEvent::make(SessionEvent::Kind::keyFrame));
}

std::string ViewerPeer::describeStats(const webrtc::RTCStatsReport& report)
{
    std::map<std::string, std::string> names;
    for (const auto* codec : report.GetStatsOfType<webrtc::RTCCodecStats>()) {
        if (!codec->mime_type.is_defined())
            continue;
        std::string name = *codec->mime_type;
        for (std::size_t at; (at = name.find("video/")) != std::string::npos;)
            name.erase(at, 6);
        names[codec->id()] = name;
    }
    std::string text = "no video stream negotiated";
    for (const auto* inbound : report.GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
        if (!inbound->kind.is_defined() || *inbound->kind != "video")
            continue;
        std::string codec = "no codec";
        if (inbound->codec_id.is_defined()) {
            auto it = names.find(*inbound->codec_id);
            if (it != names.end())
                codec = it->second;
        }
        const long long kilobytes = static_cast<long long>(inbound->bytes_received.ValueOrDefault(0)) / 1024;
        const long long frames = inbound->frames_decoded.ValueOrDefault(0);
        text = codec + " \u00b7 " + std::to_string(kilobytes) + " KB in \u00b7 " + std::to_string(frames) + " decoded";
    }
    if (auto route = routeDescription(report))
        text += " \u00b7 " + *route;
    return text;
}

void ViewerPeer::describeStats(std::function<void(std::string)> done)
{
    assertMainThread("ViewerPeer::describeStats");
    if (!hasConnection())
        return;
    impl_->link->getStats([done = std::move(done)](rtc::scoped_refptr<const webrtc::RTCStatsReport> report) {
        if (report && done)
            done(describeStats(*report));
    });
}

void ViewerPeer::transportBytes(std::function<void(ByteCounts)> done)
{
    assertMainThread("ViewerPeer::transportBytes");
    if (!hasConnection())
        return;
    impl_->link->getStats([done = std::move(done)](rtc::scoped_refptr<const webrtc::RTCStatsReport> report) {
        if (!report || !done)
            return;
        ByteCounts counts;
        for (const auto* transport : report->GetStatsOfType<webrtc::RTCTransportStats>()) {
            counts.sent += static_cast<long long>(transport->bytes_sent.ValueOrDefault(0));
            counts.received += static_cast<long long>(transport->bytes_received.ValueOrDefault(0));
        }
        for (const auto* inbound : report->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
            const long long bytes = static_cast<long long>(inbound->bytes_received.ValueOrDefault(0)) +
                static_cast<long long>(inbound->header_bytes_received.ValueOrDefault(0));
            if (inbound->kind.is_defined() && *inbound->kind == "video")
                counts.videoReceived += bytes;
            else
                counts.audioReceived += bytes;
        }
        done(counts);
    });
}

bool ViewerPeer::hasRemoteAudio() const
{
    return impl_->remoteAudioTrack != nullptr;
}

void ViewerPeer::setRemoteAudioEnabled(bool enabled)
{
    assertMainThread("ViewerPeer::setRemoteAudioEnabled");
    if (impl_->remoteAudioTrack)
        impl_->remoteAudioTrack->set_enabled(enabled);
}

bool ViewerPeer::remoteAudioEnabled() const
{
    return impl_->remoteAudioTrack && impl_->remoteAudioTrack->enabled();
}

void ViewerPeer::setVoiceEnabled(bool enabled)
{
    assertMainThread("ViewerPeer::setVoiceEnabled");
    if (impl_->voiceTrack)
        impl_->voiceTrack->set_enabled(enabled);
}

bool ViewerPeer::voiceEnabled() const
{
    return impl_->voiceTrack && impl_->voiceTrack->enabled();
}

void ViewerPeer::close(std::optional<SessionEvent> goodbye)
{
    assertMainThread("ViewerPeer::close");
    if (closed_)
        return;
    onEnded = nullptr;
    onEvent = nullptr;
    if (impl_->failureGrace) {
        impl_->failureGrace->timer.reset();
        impl_->failureGrace->giveUp = nullptr;
    }
    impl_->stallTimer.reset();
    if (impl_->remoteVideoTrack) {
        impl_->remoteVideoTrack->RemoveSink(impl_->pictures.get());
        impl_->remoteVideoTrack = nullptr;
    }
    if (impl_->voiceTrack) {
        impl_->voiceTrack->set_enabled(false);
        impl_->voiceTrack = nullptr;
    }
    if (goodbye && guideOpen()) {
        send(*goodbye);
        closed_ = true;
        // The peer lives until the goodbye has had its half second.
        auto keep = shared_from_this();
        impl_->goodbyeTimer = timers_(kGoodbyeDelay, [keep] { keep->closeNow(); });
        return;
    }
    closed_ = true;
    closeNow();
}

void ViewerPeer::closeNow()
{
    if (moves_)
        moves_->clear();
    if (impl_->guideChannel)
        impl_->guideChannel->close();
    if (impl_->link)
        impl_->link->close();
    // The goodbye's timer holds this peer; letting it go ends that hold.
    impl_->goodbyeTimer.reset();
}

} // namespace wl
