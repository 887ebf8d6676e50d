#include "ScriptedHelper.h"

#include "WaitUntil.h"

#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "TestMediaEngine.h"
#include "media/MediaSettings.h"
#include "media/PeerFactory.h"
#include "platform/Defaults.h"
#include "protocol/Date.h"
#include "protocol/Routes.h"
#include "signalling/IntroductionService.h"
#include "signalling/PeerLink.h"
#include "signalling/WebRTCConfiguration.h"
#include "signalling/WebSocketSignalChannel.h"
#include "identity/Random.h"
#include "platform/linux/QtTimers.h"

#include <api/rtp_transceiver_interface.h>

namespace wl::test {

void FrameCatcher::OnFrame(const webrtc::VideoFrame& frame)
{
    std::lock_guard guard(lock_);
    last_ = frame;
    ++count_;
}

long long FrameCatcher::count() const
{
    std::lock_guard guard(lock_);
    return count_;
}

std::optional<webrtc::VideoFrame> FrameCatcher::last() const
{
    std::lock_guard guard(lock_);
    return last_;
}

ScriptedHelper::ScriptedHelper(std::string name) : name(std::move(name)), key(SigningKey::generate()) { }

ScriptedHelper::~ScriptedHelper()
{
    dropPeer();
    if (channel_) {
        channel_->onClose = nullptr;
        channel_->onMessage = nullptr;
        channel_->close();
    }
}

std::string ScriptedHelper::id() const
{
    return fingerprintOfRaw(key.publicKeyRaw());
}

PairedDevice ScriptedHelper::record(std::optional<UnattendedGrant> grant) const
{
    return PairedDevice{id(), name, key.publicKeyBase64(), dateNow(), std::move(grant), std::nullopt};
}

void ScriptedHelper::connect(const InfoDictionary& info, const std::string& hostId, const std::string& hostPublicKey)
{
    hostId_ = hostId;
    hostPublicKey_ = hostPublicKey;
    received_.clear();
    taken_ = 0;
    open_ = false;
    closed_ = false;
    channel_ = WebSocketSignalChannel::make(IntroductionService::webSocketURL(info, routePath(Route::connect, hostId)),
                                            qtTimerFactory());
    channel_->onOpen = [this] { open_ = true; };
    channel_->onMessage = [this](const SignalMessage& message) { handle(message); };
    channel_->onClose = [this] { closed_ = true; };
    channel_->open();
}

bool ScriptedHelper::connected() const
{
    return open_ && !closed_;
}

bool ScriptedHelper::closed() const
{
    return closed_;
}

void ScriptedHelper::send(const SignalMessage& message)
{
    if (channel_)
        channel_->send(message);
}

void ScriptedHelper::close()
{
    if (channel_) {
        channel_->onClose = nullptr;
        channel_->close();
    }
    closed_ = true;
}

std::optional<SignalMessage> ScriptedHelper::waitFor(SignalMessage::Kind kind, int timeoutMs)
{
    // The next one of that kind after those taken; the check itself takes nothing.
    auto next = [&]() -> std::optional<std::size_t> {
        for (std::size_t i = taken_; i < received_.size(); ++i)
            if (received_[i].kind == kind)
                return i;
        return std::nullopt;
    };
    if (!waitUntil([&] { return next().has_value(); }, timeoutMs))
        return std::nullopt;
    std::size_t index = *next();
    taken_ = index + 1;
    return received_[index];
}

bool ScriptedHelper::waitClosed(int timeoutMs)
{
    return waitUntil([this] { return closed_; }, timeoutMs);
}

void ScriptedHelper::handle(const SignalMessage& message)
{
    received_.push_back(message);
    using Kind = SignalMessage::Kind;
    if (message.kind == Kind::challenge)
        challenge = message;
    if (!peer_)
        return;
    if (message.kind == Kind::answer && message.sdp) {
        answerVerified_ =
            verifySignature(message.signature, answerSignatureMessage(helperNonce, *message.sdp), hostPublicKey_);
        if (answerVerified_)
            peer_->setRemoteDescription(webrtc::SdpType::kAnswer, *message.sdp, [](std::string) {});
    } else if (message.kind == Kind::candidate) {
        if (peer_->addRemoteCandidate(message))
            ++candidatesAdded_;
    }
}

void ScriptedHelper::hello(bool unattended, std::optional<std::string> purpose, std::optional<std::string> requestId,
                           bool withKey, bool withNonce)
{
    helperNonce = base64Encode(randomBytes(16));
    SignalMessage hello = SignalMessage::make(SignalMessage::Kind::hello);
    hello.name = name;
    if (withKey)
        hello.publicKey = key.publicKeyBase64();
    if (withNonce)
        hello.nonce = helperNonce;
    if (unattended)
        hello.unattended = true;
    hello.purpose = std::move(purpose);
    hello.requestId = std::move(requestId);
    send(hello);
}

bool ScriptedHelper::challengeVerifies() const
{
    return challenge && challenge->nonce &&
        verifySignature(challenge->signature, hostProofMessage(hostId_, helperNonce, *challenge->nonce),
                        hostPublicKey_);
}

void ScriptedHelper::prove(std::optional<std::string> pin)
{
    SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
    const std::string hostNonce = challenge && challenge->nonce ? *challenge->nonce : "";
    prove.signature = key.sign(helperProofMessage(hostId_, hostNonce, helperNonce));
    if (pin) {
        auto salt = challenge && challenge->salt ? base64Decode(*challenge->salt) : std::nullopt;
        prove.pinProof = makePINProof(derivePINKey(*pin, salt.value_or("")), hostNonce, helperNonce);
    }
    send(prove);
}

void ScriptedHelper::proveWithWrongSignature()
{
    SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
    prove.signature = SigningKey::generate().sign("wickerlane-helper-proof|nothing");
    send(prove);
}

void ScriptedHelper::startPeer()
{
    PeerLink::Events events;
    events.localCandidate = [this](const SignalMessage& candidate) {
        ++candidatesSent_;
        send(candidate);
    };
    events.connectionState = [this](PeerLink::PeerConnectionState state) {
        if (state == PeerLink::PeerConnectionState::kConnected)
            peerConnected_ = true;
    };
    // Nothing leaves the machine: loopback candidates only, no STUN server.
    MemoryDefaults local;
    local.setStringList(kSTUNServersKey, {});
    auto factory = test::loopbackEngine().sessionFactory(MediaSettings::read(local));
    peer_ = std::make_unique<PeerLink>(factory, makeRTCConfiguration(local, {}), std::move(events),
                                       "Wickerlane: test helper: ");
    webrtc::PeerConnectionInterface* connection = peer_->connection();
    if (!connection)
        return;
    webrtc::RtpTransceiverInit init;
    init.direction = webrtc::RtpTransceiverDirection::kRecvOnly;
    auto transceiver = connection->AddTransceiver(cricket::MEDIA_TYPE_VIDEO, init);
    if (transceiver.ok()) {
        auto codecs = factory->preferredVideoCodecs();
        transceiver.value()->SetCodecPreferences(codecs);
        auto track = transceiver.value()->receiver()->track();
        video_ =
            rtc::scoped_refptr<webrtc::VideoTrackInterface>(static_cast<webrtc::VideoTrackInterface*>(track.get()));
        video_->AddOrUpdateSink(&frames_, rtc::VideoSinkWants());
    }
    connection->AddTrack(
        factory->get()->CreateAudioTrack("voice0", factory->get()->CreateAudioSource(cricket::AudioOptions()).get()),
        {"voice"});
    guide_ = peer_->createDataChannel("guide", true);
    if (guide_) {
        guide_->events.message = [this](const std::string& bytes, bool) {
            if (auto event = SessionEvent::decode(bytes))
                events_.push_back(*event);
        };
    }
    peer_->setLocalDescription([this](std::optional<std::string> sdp, std::string) {
        if (!sdp)
            return;
        SignalMessage offer = SignalMessage::make(SignalMessage::Kind::offer);
        offer.sdp = *sdp;
        const std::string hostNonce = challenge && challenge->nonce ? *challenge->nonce : "";
        offer.signature = key.sign(offerSignatureMessage(hostNonce, *sdp));
        this->offer = offer;
        send(offer);
    });
}

bool ScriptedHelper::peerConnected() const
{
    return peerConnected_;
}

std::vector<SessionEvent> ScriptedHelper::events() const
{
    return events_;
}

void ScriptedHelper::sendEvent(const SessionEvent& event)
{
    if (guide_)
        guide_->send(event.encode(), false);
}

bool ScriptedHelper::guideOpen() const
{
    return guide_ && guide_->isOpen();
}

void ScriptedHelper::dropPeer()
{
    // No frame may reach the catcher once this helper is going.
    if (video_)
        video_->RemoveSink(&frames_);
    video_ = nullptr;
    guide_.reset();
    if (peer_)
        peer_->close();
}

} // namespace wl::test
