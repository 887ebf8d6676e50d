#include "LoopbackPeers.h"

#include "media/PeerConnectionFactory.h"

#include <api/jsep.h>
#include <api/rtp_transceiver_interface.h>
#include <api/stats/rtc_stats_collector_callback.h>
#include <rtc_base/time_utils.h>

#include <future>
#include <vector>

namespace wl::test {

void FrameSink::OnFrame(const webrtc::VideoFrame& frame)
{
    int64_t now = rtc::TimeMicros();
    {
        std::lock_guard guard(callbackLock_);
        if (onFrame_)
            onFrame_(frame, now);
    }
    {
        std::lock_guard guard(lock_);
        last_ = frame;
        ++count_;
    }
    changed_.notify_all();
}

void FrameSink::setOnFrame(std::function<void(const webrtc::VideoFrame&, int64_t)> callback)
{
    std::lock_guard guard(callbackLock_);
    onFrame_ = std::move(callback);
}

std::optional<webrtc::VideoFrame> FrameSink::waitFor(std::function<bool(const webrtc::VideoFrame&)> pred,
                                                     std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock guard(lock_);
    long long seen = 0;
    while (true) {
        if (last_ && count_ != seen) {
            seen = count_;
            webrtc::VideoFrame frame = *last_;
            guard.unlock();
            bool ok = pred(frame);
            guard.lock();
            if (ok)
                return frame;
            continue;
        }
        if (changed_.wait_until(guard, deadline) == std::cv_status::timeout)
            return std::nullopt;
    }
}

long long FrameSink::count() const
{
    std::lock_guard guard(lock_);
    return count_;
}

std::optional<webrtc::VideoFrame> FrameSink::last() const
{
    std::lock_guard guard(lock_);
    return last_;
}

namespace {

class CreateObserver : public webrtc::CreateSessionDescriptionObserver {
public:
    std::promise<std::unique_ptr<webrtc::SessionDescriptionInterface>> result;
    void OnSuccess(webrtc::SessionDescriptionInterface* desc) override
    {
        result.set_value(std::unique_ptr<webrtc::SessionDescriptionInterface>(desc));
    }
    void OnFailure(webrtc::RTCError) override { result.set_value(nullptr); }
};

class SetObserver : public webrtc::SetLocalDescriptionObserverInterface,
                    public webrtc::SetRemoteDescriptionObserverInterface {
public:
    std::promise<bool> result;
    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { result.set_value(error.ok()); }
    void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { result.set_value(error.ok()); }
};

class StatsCallback : public webrtc::RTCStatsCollectorCallback {
public:
    std::promise<rtc::scoped_refptr<const webrtc::RTCStatsReport>> result;
    void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override
    {
        result.set_value(report);
    }
};

constexpr auto kStep = std::chrono::seconds(10);

std::unique_ptr<webrtc::SessionDescriptionInterface> create(webrtc::PeerConnectionInterface* pc, bool offer)
{
    auto observer = rtc::make_ref_counted<CreateObserver>();
    auto future = observer->result.get_future();
    if (offer)
        pc->CreateOffer(observer.get(), {});
    else
        pc->CreateAnswer(observer.get(), {});
    if (future.wait_for(kStep) != std::future_status::ready)
        return nullptr;
    return future.get();
}

bool setLocal(webrtc::PeerConnectionInterface* pc, std::unique_ptr<webrtc::SessionDescriptionInterface> desc)
{
    auto observer = rtc::make_ref_counted<SetObserver>();
    auto future = observer->result.get_future();
    pc->SetLocalDescription(std::move(desc),
                            rtc::scoped_refptr<webrtc::SetLocalDescriptionObserverInterface>(observer));
    return future.wait_for(kStep) == std::future_status::ready && future.get();
}

bool setRemote(webrtc::PeerConnectionInterface* pc, const webrtc::SessionDescriptionInterface& desc)
{
    std::string sdp;
    desc.ToString(&sdp);
    auto copy = webrtc::CreateSessionDescription(desc.GetType(), sdp);
    auto observer = rtc::make_ref_counted<SetObserver>();
    auto future = observer->result.get_future();
    pc->SetRemoteDescription(std::move(copy),
                             rtc::scoped_refptr<webrtc::SetRemoteDescriptionObserverInterface>(observer));
    return future.wait_for(kStep) == std::future_status::ready && future.get();
}

} // namespace

class LoopbackPeers::Observer : public webrtc::PeerConnectionObserver {
public:
    void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override { }
    void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface>) override { }
    void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override { }
    void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override
    {
        std::string sdp;
        candidate->ToString(&sdp);
        {
            std::lock_guard guard(lock);
            pending.push_back({candidate->sdp_mid(), candidate->sdp_mline_index(), sdp});
        }
        flush();
    }
    void OnConnectionChange(webrtc::PeerConnectionInterface::PeerConnectionState state) override
    {
        std::lock_guard guard(lock);
        connected = state == webrtc::PeerConnectionInterface::PeerConnectionState::kConnected;
        failed = state == webrtc::PeerConnectionInterface::PeerConnectionState::kFailed;
        changed.notify_all();
    }

