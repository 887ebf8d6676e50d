#include "signalling/PeerLink.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "signalling/CandidateMessage.h"

#include <api/make_ref_counted.h>
#include <api/set_local_description_observer_interface.h>
#include <api/set_remote_description_observer_interface.h>
#include <api/stats/rtc_stats_collector_callback.h>

namespace wl {

namespace {

std::string errorText(const webrtc::RTCError& error)
{
    std::string text = error.message();
    return text.empty() ? std::string(webrtc::ToString(error.type())) : text;
}

std::unique_ptr<webrtc::SessionDescriptionInterface> parseDescription(webrtc::SdpType type, const std::string& sdp,
                                                                      std::string& error)
{
    webrtc::SdpParseError parseError;
    auto description = webrtc::CreateSessionDescription(type, sdp, &parseError);
    if (!description)
        error = parseError.description.empty() ? "unreadable SDP" : parseError.description;
    return description;
}

class DescriptionMade : public webrtc::CreateSessionDescriptionObserver {
public:
    using Done = std::function<void(std::unique_ptr<webrtc::SessionDescriptionInterface>, std::string error)>;
    explicit DescriptionMade(Done done) : done_(std::move(done)) { }
    void OnSuccess(webrtc::SessionDescriptionInterface* description) override
    {
        done_(std::unique_ptr<webrtc::SessionDescriptionInterface>(description), {});
    }
    void OnFailure(webrtc::RTCError error) override { done_(nullptr, errorText(error)); }

private:
    Done done_;
};

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

class StatsDone : public webrtc::RTCStatsCollectorCallback {
public:
    explicit StatsDone(std::function<void(const rtc::scoped_refptr<const webrtc::RTCStatsReport>&)> done)
        : done_(std::move(done))
    {
    }
    void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override { done_(report); }

private:
    std::function<void(const rtc::scoped_refptr<const webrtc::RTCStatsReport>&)> done_;
};

} // namespace

SignalMessage descriptionMessage(SignalMessage::Kind kind, const std::string& sdp,
                                 const std::function<std::optional<std::string>(const std::string&)>& sign)
{
    SignalMessage message = SignalMessage::make(kind);
    message.sdp = sdp;
    if (sign)
        message.signature = sign(sdp);
    return message;
}

Dispatch mainThreadDispatch()
{
    // Without an application object there is no event loop left: the process is ending.
    return [](std::function<void()> work) { postToMainThread(std::move(work)); };
}

Dispatch immediateDispatch()
{
    return [](std::function<void()> work) { work(); };
}

namespace detail {

void PeerGate::post(std::function<void()> work)
{
    if (!isOpen())
        return;
    // Checked again where it runs: the owner may have shut the gate meanwhile.
    std::weak_ptr<PeerGate> self = weak_from_this();
    auto run = [self, work = std::move(work)] {
        auto gate = self.lock();
        if (gate && gate->isOpen())
            work();
    };
    if (parent)
        parent->post(std::move(run));
    else if (dispatch)
        dispatch(std::move(run));
}

void PeerGate::shut()
{
    std::lock_guard guard(lock);
    open = false;
}

bool PeerGate::isOpen()
{
    std::lock_guard guard(lock);
    return open;
}

} // namespace detail

// ---- DataChannelLink ----

struct DataChannelLink::Observer : webrtc::DataChannelObserver {
    // The link is reached only through the gates; both live on the owner's thread.
    DataChannelLink* link = nullptr;
    std::shared_ptr<detail::PeerGate> gate;
    rtc::scoped_refptr<webrtc::DataChannelInterface> channel;

    void OnStateChange() override
    {
        auto state = channel->state();
        auto* target = link;
        gate->post([target, state] {
            if (auto handler = target->events.state)
                handler(state);
        });
    }

    void OnMessage(const webrtc::DataBuffer& buffer) override
    {
        std::string bytes(reinterpret_cast<const char*>(buffer.data.data()), buffer.data.size());
        bool binary = buffer.binary;
        auto* target = link;
        gate->post([target, bytes = std::move(bytes), binary] {
            if (auto handler = target->events.message)
                handler(bytes, binary);
        });
    }

