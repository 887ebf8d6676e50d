// The helper's session: connecting and the signed handshake (attended, or
// unattended with the owner check and the host's PIN), the running session (the host's
// events, the status line, sound and microphone) and every end of it.
#include "viewer/ViewerSession.h"

#include "platform/Required.h"

#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "identity/Random.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/PairingClient.h"
#include "media/MediaEngine.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OwnerCheck.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "protocol/Date.h"
#include "protocol/Routes.h"
#include "signalling/ICEDiagnostics.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"
#include "viewer/AttachmentFetcher.h"
#include "viewer/PairedHosts.h"
#include "viewer/RequestAnswers.h"
#include "viewer/SampleBufferRenderer.h"
#include "viewer/ViewerPeer.h"

#include <QPointer>

namespace wl {

namespace {

const char* kDot = " \u00b7 ";

std::string stateWord(ViewerPeer::ConnectionState state)
{
    using S = ViewerPeer::ConnectionState;
    switch (state) {
    case S::fresh: return "Starting";
    case S::checking: return "Connecting";
    case S::connected:
    case S::completed: return "Connected";
    case S::failed: return "Connection failed";
    case S::disconnected: return "Reconnecting";
    case S::closed: return "Closed";
    }
    return "Unknown";
}

} // namespace

ViewerSession::ViewerSession(Parts parts, Options options, QObject* parent)
    : QObject(parent), parts_(parts), options_(std::move(options))
{
    assertMainThread("ViewerSession::ViewerSession");
    required(options_.ownerCheck, "ViewerSession", "an owner check");
    required(options_.prompts, "ViewerSession", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "ViewerSession");
    Defaults& defaults = *required(options_.defaults, "ViewerSession", "a settings store");
    IntroductionService::requiredBaseURL(options_.info, "ViewerSession");
    // A stored Boolean false turns the sound off; anything else leaves it on.
    soundOn_ = !defaults.contains(kSoundOnKey) || !defaults.number(kSoundOnKey) || defaults.boolValue(kSoundOnKey);
    QPointer<ViewerSession> self(this);
    microphoneWatcher_ = parts_.engine.addMicrophoneWatcher(MediaEngine::AudioRole::helping, [self] {
        if (self)
            self->microphoneFollowed();
    });
}

ViewerSession::~ViewerSession()
{
    parts_.engine.removeMicrophoneWatcher(MediaEngine::AudioRole::helping, microphoneWatcher_);
    statsTimer_.reset();
    noticeTimers_.clear();
    if (peer_)
        peer_->close();
    if (transport_) {
        transport_->onClose = nullptr;
        transport_->onMessage = nullptr;
        transport_->close();
    }
}

Prompts& ViewerSession::prompts() const
{
    return *options_.prompts;
}

OwnerCheck& ViewerSession::ownerCheck() const
{
    return *options_.ownerCheck;
}

bool ViewerSession::isHelping() const
{
    return phase_.kind == Phase::Kind::waiting || phase_.kind == Phase::Kind::connected;
}

void ViewerSession::setPhase(Phase phase)
{
    phase_ = std::move(phase);
    Q_EMIT changed();
}

void ViewerSession::send(const SignalMessage& message)
{
    if (!transport_)
        return;
    if (onSignalSent)
        onSignalSent(message);
    transport_->send(message);
}

// ---- the handshake ----

void ViewerSession::connect(const PairedDevice& device, bool unattended)
{
    assertMainThread("ViewerSession::connect");
    if (parts_.services.isBeingHelped && parts_.services.isBeingHelped()) {
        setPhase(Phase::message("Someone is helping on this Mac right now. Try again when that session has ended."));
        return;
    }
    // An earlier attempt's link and peer go first, without reporting back.
    if (transport_) {
        auto earlier = std::move(transport_);
        earlier->onClose = nullptr;
        earlier->onMessage = nullptr;
        earlier->close();
    }
    if (auto earlier = std::move(peer_))
        earlier->close();
    statsTimer_.reset();

    parts_.engine.setAudioRole(MediaEngine::AudioRole::helping);

    Handshake handshake;
    handshake.device = device;
    handshake.helperNonce = base64Encode(randomBytes(16));
    handshake.unattended = unattended;
    handshake_ = handshake;
    wasAccepted_ = false;

    std::shared_ptr<SignalTransport> transport;
    if (options_.makeTransport) {
        transport = options_.makeTransport(device.id);
    } else {
        auto channel = WebSocketSignalChannel::make(
            IntroductionService::webSocketURL(*options_.info, routePath(Route::connect, device.id)), timers());
        transport = channel;
    }
    QPointer<ViewerSession> self(this);
    transport->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handleSignal(message);
    };
    std::weak_ptr<SignalTransport> closing = transport;
    transport->onClose = [self, device, closing] {
        if (!self)
            return;
        auto closed = closing.lock();
        self->transportClosed(device, closed ? closed->closeCode() : 0);
    };
    transport_ = transport;
    if (auto* channel = dynamic_cast<WebSocketSignalChannel*>(transport.get()))
        channel->open();

