#include "viewer/AttachmentFetcher.h"

#include "platform/Required.h"

#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/FileLinkPeer.h"
#include "mail/PairingClient.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "protocol/Routes.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QPointer>

#include <cstdio>

namespace wl {

SignalMessage AttachmentFetcher::helperHello(const std::string& helperNonce, DeviceIdentity& identity)
{
    SignalMessage hello = SignalMessage::make(SignalMessage::Kind::hello);
    hello.name = PairingClient::fullUserName();
    if (auto key = identity.deviceSigningKey())
        hello.publicKey = key->publicKeyBase64();
    hello.nonce = helperNonce;
    return hello;
}

std::string AttachmentFetcher::failureName(Failure failure)
{
    switch (failure) {
    case Failure::unreachable: return "unreachable";
    case Failure::notVerified: return "notVerified";
    case Failure::gone: return "gone";
    case Failure::failed: return "failed";
    }
    return "failed";
}

AttachmentFetcher::AttachmentFetcher(MediaEngine& engine, PairedDevice device, std::string requestId,
                                     std::string helperNonce, Options options, QObject* parent)
    : QObject(parent), engine_(engine), device_(std::move(device)), requestId_(std::move(requestId)),
      helperNonce_(std::move(helperNonce)), options_(std::move(options)), started_(std::chrono::steady_clock::now())
{
    assertMainThread("AttachmentFetcher::AttachmentFetcher");
    options_.timers = requiredTimers(std::move(options_.timers), "AttachmentFetcher");
    required(options_.identity, "AttachmentFetcher", "an identity");
    required(options_.defaults, "AttachmentFetcher", "a settings store");
    IntroductionService::requiredBaseURL(options_.info, "AttachmentFetcher");
}

AttachmentFetcher::~AttachmentFetcher()
{
    // Released without finishing: nothing more is sent.
    timeLimit_.reset();
    if (peer_) {
        peer_->onReceived = nullptr;
        peer_->onEnded = nullptr;
        peer_->close();
    }
    if (transport_) {
        transport_->onClose = nullptr;
        transport_->onMessage = nullptr;
        transport_->close();
    }
}

void AttachmentFetcher::log(const std::string& message) const
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    char at[32];
    std::snprintf(at, sizeof at, "%.1f", seconds);
    Log::line("Wickerlane file link (asking): " + message + " at " + at + " s");
}

void AttachmentFetcher::send(const SignalMessage& message)
{
    if (transport_)
        transport_->send(message);
}

void AttachmentFetcher::start()
{
    assertMainThread("AttachmentFetcher::start");
    if (transport_ || finished_)
        return;
    std::shared_ptr<SignalTransport> transport;
    if (options_.makeTransport)
        transport = options_.makeTransport(device_.id);
    else
        transport = WebSocketSignalChannel::make(
            IntroductionService::webSocketURL(*options_.info, routePath(Route::connect, device_.id)), options_.timers);
    QPointer<AttachmentFetcher> self(this);
    transport->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handle(message);
    };
    transport->onClose = [self] {
        if (self)
            self->transportClosed();
    };
    transport_ = transport;
    if (auto* channel = dynamic_cast<WebSocketSignalChannel*>(transport.get()))
        channel->open();

    SignalMessage hello = helperHello(helperNonce_, *options_.identity);
    hello.purpose = "attachments";
    hello.requestId = requestId_;
    send(hello); // held by the channel until it is open

    timeLimit_ = options_.timers(kTimeLimit, [self] {
        if (self)
            self->finish(Result{{}, Failure::failed});
    });
}

void AttachmentFetcher::handle(const SignalMessage& message)
{
    assertMainThread("AttachmentFetcher::handle");
    if (finished_)
        return;
    using Kind = SignalMessage::Kind;
    switch (message.kind) {
    case Kind::iceServers: relays_ = message.iceServers.value_or(std::vector<ICEServer>{}); return;
    case Kind::challenge: handleChallenge(message); return;
    case Kind::declined:
        finish(Result{
            {}, message.reason == std::optional<std::string>("noAttachments") ? Failure::gone : Failure::unreachable});
        return;
    case Kind::accepted: handleAccepted(); return;
    case Kind::answer: handleAnswer(message); return;
    case Kind::candidate:
        if (peer_)
            peer_->addRemoteCandidate(message);
        return;
    case Kind::bye: finish(Result{{}, Failure::failed}); return;
    case Kind::hello:
    case Kind::prove:
    case Kind::offer:
    case Kind::pairRequest:
    case Kind::pairInfo:
    case Kind::proven: return;
    }
}