    void OnBufferedAmountChange(uint64_t previous) override
    {
        auto* target = link;
        gate->post([target, previous] {
            if (auto handler = target->events.bufferedAmount)
                handler(previous);
        });
    }
};

DataChannelLink::DataChannelLink(rtc::scoped_refptr<webrtc::DataChannelInterface> channel,
                                 std::shared_ptr<detail::PeerGate> peerGate)
    : channel_(std::move(channel)), gate_(std::make_shared<detail::PeerGate>(nullptr, std::move(peerGate))),
      observer_(std::make_unique<Observer>())
{
    observer_->link = this;
    observer_->gate = gate_;
    observer_->channel = channel_;
    channel_->RegisterObserver(observer_.get());
}

DataChannelLink::~DataChannelLink()
{
    close();
}

std::string DataChannelLink::label() const
{
    return channel_ ? channel_->label() : std::string();
}

webrtc::DataChannelInterface::DataState DataChannelLink::state() const
{
    return channel_ ? channel_->state() : webrtc::DataChannelInterface::kClosed;
}

uint64_t DataChannelLink::bufferedAmount() const
{
    return channel_ ? channel_->buffered_amount() : 0;
}

bool DataChannelLink::send(const std::string& bytes, bool binary)
{
    if (!channel_ || channel_->state() != webrtc::DataChannelInterface::kOpen)
        return false;
    return channel_->Send(webrtc::DataBuffer(rtc::CopyOnWriteBuffer(bytes.data(), bytes.size()), binary));
}

void DataChannelLink::requestClose()
{
    if (channel_)
        channel_->Close();
}

void DataChannelLink::close()
{
    gate_->shut();
    if (!channel_)
        return;
    auto channel = std::move(channel_);
    channel_ = nullptr;
    channel->UnregisterObserver();
    channel->Close();
}

// ---- PeerLink ----

struct PeerLink::Observer : webrtc::PeerConnectionObserver {
    PeerLink* link = nullptr;
    std::shared_ptr<detail::PeerGate> gate;

    void OnSignalingChange(webrtc::PeerConnectionInterface::SignalingState) override { }
    void OnIceGatheringChange(webrtc::PeerConnectionInterface::IceGatheringState) override { }

    void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override
    {
        if (!candidate)
            return;
        SignalMessage message = candidateMessage(*candidate);
        auto* target = link;
        gate->post([target, message = std::move(message)] {
            if (auto handler = target->events_.localCandidate)
                handler(message);
        });
    }

    void OnIceCandidateError(const std::string&, int, const std::string& url, int code,
                             const std::string& text) override
    {
        auto* target = link;
        gate->post([target, url, code, text] {
            if (auto handler = target->events_.candidateError)
                handler(url, code, text);
        });
    }

    void OnIceConnectionChange(IceConnectionState state) override
    {
        auto* target = link;
        gate->post([target, state] {
            if (auto handler = target->events_.iceConnectionState)
                handler(state);
        });
    }

    void OnConnectionChange(PeerConnectionState state) override
    {
        auto* target = link;
        gate->post([target, state] {
            if (auto handler = target->events_.connectionState)
                handler(state);
        });
    }

    void OnDataChannel(rtc::scoped_refptr<webrtc::DataChannelInterface> incoming) override
    {
        if (!incoming || !gate->isOpen())
            return;
        // Registered here, on the signalling thread, so that no state change or message
        // of the new channel is missed; its events queue up behind this one.
        std::shared_ptr<DataChannelLink> channel(new DataChannelLink(incoming, gate));
        auto* target = link;
        gate->post([target, channel] {
            target->channels_.push_back(channel);
            if (auto handler = target->events_.dataChannel)
                handler(channel);
        });
    }

