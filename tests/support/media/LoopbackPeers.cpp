#include "LoopbackPeers.h"

#include "signalling/PeerLink.h"

#include <api/jsep.h>
#include <api/task_queue/default_task_queue_factory.h>
#include <api/rtp_transceiver_interface.h>
#include <api/stats/rtc_stats_collector_callback.h>
#include <modules/audio_device/include/test_audio_device.h>
#include <rtc_base/time_utils.h>

#include <future>
#include <thread>
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

constexpr auto kStep = std::chrono::seconds(10);

// Waits for a completion that the link reports on WebRTC's thread.
template <typename T>
std::optional<T> await(std::future<T>& future)
{
    if (future.wait_for(kStep) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

std::optional<std::string> localDescription(PeerLink& link)
{
    std::promise<std::optional<std::string>> done;
    auto future = done.get_future();
    link.setLocalDescription([&done](std::optional<std::string> sdp, std::string) { done.set_value(sdp); });
    return await(future).value_or(std::nullopt);
}

bool remoteDescription(PeerLink& link, webrtc::SdpType type, const std::string& sdp)
{
    std::promise<bool> done;
    auto future = done.get_future();
    link.setRemoteDescription(type, sdp, [&done](std::string error) { done.set_value(error.empty()); });
    return await(future).value_or(false);
}

} // namespace

MediaEngine& noisyEngine()
{
    static auto* engine = [] {
        static auto queues = webrtc::CreateDefaultTaskQueueFactory();
        MediaEngine::Options options;
        options.loopbackOnly = true;
        options.module = std::make_shared<AudioModuleChoice>(AudioModuleChoice{webrtc::TestAudioDeviceModule::Create(
            queues.get(), webrtc::TestAudioDeviceModule::CreatePulsedNoiseCapturer(8000, 48000),
            webrtc::TestAudioDeviceModule::CreateDiscardRenderer(48000))});
        return new MediaEngine(std::move(options));
    }();
    return *engine;
}

// One side's connection state, as its link reports it on WebRTC's thread.
struct LoopbackPeers::Side {
    std::mutex lock;
    std::condition_variable changed;
    bool connected = false;
    bool failed = false;
    std::shared_ptr<DataChannelLink> channel; // one the other side opened
    std::unique_ptr<PeerLink> link;

    void make(std::shared_ptr<PeerFactory> factory, const webrtc::PeerConnectionInterface::RTCConfiguration& config,
              Side& other)
    {
        PeerLink::Events events;
        // Candidates go straight to the other side, which holds them until its remote
        // description is set.
        events.localCandidate = [&other](const SignalMessage& candidate) {
            if (other.link)
                other.link->addRemoteCandidate(candidate);
        };
        events.connectionState = [this](PeerLink::PeerConnectionState state) {
            std::lock_guard guard(lock);
            connected = state == PeerLink::PeerConnectionState::kConnected;
            failed = state == PeerLink::PeerConnectionState::kFailed;
            changed.notify_all();
        };
        events.dataChannel = [this](std::shared_ptr<DataChannelLink> opened) {
            std::lock_guard guard(lock);
            channel = std::move(opened);
            changed.notify_all();
        };
        link = std::make_unique<PeerLink>(std::move(factory), config, std::move(events),
                                          "Wickerlane: test peer: ", immediateDispatch());
    }

    bool waitConnected(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock guard(lock);
        return changed.wait_until(guard, deadline, [&] { return connected || failed; }) && !failed;
    }

    bool waitChannel(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock guard(lock);
        return changed.wait_until(guard, deadline, [&] { return channel != nullptr; });
    }
};

LoopbackPeers::LoopbackPeers(MediaEngine& engine, rtc::scoped_refptr<ScreenVideoSource> source,
                             std::shared_ptr<VideoFeedback> feedback, std::string onlyCodec, MediaSettings media)
    : sender_(std::make_unique<Side>()), receiver_(std::make_unique<Side>()), source_(std::move(source)),
      onlyCodec_(std::move(onlyCodec)), media_(media), engine_(engine), feedback_(std::move(feedback))
{
}

LoopbackPeers::~LoopbackPeers()
{
    if (receivedTrack_)
        receivedTrack_->RemoveSink(&sink_);
    // Shut both before either goes: each hands candidates to the other.
    if (sender_->link)
        sender_->link->close();
    if (receiver_->link)
        receiver_->link->close();
}

std::shared_ptr<DataChannelLink> LoopbackPeers::senderChannel()
{
    std::lock_guard guard(sender_->lock);
    return sender_->channel;
}

webrtc::PeerConnectionInterface* LoopbackPeers::sender()
{
    return sender_->link ? sender_->link->connection() : nullptr;
}

webrtc::PeerConnectionInterface* LoopbackPeers::receiver()
{
    return receiver_->link ? receiver_->link->connection() : nullptr;
}

bool LoopbackPeers::connect(std::chrono::milliseconds timeout)
{
    senderFactory_ = engine_.sessionFactory(media_, feedback_);
    receiverFactory_ = engine_.sessionFactory(media_);
    if (!senderFactory_ || !receiverFactory_)
        return false;
    webrtc::PeerConnectionInterface::RTCConfiguration config; // no ICE servers: nothing leaves the machine
    config.sdp_semantics = webrtc::SdpSemantics::kUnifiedPlan;
    sender_->make(senderFactory_, config, *receiver_);
    receiver_->make(receiverFactory_, config, *sender_);
    if (!sender() || !receiver())
        return false;

    // The receiving side offers to receive video, our codecs first.
    webrtc::RtpTransceiverInit init;
    init.direction = webrtc::RtpTransceiverDirection::kRecvOnly;
    auto transceiver = receiver()->AddTransceiver(cricket::MEDIA_TYPE_VIDEO, init);
    if (!transceiver.ok())
        return false;
    auto codecs = receiverFactory_->preferredVideoCodecs();
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
    auto audioTrack = [&](PeerFactory& factory, const char* id) {
        return factory->CreateAudioTrack(id, factory->CreateAudioSource(cricket::AudioOptions()).get());
    };
    if (withAudio && !receiver()->AddTrack(audioTrack(*receiverFactory_, "voice-receiver"), {"voice"}).ok())
        return false;
    // The receiver's track, held by its own reference (no extra one left behind).
    auto receivedTrack = transceiver.value()->receiver()->track();
    receivedTrack_ =
        rtc::scoped_refptr<webrtc::VideoTrackInterface>(static_cast<webrtc::VideoTrackInterface*>(receivedTrack.get()));
    receivedTrack_->AddOrUpdateSink(&sink_, rtc::VideoSinkWants());

    if (withDataChannel) {
        receiverChannel_ = receiver_->link->createDataChannel("guide", true);
        if (!receiverChannel_)
            return false;
    }

    auto offer = localDescription(*receiver_->link);
    if (!offer || !remoteDescription(*sender_->link, webrtc::SdpType::kOffer, *offer))
        return false;
    auto track = (*senderFactory_)->CreateVideoTrack("screen0", source_.get());
    if (!sender()->AddTrack(track, {"screen"}).ok())
        return false;
    if (withAudio && !sender()->AddTrack(audioTrack(*senderFactory_, "voice-sender"), {"voice"}).ok())
        return false;
    auto answer = localDescription(*sender_->link);
    if (!answer || !remoteDescription(*receiver_->link, webrtc::SdpType::kAnswer, *answer))
        return false;

    auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!sender_->waitConnected(deadline) || !receiver_->waitConnected(deadline))
        return false;
    if (!withDataChannel)
        return true;
    if (!sender_->waitChannel(deadline))
        return false;
    while (!receiverChannel_->isOpen() || !senderChannel()->isOpen()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {

class StatsCallback : public webrtc::RTCStatsCollectorCallback {
public:
    std::promise<rtc::scoped_refptr<const webrtc::RTCStatsReport>> result;
    void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override
    {
        result.set_value(report);
    }
};

rtc::scoped_refptr<const webrtc::RTCStatsReport> statsOf(webrtc::PeerConnectionInterface* pc)
{
    auto callback = rtc::make_ref_counted<StatsCallback>();
    auto future = callback->result.get_future();
    pc->GetStats(callback.get());
    return await(future).value_or(nullptr);
}

} // namespace

StreamStats LoopbackPeers::receiverStats()
{
    StreamStats out;
    auto report = statsOf(receiver());
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
    if (auto sent = statsOf(sender())) {
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