    void release(webrtc::PeerConnectionInterface* target)
    {
        {
            std::lock_guard guard(lock);
            other = target;
        }
        flush();
    }

    struct Candidate {
        std::string mid;
        int index;
        std::string sdp;
    };
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Candidate> pending;
    webrtc::PeerConnectionInterface* other = nullptr;
    bool connected = false;
    bool failed = false;

private:
    // Hands the pending candidates to the other peer outside the lock: AddIceCandidate
    // waits for the signalling thread, which may itself be waiting for this lock in
    // OnConnectionChange.
    void flush()
    {
        std::vector<Candidate> ready;
        webrtc::PeerConnectionInterface* target = nullptr;
        {
            std::lock_guard guard(lock);
            if (!other)
                return;
            target = other;
            ready.swap(pending);
        }
        for (auto& c : ready) {
            webrtc::SdpParseError error;
            std::unique_ptr<webrtc::IceCandidateInterface> parsed(
                webrtc::CreateIceCandidate(c.mid, c.index, c.sdp, &error));
            if (parsed)
                target->AddIceCandidate(std::move(parsed), [](webrtc::RTCError) {});
        }
    }
};

LoopbackPeers::LoopbackPeers(rtc::scoped_refptr<ScreenVideoSource> source, std::string onlyCodec)
    : senderObserver_(std::make_unique<Observer>()), receiverObserver_(std::make_unique<Observer>()),
      source_(std::move(source)), onlyCodec_(std::move(onlyCodec))
{
}

LoopbackPeers::~LoopbackPeers()
{
    if (receivedTrack_)
        receivedTrack_->RemoveSink(&sink_);
    if (sender_)
        sender_->Close();
    if (receiver_)
        receiver_->Close();
    senderObserver_->release(nullptr);
    receiverObserver_->release(nullptr);
    sender_ = nullptr;
    receiver_ = nullptr;
}

bool LoopbackPeers::connect(std::chrono::milliseconds timeout)
{
    auto* factory = makePeerConnectionFactory();
    if (!factory)
        return false;
    webrtc::PeerConnectionInterface::RTCConfiguration config; // no ICE servers: nothing leaves the machine
    config.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;
    auto made = factory->CreatePeerConnectionOrError(config, webrtc::PeerConnectionDependencies(senderObserver_.get()));
    if (!made.ok())
        return false;
    sender_ = made.MoveValue();
    made = factory->CreatePeerConnectionOrError(config, webrtc::PeerConnectionDependencies(receiverObserver_.get()));
    if (!made.ok())
        return false;
    receiver_ = made.MoveValue();

    // The receiving side offers to receive video, our codecs first.
    webrtc::RtpTransceiverInit init;
    init.direction = webrtc::RtpTransceiverDirection::kRecvOnly;
    auto transceiver = receiver_->AddTransceiver(cricket::MEDIA_TYPE_VIDEO, init);
    if (!transceiver.ok())
        return false;
    auto codecs = preferredVideoCodecs();
    if (!onlyCodec_.empty()) {
        std::vector<webrtc::RtpCodecCapability> chosen;
        for (const auto& c : codecs) {
            if (c.name == onlyCodec_)
                chosen.push_back(c);
        }
        codecs = chosen;
    }
    if (!transceiver.value()->SetCodecPreferences(codecs).ok())
        return false;
    auto audioTrack = [&](const char* id) {
        return factory->CreateAudioTrack(id, factory->CreateAudioSource(cricket::AudioOptions()).get());
    };
    if (withAudio && !receiver_->AddTrack(audioTrack("voice-receiver"), {"voice"}).ok())
        return false;
    receivedTrack_ = rtc::scoped_refptr<webrtc::VideoTrackInterface>(
        static_cast<webrtc::VideoTrackInterface*>(transceiver.value()->receiver()->track().release()));
    receivedTrack_->AddOrUpdateSink(&sink_, rtc::VideoSinkWants());

    auto offer = create(receiver_.get(), true);
    if (!offer || !setRemote(sender_.get(), *offer) || !setLocal(receiver_.get(), std::move(offer)))
        return false;
    auto track = factory->CreateVideoTrack("screen0", source_.get());
    if (!sender_->AddTrack(track, {"screen"}).ok())
        return false;
    if (withAudio && !sender_->AddTrack(audioTrack("voice-sender"), {"voice"}).ok())
        return false;
    auto answer = create(sender_.get(), false);
    if (!answer || !setRemote(receiver_.get(), *answer) || !setLocal(sender_.get(), std::move(answer)))
        return false;
    senderObserver_->release(receiver_.get());
    receiverObserver_->release(sender_.get());

    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (Observer* o : {senderObserver_.get(), receiverObserver_.get()}) {
        std::unique_lock guard(o->lock);
        if (!o->changed.wait_until(guard, deadline, [&] { return o->connected || o->failed; }) || o->failed)
            return false;
    }
    return true;
}

