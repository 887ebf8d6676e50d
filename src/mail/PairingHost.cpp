#include "mail/PairingHost.h"

#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "platform/Account.h"
#include "platform/Log.h"
#include "protocol/Routes.h"
#include "protocol/SignalMessage.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QPointer>

namespace wl {

PairingHost::PairingHost(std::string code, TimerFactory timers, std::shared_ptr<const InfoDictionary> info,
                         QObject* parent)
    : QObject(parent), name(userFullName()), code_(std::move(code)),
      timers_(requiredTimers(std::move(timers), "PairingHost")), info_(std::move(info))
{
    IntroductionService::requiredBaseURL(info_, "PairingHost");
}

PairingHost::~PairingHost()
{
    finished_ = true; // a close reported from here changes nothing
    if (auto channel = std::move(channel_))
        channel->close();
}

void PairingHost::start()
{
    if (started_ || finished_)
        return;
    started_ = true;

    auto channel = WebSocketSignalChannel::make(
        IntroductionService::webSocketURL(*info_, routePath(Route::pairHost, code_)), timers_);
    QPointer<PairingHost> self(this);
    channel->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handle(message);
    };
    channel->onClose = [self] {
        if (self)
            self->channelClosed();
    };
    channel_ = channel;
    expiryTimer_ = timers_(kDefaultExpiry, [self] {
        if (!self)
            return;
        Log::line("Wickerlane: pairing code expired");
        self->finish(std::string(kExpiredReason));
    });
    channel->open();
}

bool PairingHost::isWaiting() const
{
    return !finished_ && channel_ && channel_->isOpen();
}

void PairingHost::handle(const SignalMessage& message)
{
    if (finished_ || message.kind != SignalMessage::Kind::pairRequest || helperKey_)
        return;
    if (!message.publicKey || !keyFingerprint(*message.publicKey)) {
        Log::line("Wickerlane: pairing request without a usable key ignored");
        return;
    }
    const std::optional<SigningKey>& own = signingKey;
    if (!own) {
        finish(std::string(kNoKeyReason));
        return;
    }
    helperKey_ = *message.publicKey;
    const std::string ownKey = own->publicKeyBase64();

    SignalMessage info = SignalMessage::make(SignalMessage::Kind::pairInfo);
    info.name = name;
    info.publicKey = ownKey;
    if (channel_)
        channel_->send(info);

    const std::string helperName = message.name.value_or("");
    const std::string number = pairingComparisonNumber(code_, ownKey, *helperKey_);
    if (onRequest)
        onRequest(helperName, *helperKey_, number);
}

void PairingHost::answer(bool allow)
{
    if (finished_ || answered_)
        return;
    answered_ = true;
    expiryTimer_.reset();
    if (channel_)
        channel_->send(SignalMessage::make(allow ? SignalMessage::Kind::accepted : SignalMessage::Kind::declined));
    QPointer<PairingHost> self(this);
    answerTimer_ = timers_(kDefaultAnswerDelay, [self] {
        if (self)
            self->finish();
    });
}

void PairingHost::channelClosed()
{
    if (finished_)
        return;
    // After an answer the link may close on its own; that is the normal end.
    finish(answered_ ? std::nullopt : std::optional<std::string>(kClosedReason));
}

void PairingHost::finish(const std::optional<std::string>& reason)
{
    if (finished_)
        return;
    finished_ = true;
    expiryTimer_.reset();
    answerTimer_.reset();
    auto finished = std::move(onFinished);
    onFinished = nullptr;
    onRequest = nullptr;
    if (auto channel = std::move(channel_)) {
        // Its handlers stay: they hold this object weakly and see `finished`. Dropping
        // the channel inside its own handler is safe (it is deleted later).
        channel->close();
    }
    if (finished)
        finished(reason);
}

} // namespace wl