void AttachmentFetcher::handleChallenge(const SignalMessage& message)
{
    // One challenge per fetch: a repeat is not answered again.
    if (hostNonce_)
        return;
    log("their Mac answered");
    if (!message.nonce ||
        !verifySignature(message.signature, hostProofMessage(device_.id, helperNonce_, *message.nonce),
                         device_.publicKey)) {
        finish(Result{{}, Failure::notVerified});
        return;
    }
    hostNonce_ = *message.nonce;
    if (!transport_)
        return;
    SignalMessage prove = SignalMessage::make(SignalMessage::Kind::prove);
    prove.signature = options_.identity->signAsDevice(helperProofMessage(device_.id, *hostNonce_, helperNonce_));
    send(prove);
}

void AttachmentFetcher::handleAccepted()
{
    // Ignored before a verified challenge, and once the link exists.
    if (!transport_ || !hostNonce_ || peer_)
        return;
    log(std::string("accepted; ") + (relays_.empty() ? "no relay offered" : "relay available"));
    peer_ = std::make_unique<FileLinkPeer>(engine_, FileLinkPeer::Role::collect, transport_, relays_,
                                           *options_.defaults, options_.timers);
    const std::string hostNonce = *hostNonce_;
    peer_->signOffer = [hostNonce, identity = options_.identity](const std::string& sdp) -> std::optional<std::string> {
        return identity->signAsDevice(offerSignatureMessage(hostNonce, sdp));
    };
    QPointer<AttachmentFetcher> self(this);
    peer_->onReceived = [self](std::vector<TransferredFile> files) {
        if (!self)
            return;
        if (files.empty())
            self->finish(Result{{}, Failure::failed});
        else
            self->finish(Result{std::move(files), std::nullopt});
    };
    peer_->onEnded = [self] {
        if (self)
            self->finish(Result{{}, Failure::failed});
    };
    peer_->start();
}

void AttachmentFetcher::handleAnswer(const SignalMessage& message)
{
    if (!message.sdp ||
        !verifySignature(message.signature, answerSignatureMessage(helperNonce_, *message.sdp), device_.publicKey)) {
        finish(Result{{}, Failure::notVerified});
        return;
    }
    if (peer_ && peer_->peerConnection())
        peer_->applyAnswer(message);
}

void AttachmentFetcher::transportClosed()
{
    assertMainThread("AttachmentFetcher::transportClosed");
    if (finished_)
        return;
    auto transport = std::move(transport_);
    transport_.reset();
    // A link that stands needs no signalling any more: the pictures keep coming.
    if (peer_ && peer_->hasConnected() && !peer_->isFinished()) {
        log("the link to the introduction service closed; the pictures keep coming directly");
        return;
    }
    finish(Result{{}, Failure::unreachable});
}

void AttachmentFetcher::finish(Result result)
{
    assertMainThread("AttachmentFetcher::finish");
    if (finished_)
        return;
    finished_ = true;
    timeLimit_.reset();
    if (result.failure)
        log("gave up: " + failureName(*result.failure));
    else
        log("done: " + std::to_string(result.files.size()) + " files");
    if (auto peer = std::move(peer_)) {
        peer->onReceived = nullptr;
        peer->onEnded = nullptr;
        peer->close();
        // The link may be ending from inside its own callback: let it go later.
        peer.release()->deleteLater();
    }
    if (auto transport = std::move(transport_)) {
        transport->onClose = nullptr;
        transport->send(SignalMessage::make(SignalMessage::Kind::bye));
        transport->close();
    }
    if (auto done = std::move(onDone)) {
        onDone = nullptr;
        done(result);
    }
}

} // namespace wl