    SignalMessage hello = AttachmentFetcher::helperHello(handshake.helperNonce, *parts_.identity);
    if (unattended)
        hello.unattended = true;
    send(hello);
    setPhase(Phase::waiting(device.name));
}

void ViewerSession::handleSignal(const SignalMessage& message)
{
    assertMainThread("ViewerSession::handleSignal");
    if (!handshake_)
        return;
    const std::string name = handshake_->device.name;
    using Kind = SignalMessage::Kind;
    switch (message.kind) {
    case Kind::challenge: handleChallenge(message); break;
    case Kind::iceServers: handshake_->relays = message.iceServers.value_or(std::vector<ICEServer>{}); break;
    case Kind::accepted: handleAccepted(); break;
    case Kind::answer: {
        const std::string failed = name + "'s connection details couldn't be verified, so the session was stopped.";
        if (!message.sdp) {
            teardown(failed);
            return;
        }
        if (!verifySignature(message.signature, answerSignatureMessage(handshake_->helperNonce, *message.sdp),
                             handshake_->device.publicKey)) {
            teardown(failed);
            return;
        }
        if (peer_)
            peer_->applyAnswer(*message.sdp);
        break;
    }
    case Kind::candidate:
        if (peer_)
            peer_->addRemoteCandidate(message);
        break;
    case Kind::declined: {
        // A refusal says the host doesn't (or no longer) admit this helper unattended
        // only for these reasons; a busy host or a wrong PIN says nothing about that.
        const std::string reason = message.reason.value_or("");
        if (handshake_->unattended && (reason == "notUnattended" || reason == "lockedOut" || reason == "notPaired") &&
            parts_.hosts.knownUnattended().count(handshake_->device.id)) {
            auto ids = parts_.hosts.knownUnattended();
            ids.erase(handshake_->device.id);
            parts_.hosts.setKnownUnattended(std::move(ids));
        }
        teardown(declineMessage(message.reason, name));
        break;
    }
    case Kind::bye:
        if (!wasAccepted_)
            teardown(name + " said not now.");
        else
            teardown(endMessage(message.reason, name));
        break;
    default: break;
    }
}

void ViewerSession::handleChallenge(const SignalMessage& message)
{
    const Handshake handshake = *handshake_;
    const std::string failed = "Couldn't confirm this is really " + handshake.device.name + ". Nothing was shared.";
    if (!message.nonce) {
        teardown(failed);
        return;
    }
    if (!verifySignature(message.signature,
                         hostProofMessage(handshake.device.id, handshake.helperNonce, *message.nonce),
                         handshake.device.publicKey)) {
        teardown(failed);
        return;
    }
    handshake_->hostNonce = *message.nonce;
    const std::string proofText = helperProofMessage(handshake.device.id, *message.nonce, handshake.helperNonce);
    if (!handshake.unattended) {
        if (transport_) {
            SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
            prove.signature = parts_.identity->signAsDevice(proofText);
            send(prove);
        }
        return;
    }
    QPointer<ViewerSession> self(this);
    const std::string helperNonce = handshake.helperNonce;
    const std::optional<std::string> salt = message.salt;
    const std::string hostNonce = *message.nonce;
    ownerCheck().check("connect to " + handshake.device.name + " without anyone there",
                       [self, helperNonce, salt, hostNonce, proofText](bool confirmed) {
                           if (self)
                               self->proveUnattended(confirmed, helperNonce, salt, hostNonce, proofText);
                       });
}

