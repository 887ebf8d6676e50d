#include "mail/FileLinkPeer.h"

#include "media/PeerConnectionFactory.h"
#include "platform/Log.h"
#include "signalling/CandidateMessage.h"
#include "signalling/WebRTCConfiguration.h"
#include "signalling/SignalTransport.h"

#include <api/data_channel_interface.h>
#include <api/jsep.h>
#include <api/make_ref_counted.h>
#include <api/peer_connection_interface.h>
#include <api/set_local_description_observer_interface.h>
#include <api/set_remote_description_observer_interface.h>

#include <QMetaObject>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <mutex>

namespace wl {

namespace {

// The serving side keeps at most this much queued in the channel (the library closes a
// channel whose queue passes 16 MiB) and refills when it has drained below the low mark.
constexpr std::uint64_t kHighWater = 1024 * 1024;

// How long the serving side waits for the channel to finish closing after the receipt
// before it closes the connection anyway.
constexpr int kCloseGraceMs = 2000;

// The main-thread door for WebRTC's threads. The owner clears itself here before it
// goes away, so a late callback never reaches a dead object.
struct MainHop {
    std::mutex lock;
    FileLinkPeer* owner = nullptr;

    template <typename Fn>
    void post(Fn fn)
    {
        std::lock_guard guard(lock);
        if (!owner)
            return;
        FileLinkPeer* target = owner;
        QMetaObject::invokeMethod(
            target, [target, fn = std::move(fn)]() mutable { fn(*target); }, Qt::QueuedConnection);
    }
};

} // namespace

struct FileLinkPeer::Impl : webrtc::PeerConnectionObserver, webrtc::DataChannelObserver {
    std::shared_ptr<MainHop> hop = std::make_shared<MainHop>();
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> pc;
    rtc::scoped_refptr<webrtc::DataChannelInterface> channel;
    std::mutex channelLock; // the serving side's channel arrives on the signalling thread

    // PeerConnectionObserver (signalling thread).
    void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override { }
    void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override { }

    void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface> incoming) override
    {
        if (!incoming || incoming->label() != kChannelLabel)
            return;
        {
            std::lock_guard guard(channelLock);
            if (channel)
                return; // one channel per link
            channel = incoming;
        }
        // Registered here, on the signalling thread, so that no state change is missed.
        incoming->RegisterObserver(this);
        hop->post([](FileLinkPeer& self) { self.channelOpened(); });
    }

    void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override
    {
        if (!candidate)
            return;
        SignalMessage message = candidateMessage(*candidate);
        hop->post([message = std::move(message)](FileLinkPeer& self) {
            if (!self.finished_ && self.signal_)
                self.signal_->send(message);
        });
    }

    void OnConnectionChange(webrtc::PeerConnectionInterface::PeerConnectionState state) override
    {
        using State = webrtc::PeerConnectionInterface::PeerConnectionState;
        if (state == State::kFailed || state == State::kClosed)
            hop->post([](FileLinkPeer& self) { self.connectionEnded(); });
    }

    // DataChannelObserver (signalling thread).
    void OnStateChange() override
    {
        rtc::scoped_refptr<webrtc::DataChannelInterface> current;
        {
            std::lock_guard guard(channelLock);
            current = channel;
        }
        if (!current)
            return;
        auto state = current->state();
        if (state == webrtc::DataChannelInterface::kOpen)
            hop->post([](FileLinkPeer& self) { self.channelOpened(); });
        else if (state == webrtc::DataChannelInterface::kClosed)
            hop->post([](FileLinkPeer& self) { self.channelClosed(); });
    }

    void OnMessage(const webrtc::DataBuffer& buffer) override
    {
        std::string bytes(reinterpret_cast<const char*>(buffer.data.data()), buffer.data.size());
        if (buffer.binary)
            hop->post([bytes = std::move(bytes)](FileLinkPeer& self) { self.handleBinary(bytes); });
        else
            hop->post([bytes = std::move(bytes)](FileLinkPeer& self) { self.handleText(bytes); });
    }

    void OnBufferedAmountChange(uint64_t) override
    {
        hop->post([](FileLinkPeer& self) { self.pump(); });
    }

    rtc::scoped_refptr<webrtc::DataChannelInterface> currentChannel()
    {
        std::lock_guard guard(channelLock);
        return channel;
    }
};