    void OnTrack(rtc::scoped_refptr<webrtc::RtpTransceiverInterface> transceiver) override
    {
        auto* target = link;
        gate->post([target, transceiver] {
            if (auto handler = target->events_.track)
                handler(transceiver);
        });
    }
};

PeerLink::PeerLink(std::shared_ptr<PeerFactory> factory,
                   const webrtc::PeerConnectionInterface::RTCConfiguration& configuration, Events events,
                   std::string logPrefix, Dispatch dispatch)
    : logPrefix_(std::move(logPrefix)), gate_(std::make_shared<detail::PeerGate>(std::move(dispatch))),
      events_(std::move(events)), observer_(std::make_unique<Observer>()), factory_(std::move(factory))
{
    observer_->link = this;
    observer_->gate = gate_;
    if (!factory_) {
        Log::line(logPrefix_ + "no peer-connection factory");
        return;
    }
    auto made = factory_->get()->CreatePeerConnectionOrError(configuration,
                                                             webrtc::PeerConnectionDependencies(observer_.get()));
    if (!made.ok()) {
        Log::line(logPrefix_ + "could not create the peer connection: " + errorText(made.error()));
        return;
    }
    connection_ = made.MoveValue();
}

PeerLink::~PeerLink()
{
    close();
}

void PeerLink::close()
{
    gate_->shut();
    if (closed_)
        return;
    closed_ = true;
    pendingCandidates_.clear();
    for (auto& weak : channels_)
        if (auto channel = weak.lock())
            channel->close();
    channels_.clear();
    if (connection_) {
        // Once Close() returns the connection no longer calls the observer.
        connection_->Close();
        connection_ = nullptr;
    }
}

void PeerLink::setRemoteDescription(webrtc::SdpType type, const std::string& sdp, std::function<void(std::string)> done)
{
    if (closed_ || !connection_)
        return;
    std::string error;
    auto description = parseDescription(type, sdp, error);
    if (!description) {
        gate_->post([done = std::move(done), error] { done ? done(error) : void(); });
        return;
    }
    auto gate = gate_;
    PeerLink* self = this;
    connection_->SetRemoteDescription(
        std::move(description),
        rtc::make_ref_counted<RemoteDescriptionDone>([gate, self, done = std::move(done)](webrtc::RTCError error) {
            std::string text = error.ok() ? std::string() : errorText(error);
            gate->post([self, done, text] {
                if (text.empty()) {
                    self->remoteSet_ = true;
                    self->flushCandidates();
                }
                if (done)
                    done(text);
            });
        }));
}

void PeerLink::setLocalDescription(LocalDone done, DescriptionRewrite rewrite)
{
    if (closed_ || !connection_)
        return;
    auto gate = gate_;
    PeerLink* self = this;
    if (!rewrite) {
        // WebRTC makes the description itself.
        connection_->SetLocalDescription(
            rtc::make_ref_counted<LocalDescriptionDone>([gate, self, done = std::move(done)](webrtc::RTCError error) {
                std::string text = error.ok() ? std::string() : errorText(error);
                gate->post([self, done, text] {
                    std::string sdp;
                    const webrtc::SessionDescriptionInterface* local =
                        text.empty() && self->connection_ ? self->connection_->local_description() : nullptr;
                    if (!local || !local->ToString(&sdp)) {
                        if (done)
                            done(std::nullopt, text.empty() ? std::string("no local description") : text);
                        return;
                    }
                    if (done)
                        done(sdp, std::string());
                });
            }));
        return;
    }

    // Made here, rewritten and set on the owner's thread.
    using State = webrtc::PeerConnectionInterface::SignalingState;
    const State state = connection_->signaling_state();
    if (state != State::kStable && state != State::kHaveRemoteOffer) {
        gate_->post([done = std::move(done)] {
            if (done)
                done(std::nullopt, "no offer or answer to make in this signalling state");
        });
        return;
    }
    const webrtc::SdpType type = state == State::kStable ? webrtc::SdpType::kOffer : webrtc::SdpType::kAnswer;
    auto made = rtc::make_ref_counted<DescriptionMade>(
        [gate, self, type, done, rewrite = std::move(rewrite)](
            std::unique_ptr<webrtc::SessionDescriptionInterface> description, std::string error) {
            std::string sdp;
            if (description && !description->ToString(&sdp))
                error = "unreadable description";
            gate->post([self, type, done, rewrite, sdp, error, ok = description != nullptr] {
                if (!ok || !error.empty()) {
                    if (done)
                        done(std::nullopt, error.empty() ? std::string("no description") : error);
                    return;
                }
                self->setRewrittenLocalDescription(type, rewrite(sdp), done);
            });
        });
    if (type == webrtc::SdpType::kOffer)
        connection_->CreateOffer(made.get(), webrtc::PeerConnectionInterface::RTCOfferAnswerOptions());
    else
        connection_->CreateAnswer(made.get(), webrtc::PeerConnectionInterface::RTCOfferAnswerOptions());
}

void PeerLink::setRewrittenLocalDescription(webrtc::SdpType type, const std::string& sdp, LocalDone done)
{
    if (closed_ || !connection_)
        return;
    std::string error;
    auto description = parseDescription(type, sdp, error);
    if (!description) {
        gate_->post([done = std::move(done), error] { done ? done(std::nullopt, error) : void(); });
        return;
    }
    auto gate = gate_;
    connection_->SetLocalDescription(
        std::move(description),
        rtc::make_ref_counted<LocalDescriptionDone>([gate, sdp, done = std::move(done)](webrtc::RTCError error) {
            std::string text = error.ok() ? std::string() : errorText(error);
            gate->post([done, sdp, text] {
                if (!done)
                    return;
                if (text.empty())
                    done(sdp, std::string());
                else
                    done(std::nullopt, text);
            });
        }));
}

bool PeerLink::addRemoteCandidate(const SignalMessage& candidate)
{
    if (candidate.kind != SignalMessage::Kind::candidate || !candidate.sdp)
        return false;
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> parsed(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(""), candidate.sdpMLineIndex.value_or(0), *candidate.sdp, &parseError));
    if (!parsed)
        return false;
    if (closed_ || !connection_)
        return true;
    if (!remoteSet_) {
        pendingCandidates_.push_back(candidate);
        return true;
    }
    addCandidateNow(candidate);
    return true;
}