void ViewerSession::proveUnattended(bool confirmed, const std::string& helperNonce,
                                    const std::optional<std::string>& salt, const std::string& hostNonce,
                                    const std::string& proofText)
{
    assertMainThread("ViewerSession::proveUnattended");
    // The attempt may have ended or been replaced while the owner was asked.
    if (!handshake_ || handshake_->helperNonce != helperNonce)
        return;
    if (!confirmed) {
        end();
        return;
    }
    std::optional<std::string> pinProof;
    std::optional<std::string> saltBytes = salt ? base64Decode(*salt) : std::nullopt;
    if (saltBytes) {
        QPointer<ViewerSession> self(this);
        auto pin = askPIN(handshake_->device.name);
        if (!self)
            return;
        if (!handshake_ || handshake_->helperNonce != helperNonce)
            return;
        if (!pin) {
            end();
            return;
        }
        pinProof = makePINProof(derivePINKey(*pin, *saltBytes), hostNonce, helperNonce);
    }
    if (!transport_)
        return;
    SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
    prove.signature = parts_.identity->signAsDevice(proofText);
    prove.pinProof = pinProof;
    send(prove);
}

std::optional<std::string> ViewerSession::askPIN(const std::string& name)
{
    TextRequest request;
    request.title = "PIN for " + shownName(name);
    request.informativeText = "Enter the PIN set on " + shownName(name) + " for unattended access.";
    request.confirmTitle = "Connect";
    request.cancelTitle = "Cancel";
    request.secure = true;
    return prompts().askForText(request);
}

void ViewerSession::handleAccepted()
{
    if (!transport_ || !handshake_ || !handshake_->hostNonce)
        return;
    wasAccepted_ = true;
    const Handshake handshake = *handshake_;
    if (handshake.unattended && !parts_.hosts.knownUnattended().count(handshake.device.id)) {
        auto ids = parts_.hosts.knownUnattended();
        ids.insert(handshake.device.id);
        parts_.hosts.setKnownUnattended(std::move(ids));
    }
    for (const auto& request : parts_.messenger.openHelpRequests(parts_.answers.resolvedRequests(), dateNow())) {
        if (request.peerId != handshake.device.id)
            continue;
        auto ids = parts_.answers.resolvedRequests();
        ids.insert(request.id);
        parts_.answers.setResolvedRequests(std::move(ids));
    }
    if (options_.makesPeers) {
        auto peer = ViewerPeer::make(parts_.engine, transport_, handshake.relays, options_.timers, *options_.defaults);
        const std::string hostNonce = *handshake.hostNonce;
        peer->signOffer = [hostNonce, identity = parts_.identity](const std::string& sdp) {
            return identity->signAsDevice(offerSignatureMessage(hostNonce, sdp));
        };
        QPointer<ViewerSession> self(this);
        std::weak_ptr<ViewerPeer> weakPeer = peer;
        peer->onEnded = [self, weakPeer] {
            if (self && weakPeer.lock())
                self->connectionLost();
        };
        peer->onEvent = [self](const SessionEvent& event) {
            if (self)
                self->handleEvent(event);
        };
        if (auto earlier = std::move(peer_))
            earlier->close();
        peer_ = peer;
    }
    setPhase(Phase::connected(handshake.device.name));
    if (peer_) {
        peer_->start();
        if (!peer_)
            return; // the peer gave up at once and the session ended
        peer_->setRemoteAudioEnabled(soundOn_);
    }
    startStatsTimer();
}

