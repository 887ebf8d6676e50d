#pragma once
// Watches the host's own mouse and keyboard in take-over mode and reports when the user
// starts using them and when they have been quiet for kQuietTime. What the injector
// posts never counts: the platform's LocalInput leaves it out at the source (the XTEST
// devices), so no time window after a posted event is needed and every press of the
// user's counts, even while the helper's events stream in. What counts: moving the
// pointer with no button held or with the left one held (a left drag), pressing the
// left or the right button, turning the wheel, and pressing a key other than a
// modifier. Releases, drags with the right or the middle button, middle and other
// buttons' presses, and a modifier key alone do not.
//
// The quiet time does not end the activity while the user's own pointer rests where
// holdsActivity says (the session's banner, with Stop and "Take back control" on it):
// a user who stops there for a moment before clicking still has the mouse, and the
// banner still takes the click. Their next move of the pointer starts the quiet time
// again. The pointer's place is the one their last pointer event had, forgotten once
// the helper's posted input moves the pointer (forgetUserPointer).
//
// Main thread only.

#include "platform/LocalInput.h"
#include "platform/OneShotTimer.h"

#include <QObject>
#include <QPointF>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace wl {

struct LocalInputEvent;

class LocalActivityMonitor final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kQuietTime{1500};

    // timers: the quiet timer (required).
    LocalActivityMonitor(std::shared_ptr<LocalInput> input, TimerFactory timers, QObject* parent = nullptr);
    ~LocalActivityMonitor() override;

    // Called with true when the user starts and false when they stop.
    std::function<void(bool active)> onChange;
    // Whether the user's pointer resting at a pixel of the root window keeps the
    // activity on past the quiet time.
    std::function<bool(QPointF pixel)> holdsActivity;

    // Starts watching when not watching yet.
    void install();
    // Stops watching; reports the end of an activity under way.
    void stop();
    bool isInstalled() const { return installed_; }
    bool isActive() const { return active_; }

    // One event of the user's.
    void handle(const LocalInputEvent& event);
    // Whether an event of the user's counts as activity.
    static bool counts(const LocalInputEvent& event);

    // Where the user's own pointer was at their last pointer event (root-window pixels),
    // while no posted input has moved the pointer since; nothing once the monitor stops.
    std::optional<QPointF> userPointer() const { return userPointer_; }
    // The helper's posted input moves the pointer away from where the user left it.
    void forgetUserPointer() { userPointer_.reset(); }

private:
    void startQuietTime();
    void quietTimerFired();

    const std::shared_ptr<LocalInput> input_;
    TimerFactory timers_;
    bool installed_ = false;
    int token_ = 0;
    bool active_ = false;
    std::unique_ptr<OneShotTimer> quietTimer_;
    std::optional<QPointF> userPointer_;
};

} // namespace wl