namespace {

class LocalDescriptionDone : public webrtc::SetLocalDescriptionObserverInterface {
public:
    explicit LocalDescriptionDone(std::function<void(webrtc::RTCError)> done) : done_(std::move(done)) { }
    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { done_(std::move(error)); }

private:
    std::function<void(webrtc::RTCError)> done_;
};

class RemoteDescriptionDone : public webrtc::SetRemoteDescriptionObserverInterface {
public:
    explicit RemoteDescriptionDone(std::function<void(webrtc::RTCError)> done) : done_(std::move(done)) { }
    void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { done_(std::move(error)); }

private:
    std::function<void(webrtc::RTCError)> done_;
};

std::string errorText(const webrtc::RTCError& error)
{
    std::string text = error.message();
    return text.empty() ? std::string(webrtc::ToString(error.type())) : text;
}

} // namespace

FileLinkPeer::FileLinkPeer(Role role, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
                           std::vector<TransferredFile> files, QObject* parent)
    : QObject(parent), role_(role), signal_(std::move(signal)), files_(std::move(files)),
      impl_(std::make_unique<Impl>())
{
    impl_->hop->owner = this;
    webrtc::PeerConnectionFactoryInterface* factory = makePeerConnectionFactory();
    if (!factory) {
        Log::line("Wickerlane: file link: no peer-connection factory");
        return;
    }
    webrtc::PeerConnectionDependencies dependencies(impl_.get());
    auto result = factory->CreatePeerConnectionOrError(makeRTCConfiguration(relays), std::move(dependencies));
    if (!result.ok()) {
        Log::line("Wickerlane: file link: could not create the peer connection: " + errorText(result.error()));
        return;
    }
    impl_->pc = result.MoveValue();
}

FileLinkPeer::~FileLinkPeer()
{
    {
        std::lock_guard guard(impl_->hop->lock);
        impl_->hop->owner = nullptr;
    }
    finished_ = true;
    teardown();
}

webrtc::PeerConnectionInterface* FileLinkPeer::peerConnection() const
{
    return impl_->pc.get();
}

void FileLinkPeer::start()
{
    if (role_ != Role::collect || finished_)
        return;
    if (!impl_->pc) {
        endSoon();
        return;
    }
    if (impl_->currentChannel())
        return; // started already

    webrtc::DataChannelInit init;
    init.ordered = true;
    auto created = impl_->pc->CreateDataChannelOrError(kChannelLabel, &init);
    if (!created.ok()) {
        Log::line("Wickerlane: file link: could not create the channel: " + errorText(created.error()));
        endSoon();
        return;
    }
    {
        std::lock_guard guard(impl_->channelLock);
        impl_->channel = created.MoveValue();
    }
    impl_->channel->RegisterObserver(impl_.get());

    auto hop = impl_->hop;
    impl_->pc->SetLocalDescription(rtc::make_ref_counted<LocalDescriptionDone>([hop](webrtc::RTCError error) {
        hop->post([error = std::move(error)](FileLinkPeer& self) {
            if (self.finished_)
                return;
            if (!error.ok()) {
                Log::line("Wickerlane: could not create file offer: " + errorText(error));
                self.end();
                return;
            }
            std::string sdp;
            const webrtc::SessionDescriptionInterface* local = self.impl_->pc->local_description();
            if (!local || !local->ToString(&sdp)) {
                Log::line("Wickerlane: could not create file offer: no local description");
                self.end();
                return;
            }
            SignalMessage offer = SignalMessage::make(SignalMessage::Kind::offer);
            offer.sdp = sdp;
            if (self.signOffer)
                offer.signature = self.signOffer(sdp);
            if (self.signal_)
                self.signal_->send(offer);
        });
    }));
}

void FileLinkPeer::applyOffer(const SignalMessage& offer)
{
    if (role_ != Role::serve || finished_)
        return;
    if (!impl_->pc) {
        endSoon();
        return;
    }
    if (!offer.sdp) {
        Log::line("Wickerlane: file link: an offer without SDP");
        return;
    }
    webrtc::SdpParseError parseError;
    auto description = webrtc::CreateSessionDescription(webrtc::SdpType::kOffer, *offer.sdp, &parseError);
    if (!description) {
        Log::line("Wickerlane: could not apply file offer: " + parseError.description);
        end();
        return;
    }
    auto hop = impl_->hop;
    impl_->pc->SetRemoteDescription(
        std::move(description), rtc::make_ref_counted<RemoteDescriptionDone>([hop](webrtc::RTCError error) {
            hop->post([hop, error = std::move(error)](FileLinkPeer& self) {
                if (self.finished_)
                    return;
                if (!error.ok()) {
                    Log::line("Wickerlane: could not apply file offer: " + errorText(error));
                    self.end();
                    return;
                }
                self.remoteSet_ = true;
                self.flushCandidates();
                self.impl_->pc->SetLocalDescription(
                    rtc::make_ref_counted<LocalDescriptionDone>([hop](webrtc::RTCError answerError) {
                        hop->post([answerError = std::move(answerError)](FileLinkPeer& peer) {
                            if (peer.finished_)
                                return;
                            std::string sdp;
                            const webrtc::SessionDescriptionInterface* local =
                                answerError.ok() ? peer.impl_->pc->local_description() : nullptr;
                            if (!local || !local->ToString(&sdp)) {
                                Log::line(
                                    "Wickerlane: could not create file answer: " +
                                    (answerError.ok() ? std::string("no local description") : errorText(answerError)));
                                peer.end();
                                return;
                            }
                            SignalMessage answer = SignalMessage::make(SignalMessage::Kind::answer);
                            answer.sdp = sdp;
                            if (peer.signAnswer)
                                answer.signature = peer.signAnswer(sdp);
                            if (peer.signal_)
                                peer.signal_->send(answer);
                        });
                    }));
            });
        }));
}

