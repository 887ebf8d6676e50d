#include "signalling/PeerLink.h"

#include "media/PeerConnectionFactory.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "signalling/CandidateMessage.h"

#include <api/make_ref_counted.h>
#include <api/set_local_description_observer_interface.h>
#include <api/set_remote_description_observer_interface.h>
#include <api/stats/rtc_stats_collector_callback.h>

#include <QCoreApplication>
#include <QMetaObject>

namespace wl {

namespace {

std::string errorText(const webrtc::RTCError& error)
{
    std::string text = error.message();
    return text.empty() ? std::string(webrtc::ToString(error.type())) : text;
}

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

PeerLink::PeerLink(const webrtc::PeerConnectionInterface::RTCConfiguration& configuration, Events events,
                   std::string logPrefix, Dispatch dispatch)
    : logPrefix_(std::move(logPrefix)), gate_(std::make_shared<detail::PeerGate>(std::move(dispatch))),
      events_(std::move(events)), observer_(std::make_unique<Observer>())
{
    observer_->link = this;
    observer_->gate = gate_;
    webrtc::PeerConnectionFactoryInterface* factory = makePeerConnectionFactory();
    if (!factory) {
        Log::line(logPrefix_ + "no peer-connection factory");
        return;
    }
    auto made =
        factory->CreatePeerConnectionOrError(configuration, webrtc::PeerConnectionDependencies(observer_.get()));
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
    webrtc::SdpParseError parseError;
    auto description = webrtc::CreateSessionDescription(type, sdp, &parseError);
    if (!description) {
        std::string error = parseError.description.empty() ? "unreadable SDP" : parseError.description;
        gate_->post([done = std::move(done), error] {
            if (done)
                done(error);
        });
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

void PeerLink::setLocalDescription(std::function<void(std::optional<std::string>, std::string)> done)
{
    if (closed_ || !connection_)
        return;
    auto gate = gate_;
    PeerLink* self = this;
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