namespace {

rtc::scoped_refptr<const webrtc::RTCStatsReport> statsOf(webrtc::PeerConnectionInterface* pc)
{
    auto callback = rtc::make_ref_counted<StatsCallback>();
    auto future = callback->result.get_future();
    pc->GetStats(callback.get());
    if (future.wait_for(kStep) != std::future_status::ready)
        return nullptr;
    return future.get();
}

} // namespace

StreamStats LoopbackPeers::receiverStats()
{
    StreamStats out;
    auto report = statsOf(receiver_.get());
    if (!report)
        return out;
    for (const auto* inbound : report->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
        if (!inbound->kind.is_defined() || *inbound->kind != "video")
            continue;
        out.framesDecoded = inbound->frames_decoded.ValueOrDefault(0);
        out.keyFramesDecoded = inbound->key_frames_decoded.ValueOrDefault(0);
        out.bytesReceived = (long long)inbound->bytes_received.ValueOrDefault(0);
        out.decoder = inbound->decoder_implementation.ValueOrDefault("");
        double emitted = double(inbound->jitter_buffer_emitted_count.ValueOrDefault(0));
        if (emitted > 0) {
            out.jitterBufferMsPerFrame = inbound->jitter_buffer_delay.ValueOrDefault(0) * 1000 / emitted;
            out.jitterTargetMsPerFrame = inbound->jitter_buffer_target_delay.ValueOrDefault(0) * 1000 / emitted;
        }
        if (out.framesDecoded > 0)
            out.decodeMsPerFrame = inbound->total_decode_time.ValueOrDefault(0) * 1000 / double(out.framesDecoded);
        if (inbound->codec_id.is_defined()) {
            if (const auto* codec = report->GetAs<webrtc::RTCCodecStats>(*inbound->codec_id))
                out.codec = codec->mime_type.ValueOrDefault("");
        }
    }
    if (auto sent = statsOf(sender_.get())) {
        for (const auto* outbound : sent->GetStatsOfType<webrtc::RTCOutboundRTPStreamStats>()) {
            if (!outbound->kind.is_defined() || *outbound->kind != "video")
                continue;
            double frames = double(outbound->frames_encoded.ValueOrDefault(0));
            if (frames > 0)
                out.encodeMsPerFrame = outbound->total_encode_time.ValueOrDefault(0) * 1000 / frames;
            out.keyFramesEncoded = outbound->key_frames_encoded.ValueOrDefault(0);
        }
    }
    return out;
}

AudioStats LoopbackPeers::inboundAudio(webrtc::PeerConnectionInterface* side)
{
    AudioStats out;
    auto report = side ? statsOf(side) : nullptr;
    if (!report)
        return out;
    for (const auto* inbound : report->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
        if (!inbound->kind.is_defined() || *inbound->kind != "audio")
            continue;
        out.packetsReceived = inbound->packets_received.ValueOrDefault(0);
        out.bytesReceived = (long long)inbound->bytes_received.ValueOrDefault(0);
        if (inbound->codec_id.is_defined()) {
            if (const auto* codec = report->GetAs<webrtc::RTCCodecStats>(*inbound->codec_id))
                out.codec = codec->mime_type.ValueOrDefault("");
        }
    }
    return out;
}

} // namespace wl::test