void FileLinkPeer::applyAnswer(const SignalMessage& answer)
{
    if (role_ != Role::collect || finished_ || !impl_->pc)
        return;
    if (!answer.sdp) {
        Log::line("Wickerlane: could not apply file answer: no SDP");
        return;
    }
    webrtc::SdpParseError parseError;
    auto description = webrtc::CreateSessionDescription(webrtc::SdpType::kAnswer, *answer.sdp, &parseError);
    if (!description) {
        Log::line("Wickerlane: could not apply file answer: " + parseError.description);
        return;
    }
    auto hop = impl_->hop;
    impl_->pc->SetRemoteDescription(
        std::move(description), rtc::make_ref_counted<RemoteDescriptionDone>([hop](webrtc::RTCError error) {
            hop->post([error = std::move(error)](FileLinkPeer& self) {
                if (self.finished_)
                    return;
                if (!error.ok()) {
                    Log::line("Wickerlane: could not apply file answer: " + errorText(error));
                    return;
                }
                self.remoteSet_ = true;
                self.flushCandidates();
            });
        }));
}

void FileLinkPeer::addRemoteCandidate(const SignalMessage& candidate)
{
    if (finished_ || !impl_->pc || !candidate.sdp)
        return;
    if (!remoteSet_) {
        pendingCandidates_.push_back(candidate);
        return;
    }
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> parsed(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(""), candidate.sdpMLineIndex.value_or(0), *candidate.sdp, &parseError));
    if (!parsed) {
        Log::line("Wickerlane: file link: ignored a malformed candidate: " + parseError.description);
        return;
    }
    impl_->pc->AddIceCandidate(std::move(parsed), [](webrtc::RTCError error) {
        if (!error.ok())
            Log::line("Wickerlane: file link: could not add a candidate: " + errorText(error));
    });
}

void FileLinkPeer::flushCandidates()
{
    std::vector<SignalMessage> waiting;
    waiting.swap(pendingCandidates_);
    for (const SignalMessage& candidate : waiting)
        addRemoteCandidate(candidate);
}

void FileLinkPeer::close()
{
    if (finished_)
        return;
    finished_ = true;
    onReceived = nullptr;
    onEnded = nullptr;
    teardown();
}

void FileLinkPeer::channelOpened()
{
    if (finished_ || role_ != Role::serve || sending_)
        return;
    auto channel = impl_->currentChannel();
    if (!channel || channel->state() != webrtc::DataChannelInterface::kOpen)
        return;
    if (files_.size() > kMaxFiles) {
        fail("too many files to serve (" + std::to_string(files_.size()) + ")");
        return;
    }
    for (const TransferredFile& file : files_) {
        if (file.data.size() > kMaxFileSize) {
            fail("a file too large to serve (" + std::to_string(file.data.size()) + " bytes)");
            return;
        }
    }
    sending_ = true;
    pump();
}

void FileLinkPeer::pump()
{
    if (finished_ || !sending_ || sentDone_)
        return;
    auto channel = impl_->currentChannel();
    if (!channel)
        return;
    while (!sentDone_ && channel->buffered_amount() < kHighWater) {
        if (sendFile_ >= files_.size()) {
            sendText(nlohmann::json{{"kind", "done"}, {"count", files_.size()}}.dump());
            sentDone_ = true;
            break;
        }
        const TransferredFile& file = files_[sendFile_];
        if (!headerSent_) {
            sendText(nlohmann::json{
                {"kind", "file"}, {"id", file.id}, {"name", file.name}, {"type", file.type}, {"size", file.data.size()}}
                         .dump());
            headerSent_ = true;
            sendOffset_ = 0;
        }
        if (sendOffset_ < file.data.size()) {
            std::size_t length = std::min(kChunkSize, file.data.size() - sendOffset_);
            rtc::CopyOnWriteBuffer chunk(file.data.data() + sendOffset_, length);
            if (!channel->Send(webrtc::DataBuffer(chunk, true))) {
                fail("could not send a chunk");
                return;
            }
            sendOffset_ += length;
        }
        if (sendOffset_ >= file.data.size()) {
            ++sendFile_;
            headerSent_ = false;
        }
    }
}