std::string ViewerSession::declineMessage(const std::optional<std::string>& reason, const std::string& name)
{
    const std::string word = reason.value_or("");
    if (word == "notPaired")
        return name + " doesn't recognize this Mac anymore. Pair again with a new code.";
    if (word == "noScreenRecording")
        return "Wickerlane on " + name +
            " has lost its Screen Recording permission, so there's nothing to show. Someone at " + name +
            " needs to turn it back on in System Settings \u2192 Privacy & Security \u2192 Screen & System Audio "
            "Recording.";
    if (word == "busy")
        return name + " is already in a session.";
    if (word == "crowded")
        return name + " is getting too many connection attempts right now. Try again in a moment.";
    if (word == "notVerified")
        return name + " couldn't verify this Mac, so it said no.";
    if (word == "notUnattended")
        return "Unattended access isn't on for this Mac at " + name +
            ". Use Ask to help, or turn it on in "
            "Wickerlane's menu on " +
            name + ".";
    if (word == "wrongPin")
        return "That PIN wasn't right. After 5 wrong PINs, unattended access locks until it's turned back on at " +
            name + ".";
    if (word == "lockedOut")
        return "Unattended access to " + name +
            " is locked after too many wrong PINs. It has to be turned back on "
            "at " +
            name + ", with its administrator password.";
    return name + " said not now.";
}

void ViewerSession::transportClosed(const PairedDevice& device, int closeCode)
{
    assertMainThread("ViewerSession::transportClosed");
    const std::string name = device.name;
    // The service closes a link over its limits with 4429 (too many links from this address, or
    // too much sent to the host while others crowd it).
    if (!wasAccepted_ && closeCode == 4429) {
        teardown("Too many connection attempts to " + name + " right now. Try again in a minute.");
        return;
    }
    if (!wasAccepted_) {
        teardown("Couldn't reach " + name + ". It may be offline or already in a session.");
        return;
    }
    if (peer_ &&
        (peer_->connectionState() == ViewerPeer::ConnectionState::connected ||
         peer_->connectionState() == ViewerPeer::ConnectionState::completed)) {
        Log::line("Wickerlane: link to the introduction service closed; the session carries on directly");
        // The closed link is dropped here, inside its own close: let it go later.
        transport_.reset();
        return;
    }
    teardown("The connection to " + name + " was lost.");
}

// ---- the session ----

void ViewerSession::end()
{
    assertMainThread("ViewerSession::end");
    if (transport_) {
        SignalMessage bye = SignalMessage::make(SignalMessage::Kind::bye);
        bye.reason = "helperLeft";
        send(bye);
    }
    SessionEvent goodbye = SessionEvent::make(SessionEvent::Kind::end);
    goodbye.text = "helperLeft";
    teardown(std::nullopt, goodbye);
}

void ViewerSession::teardown(const std::optional<std::string>& text, const std::optional<SessionEvent>& goodbye)
{
    assertMainThread("ViewerSession::teardown");
    statsTimer_.reset();
    connectionInfo_.clear();
    mode_ = HelpMode::guide;
    theyHaveTheMouse_ = false;
    notice_.reset();
    controlRequested_ = false;
    remoteCursor_.reset();
    clicksGoThrough_ = false;
    displays_.clear();
    sharedDisplayID_.reset();
    theirMicrophoneOn_ = false;
    if (microphoneOn_ || microphoneAway_) {
        microphoneOn_ = false;
        microphoneAway_ = false;
        parts_.engine.switchMicrophoneOff(MediaEngine::AudioRole::helping);
    }
    if (auto peer = std::move(peer_))
        peer->close(goodbye);
    if (auto transport = std::move(transport_)) {
        transport->onClose = nullptr;
        transport->onMessage = nullptr;
        transport->close();
    }
    handshake_.reset();
    wasAccepted_ = false;
    setPhase(text ? Phase::message(*text) : Phase::browsing());
}

