// The host's side of the signed handshake: the hello and its checks, the
// challenge, the helper's proof, consent or unattended admission, the picture fetch,
// and the offer.
#include "host/HostHandshake.h"

#include "platform/Required.h"

#include "host/HelpRequestCenter.h"
#include "host/HostPeer.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "host/SessionHistory.h"
#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "identity/Random.h"
#include "mail/AppServices.h"
#include "mail/FileLinkPeer.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Prompts.h"
#include "platform/SystemServices.h"
#include "signalling/RelayLink.h"
#include "signalling/RelaySessionTransport.h"

#include <QPointer>
#include <QTimer>

namespace wl {

namespace {

// The session's transport over the relay link, reporting each message it sends.
class ObservedSessionTransport final : public SignalTransport {
public:
    ObservedSessionTransport(RelayLink* link, std::optional<std::uint64_t> channel,
                             std::function<void(const SignalMessage&)> sent)
        : inner_(link, channel), sent_(std::move(sent))
    {
    }
    void send(const SignalMessage& message) override
    {
        inner_.send(message);
        if (sent_)
            sent_(message);
    }
    void close() override { inner_.close(); }

private:
    RelaySessionTransport inner_;
    std::function<void(const SignalMessage&)> sent_;
};

SignalMessage declined(const std::string& reason)
{
    SignalMessage message = SignalMessage::make(SignalMessage::Kind::declined);
    message.reason = reason;
    return message;
}

// The service binds each helper's link to the relay link under a channel of its own
// and tags every frame with it; 0 stands for an untagged frame.
std::optional<std::uint64_t> tagOf(std::uint64_t channel)
{
    return channel ? std::optional<std::uint64_t>(channel) : std::nullopt;
}

} // namespace

std::string wireWord(SessionEnd reason)
{
    switch (reason) {
    case SessionEnd::stopped: return "stopped";
    case SessionEnd::helperLeft: return "helperLeft";
    case SessionEnd::connectionLost: return "connectionLost";
    case SessionEnd::accessRemoved: return "accessRemoved";
    }
    return "stopped";
}

HostHandshake::HostHandshake(Parts parts, Options options, QObject* parent)
    : QObject(parent), parts_(parts), options_(std::move(options))
{
    assertMainThread("HostHandshake::HostHandshake");
    required(options_.prompts, "HostHandshake", "prompts");
    required(options_.defaults, "HostHandshake", "a settings store");
    options_.timers = requiredTimers(std::move(options_.timers), "HostHandshake");
}

HostHandshake::~HostHandshake()
{
    handshakeTimer_.reset();
    if (filePeer_) {
        filePeer_->onEnded = nullptr;
        filePeer_->close();
    }
}

Prompts& HostHandshake::prompts() const
{
    return *options_.prompts;
}

void HostHandshake::end(SessionEnd reason)
{
    assertMainThread("HostHandshake::end");
    if (onEnd)
        onEnd(reason);
}

void HostHandshake::relayClosed()
{
    assertMainThread("HostHandshake::relayClosed");
    connectors_.clear();
    attemptChannel_.reset();
}

void HostHandshake::finish(SessionEnd reason)
{
    assertMainThread("HostHandshake::finish");
    if (auto file = std::move(filePeer_)) {
        file->onEnded = nullptr;
        file->close();
        // The link may be ending from inside its own callback: let it go later.
        file.release()->deleteLater();
    }
    if (auto transport = std::move(transport_)) {
        transport_.reset();
        transport->onClose = nullptr;
        SignalMessage bye = SignalMessage::make(SignalMessage::Kind::bye);
        bye.reason = wireWord(reason);
        transport->send(bye);
        transport->close();
    }
    attempt_.reset();
    attemptChannel_.reset();
    handshakeTimer_.reset();
    relays_.clear();
    fileOfferApplied_ = false;
}

void HostHandshake::sendOnRelay(const SignalMessage& message, std::optional<std::uint64_t> channel)
{
    auto link = parts_.relay.channel;
    if (!link)
        return;
    SignalMessage tagged = message;
    tagged.channel = channel;
    link->send(tagged);
    if (auto observer = onSignalSent)
        observer(tagged, Route::relayChannel);
}

void HostHandshake::sendOnSession(const SignalMessage& message)
{
    if (auto transport = transport_)
        transport->send(message);
}

void HostHandshake::decline(const std::string& reason, Route route, std::optional<std::uint64_t> channel)
{
    if (route == Route::relayChannel)
        sendOnRelay(declined(reason), channel);
    else
        sendOnSession(declined(reason));
}

bool HostHandshake::fromAttempt(std::uint64_t channel) const
{
    return transport_ && attemptChannel_ == channel;
}

void HostHandshake::handleSignal(const SignalMessage& message)
{
    assertMainThread("HostHandshake::handleSignal");
    using Kind = SignalMessage::Kind;
    const std::uint64_t from = message.channel.value_or(0);
    switch (message.kind) {
    case Kind::hello: handleHello(message); return;
    case Kind::prove: handleProof(message); return;
    case Kind::bye: connectorLeft(from); return;
    case Kind::iceServers: {
        auto servers = message.iceServers.value_or(std::vector<ICEServer>{});
        if (fromAttempt(from)) {
            if (!parts_.session.peer())
                relays_ = std::move(servers);
        } else if (connectors_.count(from) || connectors_.size() < kMaxConnectors) {
            connectors_[from].relays = std::move(servers);
        }
        return;
    }
    case Kind::offer:
    case Kind::candidate: break;
    case Kind::challenge:
    case Kind::accepted:
    case Kind::declined:
    case Kind::answer:
    case Kind::pairRequest:
    case Kind::pairInfo:
    case Kind::proven: return;
    }
    // Offers and candidates belong to the attempt: only its own helper's link speaks for it.
    // Once that link has closed, whoever connects next is someone else.
    if (!fromAttempt(from))
        return;
    if (message.kind == Kind::offer) {
        handleOffer(message);
        return;
    }
    if (HostPeer* peer = parts_.session.peer())
        peer->addRemoteCandidate(message);
    if (filePeer_)
        filePeer_->addRemoteCandidate(message);
}

void HostHandshake::connectorLeft(std::uint64_t channel)
{
    // One that never got in: forget it.
    if (connectors_.erase(channel) || !fromAttempt(channel))
        return;
    attemptChannel_.reset();
    if (parts_.session.peer() &&
        (parts_.session.peer()->connectionState() == HostPeer::ConnectionState::connected ||
         parts_.session.peer()->connectionState() == HostPeer::ConnectionState::completed)) {
        Log::line("Wickerlane: the helper's link to the introduction service closed; the session carries on "
                  "directly");
        return;
    }
    // A picture fetch whose link stands needs no signalling any more: the pictures
    // keep coming, and the link's own end ends the attempt.
    if (filePeer_ && filePeer_->hasConnected() && !filePeer_->isFinished()) {
        Log::line("Wickerlane: the helper's link to the introduction service closed; the pictures keep coming "
                  "directly");
        return;
    }
    end(SessionEnd::helperLeft);
}

void HostHandshake::handleHello(const SignalMessage& message)
{
    const std::uint64_t from = message.channel.value_or(0);
    const auto reply = tagOf(from);
    // Every refusal at the hello sends that link away (the service closes it after it).
    auto refuse = [&](const std::string& reason) {
        connectors_.erase(from);
        decline(reason, Route::relayChannel, reply);
    };
    // 1. Busy: before the helper is even looked up.
    if (transport_ || (parts_.services.isHelping && parts_.services.isHelping())) {
        const bool ownHelper = fromAttempt(from);
        refuse("busy");
        // The helper in the attempt said hello again: the refusal takes its link away, and
        // with it the attempt, unless the session already stands on its own.
        if (ownHelper)
            connectorLeft(from);
        return;
    }
    // A channel holds one open challenge at most: a hello again on it gets no new signature.
    if (auto open = connectors_.find(from); open != connectors_.end() && open->second.challenged)
        return;
    // 2. Paired.
    std::optional<PairedDevice> helper;
    if (message.publicKey && message.nonce)
        helper = parts_.helpers.findByKey(*message.publicKey);
    if (!helper) {
        refuse("notPaired");
        return;
    }
    const bool wantsUnattended = message.unattended.value_or(false);
    std::optional<std::vector<TransferredFile>> attachments;
    // 3. A picture fetch skips the remaining checks.
    if (message.purpose == std::optional<std::string>("attachments")) {
        attachments = parts_.helpRequests.attachmentsForRequest(helper->id, message.requestId);
        if (!attachments) {
            refuse("noAttachments");
            return;
        }
    } else {
        // 4. Screen Recording, before the unattended checks.
        if (!options_.permissions->canRecordScreen()) {
            refuse("noScreenRecording");
            if (onNoScreenRecording)
                onNoScreenRecording();
            return;
        }
        // 5. Unattended access.
        if (wantsUnattended) {
            if (!helper->unattended) {
                refuse("notUnattended");
                return;
            }
            if (helper->unattended->failedAttempts >= PairedHelpers::kMaxWrongPINs) {
                refuse("lockedOut");
                return;
            }
        }
    }

    // 6. The challenge. Nothing is held for the helper until they prove who they are, so
    // that links which never do can't keep anyone else out.
    HelperAttempt handshake;
    handshake.helper = *helper;
    handshake.helperNonce = *message.nonce;
    handshake.hostNonce = base64Encode(randomBytes(16));
    handshake.unattended = !attachments && wantsUnattended;
    handshake.attachments = attachments;
    if (!connectors_.count(from) && connectors_.size() >= kMaxConnectors)
        connectors_.erase(connectors_.begin());
    Connector& connector = connectors_[from];
    connector.challenged = handshake;
    QPointer<HostHandshake> self(this);
    connector.expiry = timers()(kProofTimeLimit, [self, from, nonce = handshake.hostNonce] {
        if (self)
            self->proofTimedOut(from, nonce);
    });

    SignalMessage challenge = SignalMessage::make(SignalMessage::Kind::challenge);
    challenge.nonce = handshake.hostNonce;
    challenge.signature = parts_.identity->signAsDevice(
        hostProofMessage(parts_.identity->deviceId(), handshake.helperNonce, handshake.hostNonce));
    if (handshake.unattended && helper->unattended && helper->unattended->pinSalt)
        challenge.salt = helper->unattended->pinSalt;
    sendOnRelay(challenge, reply);
}

void HostHandshake::proofTimedOut(std::uint64_t channel, const std::string& hostNonce)
{
    assertMainThread("HostHandshake::proofTimedOut");
    auto it = connectors_.find(channel);
    if (it == connectors_.end() || !it->second.challenged || it->second.challenged->hostNonce != hostNonce)
        return;
    connectors_.erase(it);
    Log::line("Wickerlane: a helper didn't answer the challenge in time; letting their link go");
    SignalMessage bye = SignalMessage::make(SignalMessage::Kind::bye);
    bye.reason = wireWord(SessionEnd::stopped);
    sendOnRelay(bye, tagOf(channel));
}

void HostHandshake::forgetChallenges(const std::string& helperId, SessionEnd reason)
{
    assertMainThread("HostHandshake::forgetChallenges");
    SignalMessage bye = SignalMessage::make(SignalMessage::Kind::bye);
    bye.reason = wireWord(reason);
    for (auto it = connectors_.begin(); it != connectors_.end();) {
        if (it->second.challenged && it->second.challenged->helper.id == helperId) {
            sendOnRelay(bye, tagOf(it->first));
            it = connectors_.erase(it);
        } else {
            ++it;
        }
    }
}

void HostHandshake::armHandshakeTimer()
{
    QPointer<HostHandshake> self(this);
    handshakeTimer_ = timers()(kHandshakeTimeLimit, [self] {
        if (self)
            self->handshakeTimeCheck();
    });
}

bool HostHandshake::connected() const
{
    return (parts_.session.peer() && parts_.session.peer()->hasConnected()) || (filePeer_ && filePeer_->hasConnected());
}

void HostHandshake::handshakeTimeCheck()
{
    assertMainThread("HostHandshake::handshakeTimeCheck");
    handshakeTimer_.reset();
    if (!transport_ || connected())
        return;
    if (askingConsent_ || parts_.session.askingTakeOver()) {
        // The user is still deciding; look again once the question has had its time.
        armHandshakeTimer();
        return;
    }
    Log::line("Wickerlane: the helper's connection didn't come up in time; ending the attempt");
    end(SessionEnd::stopped);
}

void HostHandshake::handleProof(const SignalMessage& message)
{
    const std::uint64_t from = message.channel.value_or(0);
    auto it = connectors_.find(from);
    if (it == connectors_.end() || !it->second.challenged)
        return;
    HelperAttempt handshake = *it->second.challenged;
    std::vector<ICEServer> relays = std::move(it->second.relays);
    connectors_.erase(it);
    // The helper as paired now (removed meanwhile: not at all).
    auto paired = parts_.helpers.find(handshake.helper.id);
    if (!paired) {
        decline("notPaired", Route::relayChannel, tagOf(from));
        return;
    }
    handshake.helper = *paired;
    // Another helper got in first (or this Mac began helping someone meanwhile).
    if (transport_ || (parts_.services.isHelping && parts_.services.isHelping())) {
        decline("busy", Route::relayChannel, tagOf(from));
        return;
    }

    // The attempt begins: this helper's link is the only one that speaks for it.
    attempt_ = handshake;
    attemptChannel_ = from;
    relays_ = std::move(relays);
    QPointer<HostHandshake> self(this);
    transport_ =
        std::make_shared<ObservedSessionTransport>(&parts_.relay, tagOf(from), [self](const SignalMessage& sent) {
            if (self && self->onSignalSent)
                self->onSignalSent(sent, Route::sessionTransport);
        });
    fileOfferApplied_ = false;
    armHandshakeTimer();

    const std::string proof =
        helperProofMessage(parts_.identity->deviceId(), handshake.hostNonce, handshake.helperNonce);
    if (!verifySignature(message.signature, proof, handshake.helper.publicKey)) {
        Log::line("Wickerlane: helper's proof didn't verify; ending");
        decline("notVerified", Route::sessionTransport);
        end(SessionEnd::stopped);
        return;
    }
    // From now on the service never sends this helper away to make room for others.
    if (from)
        sendOnRelay(SignalMessage::make(SignalMessage::Kind::proven), from);
    if (handshake.attachments) {
        sendRequestPictures(*handshake.attachments, handshake);
        return;
    }
    if (handshake.unattended) {
        admitUnattended(handshake, message.pinProof);
        return;
    }
    // The question is modal: ask it once this message has been handled.
    const std::string name = handshake.helper.name;
    QTimer::singleShot(0, this, [self, name, handshake] {
        if (self)
            self->askConsent(name, handshake);
    });
}

void HostHandshake::admitUnattended(const HelperAttempt& handshake, const std::optional<std::string>& pinProof)
{
    auto paired = parts_.helpers.find(handshake.helper.id);
    if (!paired || !paired->unattended || paired->unattended->failedAttempts > 4) {
        decline("notUnattended", Route::sessionTransport);
        end(SessionEnd::stopped);
        return;
    }
    PairedDevice helper = *paired;
    UnattendedGrant grant = *helper.unattended;
    const std::string name = helper.name;

    // A PIN key that is there must be checked; one that does not decode can't be, and
    // counts as a wrong PIN (it never lets anyone in without one).
    bool passed = true;
    if (grant.pinKey) {
        auto key = base64Decode(*grant.pinKey);
        passed = key && checkPINProof(pinProof, *key, handshake.hostNonce, handshake.helperNonce);
    }

    if (passed) {
        if (grant.failedAttempts > 0) {
            grant.failedAttempts = 0;
            helper.unattended = grant;
            parts_.helpers.update(helper);
        }
        appendSessionHistory(name + " connected without asking (unattended access)");
        parts_.session.start(name, HelpMode::control, handshake, transport_, relays_);
        return;
    }

    const int before = grant.failedAttempts;
    grant.failedAttempts = before + 1;
    helper.unattended = grant;
    // Counted and saved before the refusal goes out: a lost link or a restart keeps it.
    parts_.helpers.update(helper);
    if (before == PairedHelpers::kMaxWrongPINs - 1) {
        appendSessionHistory("Unattended access for " + name + " LOCKED after 5 wrong PINs");
        decline("lockedOut", Route::sessionTransport);
    } else {
        appendSessionHistory("Wrong PIN from " + name + " (" + std::to_string(grant.failedAttempts) + " of 5)");
        decline("wrongPin", Route::sessionTransport);
    }
    end(SessionEnd::stopped);
}

AlertRequest HostHandshake::consentAlert(const std::string& fullName)
{
    const std::string first = PairedHelpers::firstWord(fullName);
    AlertRequest alert;
    alert.title = first + " wants to help with your Mac";
    alert.informativeText = "Show me: " + first + " sees your screen and points to things. You do the clicking.\n" +
        "Take over: " + first + " uses your mouse and keyboard. Move your mouse any time to take it back.\n\n" +
        "Only allow this if you asked " + first + " for help or are expecting them.";
    alert.buttons = {"Let " + first + " show me", "Let " + first + " take over", "Not now"};
    alert.checkbox = "Start with my microphone on, so we can talk";
    alert.floating = true;
    return alert;
}

void HostHandshake::askConsent(const std::string& fullName, const HelperAttempt& handshake)
{
    assertMainThread("HostHandshake::askConsent");
    if (parts_.session.peer() || filePeer_ || askingConsent_ || parts_.session.askingTakeOver())
        return;
    // The attempt may have ended while this waited its turn.
    if (!attempt_ || attempt_->helper.id != handshake.helper.id || attempt_->helperNonce != handshake.helperNonce)
        return;
    askingConsent_ = true;
    QPointer<HostHandshake> self(this);
    AlertAnswer answer = prompts().alertWithCheckbox(consentAlert(fullName));
    if (!self)
        return;
    askingConsent_ = false;

    // The answer belongs to the attempt it was asked for: the same helper and the same
    // helper nonce. Anything else (the attempt ended, another began) drops it.
    if (!attempt_ || attempt_->helper.id != handshake.helper.id || attempt_->helperNonce != handshake.helperNonce ||
        parts_.session.peer() || filePeer_)
        return;
    if (answer.button != 0 && answer.button != 1) {
        decline("notNow", Route::sessionTransport);
        end(SessionEnd::stopped);
        return;
    }
    const HelpMode mode = answer.button == 0 ? HelpMode::guide : HelpMode::control;
    appendSessionHistory(fullName + (mode == HelpMode::guide ? " was allowed to guide" : " was allowed to take over"));
    parts_.session.start(fullName, mode, *attempt_, transport_, relays_);
    if (answer.checked && parts_.session.peer())
        parts_.session.turnMicrophoneOn();
}

void HostHandshake::sendRequestPictures(const std::vector<TransferredFile>& pictures, const HelperAttempt& handshake)
{
    if (!transport_)
        return;
    filePeer_ = std::make_unique<FileLinkPeer>(parts_.engine, FileLinkPeer::Role::serve, transport_, relays_,
                                               *options_.defaults, timers(), pictures);
    QPointer<HostHandshake> self(this);
    filePeer_->signAnswer = [self, handshake,
                             identity = parts_.identity](const std::string& sdp) -> std::optional<std::string> {
        return self ? signAnswer(sdp, handshake, *identity) : std::nullopt;
    };
    filePeer_->onEnded = [self] {
        if (!self)
            return;
        // The link may be ending from inside its own callback: end on the next turn.
        QTimer::singleShot(0, self, [self] {
            if (self && self->filePeer_ && self->filePeer_->isFinished())
                self->end(SessionEnd::stopped);
        });
    };
    // Logged when the helper has confirmed it has them all, not when the link starts.
    const std::string name = handshake.helper.name;
    filePeer_->onDelivered = [name](std::size_t count) {
        appendSessionHistory("Sent " + std::to_string(count) + " request picture" + (count == 1 ? "" : "s") + " to " +
                             name);
    };
    sendOnSession(SignalMessage::make(SignalMessage::Kind::accepted));
}

void HostHandshake::handleOffer(const SignalMessage& message)
{
    if (filePeer_ && attempt_ && message.sdp) {
        // One offer per link: a second one is no renegotiation, and is dropped unread.
        if (fileOfferApplied_)
            return;
        if (!verifySignature(message.signature, offerSignatureMessage(attempt_->hostNonce, *message.sdp),
                             attempt_->helper.publicKey)) {
            end(SessionEnd::stopped);
            return;
        }
        fileOfferApplied_ = true;
        filePeer_->applyOffer(message);
        return;
    }
    HostPeer* peer = parts_.session.peer();
    if (!attempt_ || !peer || !message.sdp)
        return;
    // A second offer would add the tracks, the capture and the statistics again: it is
    // dropped unread, so it can't end the session either.
    if (peer->offerApplied())
        return;
    if (!verifySignature(message.signature, offerSignatureMessage(attempt_->hostNonce, *message.sdp),
                         attempt_->helper.publicKey)) {
        Log::line("Wickerlane: offer signature didn't verify; ending");
        end(SessionEnd::stopped);
        return;
    }
    peer->applyOffer(message);
}

std::optional<std::string> signAnswer(const std::string& sdp, const HelperAttempt& handshake, DeviceIdentity& identity)
{
    return identity.signAsDevice(answerSignatureMessage(handshake.helperNonce, sdp));
}

} // namespace wl
