#include "host/LocalActivityMonitor.h"

#include "platform/LocalInput.h"
#include "platform/MainThread.h"

#include <QPointer>

namespace wl {

LocalActivityMonitor::LocalActivityMonitor(std::shared_ptr<LocalInput> input, TimerFactory timers, QObject* parent)
    : QObject(parent), input_(std::move(input)), timers_(requiredTimers(std::move(timers), "LocalActivityMonitor"))
{
}

LocalActivityMonitor::~LocalActivityMonitor()
{
    if (token_)
        input_->unwatch(token_);
}

void LocalActivityMonitor::install()
{
    assertMainThread("LocalActivityMonitor::install");
    if (installed_)
        return;
    installed_ = true;
    QPointer<LocalActivityMonitor> self(this);
    token_ = input_->watch([self](const LocalInputEvent& event) {
        if (self)
            self->handle(event);
    });
}

void LocalActivityMonitor::stop()
{
    if (token_)
        input_->unwatch(token_);
    token_ = 0;
    installed_ = false;
    quietTimer_.reset();
    userPointer_.reset();
    if (active_) {
        active_ = false;
        if (onChange)
            onChange(false);
    }
}

bool LocalActivityMonitor::counts(const LocalInputEvent& event)
{
    constexpr unsigned kLeft = 1u << 1;
    constexpr unsigned kWheel = 0xfu << 4;
    const unsigned held = event.buttonsHeld & ~kWheel;
    switch (event.kind) {
    case LocalInputEvent::Kind::pointerMotion: return held == 0 || (held & kLeft) != 0;
    case LocalInputEvent::Kind::buttonPress:
        // Left, right and the wheel's four directions.
        return event.button == 1 || event.button == 3 || (event.button >= 4 && event.button <= 7);
    case LocalInputEvent::Kind::keyPress: return !event.modifierKey;
    }
    return false;
}

void LocalActivityMonitor::handle(const LocalInputEvent& event)
{
    assertMainThread("LocalActivityMonitor::handle");
    if (!installed_)
        return;
    const bool pointer = event.kind != LocalInputEvent::Kind::keyPress;
    if (pointer && event.x && event.y)
        userPointer_ = QPointF(*event.x, *event.y);
    if (!counts(event)) {
        // Held on by the pointer's resting place, the activity ends after the quiet time
        // from whatever next moves the pointer.
        if (active_ && pointer && !quietTimer_)
            startQuietTime();
        return;
    }
    // The quiet time starts again with every event of the user's.
    startQuietTime();
    if (!active_) {
        active_ = true;
        if (onChange)
            onChange(true);
    }
}

void LocalActivityMonitor::startQuietTime()
{
    QPointer<LocalActivityMonitor> self(this);
    quietTimer_ = timers_(kQuietTime, [self] {
        if (self)
            self->quietTimerFired();
    });
}

void LocalActivityMonitor::quietTimerFired()
{
    quietTimer_.reset();
    if (!active_)
        return;
    if (userPointer_ && holdsActivity && holdsActivity(*userPointer_))
        return;
    active_ = false;
    if (onChange)
        onChange(false);
}

} // namespace wl