void ViewerSession::handleEvent(const SessionEvent& event)
{
    assertMainThread("ViewerSession::handleEvent");
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
    case Kind::mode: {
        const HelpMode next = event.mode.value_or(HelpMode::guide);
        if (!event.mode || *event.mode != mode_)
            notice_.reset();
        mode_ = next;
        controlRequested_ = false;
        if (mode_ == HelpMode::guide) {
            remoteCursor_.reset();
            theyHaveTheMouse_ = false;
        }
        clicksGoThrough_ = event.active.value_or(false);
        break;
    }
    case Kind::localActivity: theyHaveTheMouse_ = event.active.value_or(false); break;
    case Kind::notice: {
        controlRequested_ = false;
        notice_ = event.text;
        QPointer<ViewerSession> self(this);
        const std::optional<std::string> text = event.text;
        std::erase_if(noticeTimers_, [](const auto& timer) { return !timer || !timer->isActive(); });
        noticeTimers_.push_back(timers()(kNoticeLifetime, [self, text] {
            if (self)
                self->clearNotice(text);
        }));
        break;
    }
    case Kind::cursor: remoteCursor_ = event.cursorShape; break;
    case Kind::displays:
        displays_ = event.displays.value_or(std::vector<DisplayInfo>{});
        sharedDisplayID_ = event.displayID;
        break;
    case Kind::microphone: theirMicrophoneOn_ = event.active.value_or(false); break;
    case Kind::end:
        teardown(endMessage(event.text, handshake_ ? handshake_->device.name : std::string("They")));
        return;
    default: return; // the helper only sends the others
    }
    Q_EMIT changed();
}

void ViewerSession::clearNotice(const std::optional<std::string>& text)
{
    assertMainThread("ViewerSession::clearNotice");
    if (notice_ != text)
        return;
    notice_.reset();
    Q_EMIT changed();
}

void ViewerSession::connectionLost()
{
    assertMainThread("ViewerSession::connectionLost");
    std::string text = "The connection was lost.";
    if (peer_)
        text += "\n\n" + peer_->diagnostics().summary();
    teardown(text);
}

void ViewerSession::startStatsTimer()
{
    lastFramesShown_ = 0;
    connectionInfo_ = "Starting";
    QPointer<ViewerSession> self(this);
    statsTimer_ = timers()(kStatusInterval, [self] {
        if (!self)
            return;
        self->startStatsTimerTick();
    });
    Q_EMIT statusChanged();
}

void ViewerSession::startStatsTimerTick()
{
    assertMainThread("ViewerSession::startStatsTimerTick");
    statusLine();
    QPointer<ViewerSession> self(this);
    statsTimer_ = timers()(kStatusInterval, [self] {
        if (self)
            self->startStatsTimerTick();
    });
}

void ViewerSession::statusLine()
{
    if (!peer_)
        return;
    const auto counters = peer_->renderer().counters();
    const long long shown = counters.framesShown, unsupported = counters.framesUnsupported;
    const long long thisSecond = shown - lastFramesShown_;
    lastFramesShown_ = shown;
    std::string picture;
    if (shown > 0)
        picture = std::to_string(thisSecond) + " fps";
    else if (unsupported > 0)
        picture = "video arriving in a format this view can't show";
    else
        picture = "no video yet";
    const std::string head = stateWord(peer_->connectionState()) + kDot + picture;
    QPointer<ViewerSession> self(this);
    peer_->describeStats([self, head](std::string summary) {
        if (self)
            self->setConnectionInfo(head + kDot + summary);
    });
}

void ViewerSession::setConnectionInfo(const std::string& text)
{
    assertMainThread("ViewerSession::setConnectionInfo");
    connectionInfo_ = text;
    Q_EMIT statusChanged();
}

void ViewerSession::requestControl()
{
    assertMainThread("ViewerSession::requestControl");
    if (mode_ != HelpMode::guide || !peer_)
        return;
    controlRequested_ = true;
    notice_.reset();
    peer_->send(SessionEvent::make(SessionEvent::Kind::requestControl));
    Q_EMIT changed();
}