void FileLinkPeer::sendText(const std::string& text)
{
    auto channel = impl_->currentChannel();
    if (channel && !channel->Send(webrtc::DataBuffer(text)))
        Log::line("Wickerlane: file link: could not send a header");
}

void FileLinkPeer::handleText(const std::string& text)
{
    if (finished_)
        return;
    nlohmann::json header = nlohmann::json::parse(text, nullptr, false);
    if (header.is_discarded() || !header.is_object() || !header.contains("kind") || !header["kind"].is_string()) {
        if (role_ == Role::collect)
            fail("an unreadable header");
        return;
    }
    const std::string kind = header["kind"].get<std::string>();

    if (role_ == Role::serve) {
        if (kind == "received" && sentDone_) {
            // The collector has everything: close the channel, then the connection.
            auto channel = impl_->currentChannel();
            if (channel)
                channel->Close();
            QTimer::singleShot(kCloseGraceMs, this, [this] { end(); });
        }
        return;
    }

    if (gotDone_)
        return; // nothing more is expected after the closing header
    if (kind == "file") {
        if (inFile_) {
            fail("a new file before the previous one was complete");
            return;
        }
        if (received_.size() >= kMaxFiles) {
            fail("more than " + std::to_string(kMaxFiles) + " files");
            return;
        }
        const auto isText = [&](const char* key) { return header.contains(key) && header[key].is_string(); };
        if (!isText("id") || !isText("name") || !isText("type") || !header.contains("size") ||
            !header["size"].is_number_unsigned()) {
            fail("a malformed file header");
            return;
        }
        auto size = header["size"].get<std::uint64_t>();
        if (size > kMaxFileSize) {
            fail("a file of " + std::to_string(size) + " bytes, over the limit");
            return;
        }
        TransferredFile file;
        file.id = header["id"].get<std::string>();
        file.name = header["name"].get<std::string>();
        file.type = header["type"].get<std::string>();
        file.data.reserve(size);
        received_.push_back(std::move(file));
        expectedSize_ = size;
        inFile_ = size > 0;
        return;
    }
    if (kind == "done") {
        if (inFile_) {
            fail("the transfer ended inside a file");
            return;
        }
        if (!header.contains("count") || !header["count"].is_number_unsigned() ||
            header["count"].get<std::uint64_t>() != received_.size()) {
            fail("a closing count that does not match the files received");
            return;
        }
        gotDone_ = true;
        sendText(nlohmann::json{{"kind", "received"}, {"count", received_.size()}}.dump());
        if (!delivered_) {
            delivered_ = true;
            auto deliver = std::move(onReceived);
            onReceived = nullptr;
            if (deliver)
                deliver(received_);
        }
        return;
    }
    // Other kinds are not part of this link; they change nothing.
}

void FileLinkPeer::handleBinary(const std::string& bytes)
{
    if (finished_ || role_ != Role::collect || gotDone_)
        return;
    if (!inFile_) {
        fail("bytes outside a file");
        return;
    }
    TransferredFile& file = received_.back();
    if (bytes.size() > expectedSize_ - file.data.size()) {
        fail("more bytes than the header announced");
        return;
    }
    file.data += bytes;
    if (file.data.size() == expectedSize_)
        inFile_ = false;
}

void FileLinkPeer::channelClosed()
{
    if (!finished_)
        end();
}

void FileLinkPeer::connectionEnded()
{
    if (!finished_)
        end();
}

void FileLinkPeer::fail(const std::string& why)
{
    if (finished_)
        return;
    Log::line("Wickerlane: file link failed: " + why);
    end();
}

void FileLinkPeer::endSoon()
{
    QMetaObject::invokeMethod(
        this, [this] { end(); }, Qt::QueuedConnection);
}

void FileLinkPeer::end()
{
    if (finished_)
        return;
    finished_ = true;
    onReceived = nullptr;
    teardown();
    auto ended = std::move(onEnded);
    onEnded = nullptr;
    if (ended)
        ended();
}

void FileLinkPeer::teardown()
{
    rtc::scoped_refptr<webrtc::DataChannelInterface> channel;
    {
        std::lock_guard guard(impl_->channelLock);
        channel = std::move(impl_->channel);
        impl_->channel = nullptr;
    }
    if (channel) {
        channel->UnregisterObserver();
        channel->Close();
    }
    if (impl_->pc) {
        impl_->pc->Close();
        impl_->pc = nullptr;
    }
    pendingCandidates_.clear();
}

} // namespace wl
