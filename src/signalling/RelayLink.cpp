#include "signalling/RelayLink.h"

#include "identity/DeviceIdentity.h"
#include "identity/SignedQuery.h"
#include "platform/Log.h"
#include "platform/linux/QtTimers.h"
#include "signalling/IntroductionService.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace wl {

RelayLink::RelayLink(TimerFactory timers, QObject* parent)
    : QObject(parent), timers_(timers ? std::move(timers) : qtTimerFactory())
{
}

RelayLink::~RelayLink()
{
    retry_.reset();
    if (channel) {
        channel->onClose = nullptr;
        channel->onMessage = nullptr;
        channel->onOpen = nullptr;
        channel->close();
    }
}

void RelayLink::connect()
{
    active = true;
    retry_.reset();
    if (channel)
        return;

    std::string deviceId = ownDeviceId();
    auto items = signedQueryItems(kPurposeHost);
    if (deviceId.empty() || !items) {
        Log::line("Wickerlane: the relay link cannot sign in: this Mac's device key cannot be read");
        scheduleRetry();
        return;
    }
    QUrl url = IntroductionService::webSocketURL("v1/host/" + deviceId, *items);
    auto next = WebSocketSignalChannel::make(url);
    WebSocketSignalChannel* raw = next.get();
    QPointer<RelayLink> self(this);
    next->onOpen = [self] {
        if (!self)
            return;
        self->retryDelay = kFirstRetryDelay;
        if (auto handler = self->onStatusChange)
            handler(true);
    };
    next->onMessage = [self](const SignalMessage& message) {
        if (!self)
            return;
        if (auto handler = self->onMessage)
            handler(message);
    };
    next->onClose = [self, raw] {
        if (self)
            self->channelClosed(raw);
    };
    channel = next;
    next->open();
}

void RelayLink::channelClosed(WebSocketSignalChannel* which)
{
    if (channel.get() != which)
        return;
    auto keep = std::move(channel);
    channel.reset();
    if (auto handler = onStatusChange)
        handler(false);
    if (active && !channel)
        scheduleRetry();
}

void RelayLink::scheduleRetry()
{
    if (!active)
        return;
    auto delay = std::chrono::milliseconds(static_cast<long long>(std::llround(retryDelay * 1000)));
    retryDelay = std::min(retryDelay * 2, kMaxRetryDelay);
    QPointer<RelayLink> self(this);
    retry_ = timers_(delay, [self] {
        if (!self || !self->active)
            return;
        self->retry_.reset();
        self->connect();
    });
}

void RelayLink::stop()
{
    active = false;
    retry_.reset();
    if (auto current = std::move(channel)) {
        channel.reset();
        current->onClose = nullptr;
        current->close();
    }
    if (auto handler = onStatusChange)
        handler(false);
}

} // namespace wl