void ViewerSession::releaseControl()
{
    assertMainThread("ViewerSession::releaseControl");
    if (mode_ != HelpMode::control || !peer_)
        return;
    peer_->send(SessionEvent::make(SessionEvent::Kind::releaseControl));
}

void ViewerSession::setSoundOn()
{
    assertMainThread("ViewerSession::setSoundOn");
    soundOn_ = !soundOn_;
    options_.defaults->setBool(kSoundOnKey, soundOn_);
    if (peer_ && peer_->hasRemoteAudio())
        peer_->setRemoteAudioEnabled(soundOn_);
    Q_EMIT changed();
}

void ViewerSession::microphoneButton()
{
    assertMainThread("ViewerSession::microphoneButton");
    if (!peer_)
        return;
    QPointer<ViewerSession> self(this);
    ViewerPeer* forPeer = peer_.get();
    // A microphone that went away is still on as far as the helper is concerned: a click
    // leaves it off.
    parts_.engine.setMicrophone(MediaEngine::AudioRole::helping, !(microphoneOn_ || microphoneAway_),
                                [self, forPeer](MicrophoneResult result) {
                                    if (self)
                                        self->microphoneSwitched(result, forPeer);
                                });
}

void ViewerSession::microphoneSwitched(MicrophoneResult result, ViewerPeer* forPeer)
{
    assertMainThread("ViewerSession::microphoneSwitched");
    if (!peer_ || peer_.get() != forPeer)
        return;
    microphoneOn_ = parts_.engine.microphoneOn(MediaEngine::AudioRole::helping);
    microphoneAway_ = !microphoneOn_ && parts_.engine.microphoneLeftOn(MediaEngine::AudioRole::helping);
    peer_->setVoiceEnabled(microphoneOn_);
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::microphone);
    event.active = microphoneOn_;
    peer_->send(event);
    switch (result) {
    case MicrophoneResult::notAllowed:
        notice_ = "Wickerlane isn't allowed to use the microphone. Turn it on in System Settings \u2192 Privacy & "
                  "Security \u2192 Microphone.";
        break;
    case MicrophoneResult::noMicrophone:
        notice_ = "This Mac has no microphone. Connect one (AirPods or a headset work) and try again.";
        break;
    case MicrophoneResult::couldNotStart: notice_ = "The microphone couldn't be started."; break;
    case MicrophoneResult::done: break;
    }
    Q_EMIT changed();
}

void ViewerSession::microphoneFollowed()
{
    assertMainThread("ViewerSession::microphoneFollowed");
    // Without a session the microphone was switched off (teardown): nothing follows.
    if (!peer_ || !(microphoneOn_ || microphoneAway_))
        return;
    const bool on = parts_.engine.microphoneOn(MediaEngine::AudioRole::helping);
    const bool away = !on && parts_.engine.microphoneLeftOn(MediaEngine::AudioRole::helping);
    if (on == microphoneOn_ && away == microphoneAway_)
        return;
    microphoneAway_ = away;
    if (on != microphoneOn_) {
        microphoneOn_ = on;
        peer_->setVoiceEnabled(on);
        SessionEvent event = SessionEvent::make(SessionEvent::Kind::microphone);
        event.active = on;
        peer_->send(event);
    }
    Q_EMIT changed();
}

void ViewerSession::selectDisplay(const DisplayInfo& display)
{
    assertMainThread("ViewerSession::selectDisplay");
    if (!peer_)
        return;
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::selectDisplay);
    event.displayID = display.id;
    peer_->send(event);
}

std::string ViewerSession::endMessage(const std::optional<std::string>& reason, const std::string& name)
{
    const std::string word = reason.value_or("");
    if (word == "accessRemoved")
        return name + " removed you as a helper.";
    if (word == "connectionLost")
        return "The connection to " + name + " was lost.";
    return name + " ended the session.";
}

} // namespace wl
