#include "mail/PairingClient.h"

#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "platform/Account.h"
#include "platform/Log.h"
#include "protocol/Date.h"
#include "protocol/Routes.h"
#include "protocol/SignalMessage.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"

#include <QPointer>
#include <QTimer>

namespace wl {

PairingClient::PairingClient(std::string code, TimerFactory timers, std::shared_ptr<const InfoDictionary> info,
                             QObject* parent)
    : QObject(parent), name(fullUserName()), code_(std::move(code)),
      timers_(requiredTimers(std::move(timers), "PairingClient")), info_(std::move(info))
{
    IntroductionService::requiredBaseURL(info_, "PairingClient");
}

PairingClient::~PairingClient()
{
    finished_ = true; // a close reported from here changes nothing
    if (auto channel = std::move(channel_))
        channel->close();
}

std::string PairingClient::fullUserName()
{
    return userFullName();
}

void PairingClient::start()
{
    if (started_ || finished_)
        return;
    started_ = true;

    const std::optional<SigningKey>& own = signingKey;
    if (!own) {
        // Reported on the next turn so that the caller has finished setting up.
        QTimer::singleShot(0, this, [this] { fail(kNoKeyText); });
        return;
    }
    ownKey_ = own->publicKeyBase64();

    auto channel = WebSocketSignalChannel::make(
        IntroductionService::webSocketURL(*info_, routePath(Route::pairJoin, code_)), timers_);
    QPointer<PairingClient> self(this);
    channel->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handle(message);
    };
    channel->onClose = [self] {
        if (self)
            self->channelClosed();
    };
    channel_ = channel;

    SignalMessage request = SignalMessage::make(SignalMessage::Kind::pairRequest);
    request.name = name;
    request.publicKey = ownKey_;
    channel->send(request); // held until the socket is open
    channel->open();
}

void PairingClient::handle(const SignalMessage& message)
{
    if (finished_)
        return;
    switch (message.kind) {
    case SignalMessage::Kind::pairInfo: {
        if (host_ || !message.publicKey || !keyFingerprint(*message.publicKey))
            return;
        host_ = Host{message.name.value_or("Mac"), *message.publicKey};
        const std::string number = pairingComparisonNumber(code_, host_->publicKey, ownKey_);
        if (onVerify)
            onVerify(host_->name, number);
        return;
    }
    case SignalMessage::Kind::accepted: {
        if (!host_)
            return;
        PairedDevice device;
        device.id = keyFingerprint(host_->publicKey).value_or("");
        device.name = host_->name;
        device.publicKey = host_->publicKey;
        device.pairedAt = dateNow();
        auto paired = std::move(onPaired);
        finish();
        if (paired)
            paired(device);
        return;
    }
    case SignalMessage::Kind::declined: fail(kDeclinedText); return;
    default: return;
    }
}

void PairingClient::channelClosed()
{
    if (finished_)
        return;
    fail(host_ ? kClosedText : kNoHostText);
}

void PairingClient::fail(const std::string& message)
{
    if (finished_)
        return;
    auto failed = std::move(onFailed);
    finish();
    if (failed)
        failed(message);
}

void PairingClient::finish()
{
    if (finished_)
        return;
    finished_ = true;
    onVerify = nullptr;
    onPaired = nullptr;
    onFailed = nullptr;
    if (auto channel = std::move(channel_)) {
        // Its handlers stay: they hold this object weakly and see `finished`. Dropping
        // the channel inside its own handler is safe (it is deleted later).
        channel->close();
    }
}

} // namespace wl
