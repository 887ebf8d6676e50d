#include "host/LocalActivityMonitor.h"

#include "platform/LocalInput.h"

#include <QPointer>

namespace wl {

LocalActivityMonitor::LocalActivityMonitor(TimerFactory timers, QObject* parent)
    : QObject(parent), timers_(timersOr(std::move(timers)))
{
}

LocalActivityMonitor::~LocalActivityMonitor()
{
    if (token_)
        LocalInput::standard().unwatch(token_);
}

void LocalActivityMonitor::install()
{
    if (installed_)
        return;
    installed_ = true;
    QPointer<LocalActivityMonitor> self(this);
    token_ = LocalInput::standard().watch([self](const LocalInputEvent& event) {
        if (self)
            self->handle(event);
    });
}

void LocalActivityMonitor::stop()
{
    if (token_)
        LocalInput::standard().unwatch(token_);
    token_ = 0;
    installed_ = false;
    quietTimer_.reset();
    if (active_) {
        active_ = false;
        if (onChange)
            onChange(false);
    }
}

void LocalActivityMonitor::handle(const LocalInputEvent&)
{
    if (!installed_)
        return;
    QPointer<LocalActivityMonitor> self(this);
    // The quiet time starts again with every event of the user's.
    quietTimer_ = timers_(kQuietTime, [self] {
        if (self)
            self->quietTimerFired();
    });
    if (!active_) {
        active_ = true;
        if (onChange)
            onChange(true);
    }
}

void LocalActivityMonitor::quietTimerFired()
{
    quietTimer_.reset();
    if (!active_)
        return;
    active_ = false;
    if (onChange)
        onChange(false);
}

} // namespace wl