void PeerLink::addCandidateNow(const SignalMessage& candidate)
{
    webrtc::SdpParseError parseError;
    std::unique_ptr<webrtc::IceCandidateInterface> parsed(webrtc::CreateIceCandidate(
        candidate.sdpMid.value_or(""), candidate.sdpMLineIndex.value_or(0), *candidate.sdp, &parseError));
    if (!parsed || !connection_)
        return;
    std::string prefix = logPrefix_;
    connection_->AddIceCandidate(std::move(parsed), [prefix](webrtc::RTCError error) {
        if (!error.ok())
            Log::line(prefix + "could not add candidate: " + errorText(error));
    });
}

void PeerLink::flushCandidates()
{
    std::vector<SignalMessage> waiting;
    waiting.swap(pendingCandidates_);
    for (const SignalMessage& candidate : waiting)
        addCandidateNow(candidate);
}

std::shared_ptr<DataChannelLink> PeerLink::createDataChannel(const std::string& label, bool ordered)
{
    if (closed_ || !connection_)
        return nullptr;
    webrtc::DataChannelInit init;
    init.ordered = ordered;
    auto created = connection_->CreateDataChannelOrError(label, &init);
    if (!created.ok()) {
        Log::line(logPrefix_ + "could not create the channel \"" + label + "\": " + errorText(created.error()));
        return nullptr;
    }
    std::shared_ptr<DataChannelLink> channel(new DataChannelLink(created.MoveValue(), gate_));
    channels_.push_back(channel);
    return channel;
}

void PeerLink::getStats(std::function<void(rtc::scoped_refptr<const webrtc::RTCStatsReport>)> done)
{
    if (closed_ || !connection_)
        return;
    auto gate = gate_;
    connection_->GetStats(
        rtc::make_ref_counted<StatsDone>([gate, done = std::move(done)](
                                             const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) {
            gate->post([done, report] {
                if (done)
                    done(report);
            });
        }).get());
}

} // namespace wl
