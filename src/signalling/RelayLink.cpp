#include "signalling/RelayLink.h"

#include "identity/DeviceIdentity.h"
#include "identity/SignedQuery.h"
#include "platform/Log.h"
#include "protocol/Routes.h"
#include "platform/MainThread.h"
#include "signalling/IntroductionService.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace wl {

RelayLink::RelayLink(std::shared_ptr<DeviceIdentity> identity, TimerFactory timers,
                     std::shared_ptr<const InfoDictionary> info, QObject* parent)
    : QObject(parent), identity_(std::move(identity)), timers_(requiredTimers(std::move(timers), "RelayLink")),
      info_(std::move(info))
{
    IntroductionService::requiredBaseURL(info_, "RelayLink");
}

RelayLink::~RelayLink()
{
    retry_.reset();
    stable_.reset();
    if (channel) {
        channel->onClose = nullptr;
        channel->onMessage = nullptr;
        channel->onOpen = nullptr;
        channel->close();
    }
}

void RelayLink::connect()
{
    assertMainThread("RelayLink::connect");
    active = true;
    retry_.reset();
    if (channel)
        return;

    std::string deviceId = identity_->deviceId();
    auto items = signedQueryItems(kPurposeHost, *identity_);
    if (deviceId.empty() || !items) {
        Log::line("Wickerlane: the relay link cannot sign in: this Mac's device key cannot be read");
        scheduleRetry();
        return;
    }
    QUrl url = IntroductionService::webSocketURL(*info_, routePath(Route::host, deviceId), *items);
    auto next = WebSocketSignalChannel::make(url, timers_);
    WebSocketSignalChannel* raw = next.get();
    QPointer<RelayLink> self(this);
    next->onOpen = [self] {
        if (self)
            self->channelOpened();
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

void RelayLink::channelOpened()
{
    // The delay starts over only once the link has proved itself by staying open.
    QPointer<RelayLink> self(this);
    stable_ = timers_(kStableAfter, [self] {
        if (!self)
            return;
        self->stable_.reset();
        self->retryDelay = kFirstRetryDelay;
    });
    if (auto handler = onStatusChange)
        handler(true);
}

void RelayLink::channelClosed(WebSocketSignalChannel* which)
{
    if (channel.get() != which)
        return;
    auto keep = std::move(channel);
    channel.reset();
    stable_.reset();
    const int code = keep ? keep->closeCode() : 0;
    if (code == kRateLimitedCloseCode) {
        Log::line("Wickerlane: the introduction service has too many links from here; trying again later");
        retryDelay = kMaxRetryDelay;
    } else if (code == kReplacedCloseCode) {
        Log::line("Wickerlane: another link of this Mac replaced the relay link; trying again later");
        retryDelay = kMaxRetryDelay;
    }
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
    assertMainThread("RelayLink::stop");
    active = false;
    retry_.reset();
    stable_.reset();
    if (auto current = std::move(channel)) {
        channel.reset();
        current->onClose = nullptr;
        current->close();
    }
    if (auto handler = onStatusChange)
        handler(false);
}

} // namespace wl
