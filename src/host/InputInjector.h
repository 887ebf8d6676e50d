#pragma once
// Posts the helper's mouse, scroll and key events in take-over mode (and the suggested
// clicks the host's user lets through) as the user's own input, through the platform's
// InputPoster, whose events the local-activity watch can tell from the user's. It
// remembers which buttons and keys it holds down, so that releaseAll can let go of
// exactly those when control goes back to the host's user or the session ends.
//
// Positions are fractions of the shared display: x from its left, y from its top, each
// clamped to 0...1, on the display's pixels in the root window. A mouse move with a
// button held is a drag. Scroll amounts are pixels, rounded half away from zero and
// turned into wheel clicks (buttons 4 to 7), one for every kPixelsPerWheelClick with
// the rest carried to the next event of the same direction. One event turns the wheel
// at most kMaxWheelClicks each way, a few screens' worth, and drops the rest: posting
// is synchronous, and a huge amount must not hold up the host. Keys go through the key
// table: a code becomes the keysym the host's keymap types for it, with the modifiers
// the event's flags ask for held around a press that lacks them; Caps Lock arrives as
// its new lock state and is pressed only when that differs from the host's. A key code
// outside 0...65535, or a scroll amount beyond the 32-bit range, is dropped.
//
// Main thread only.

#include "platform/InputPoster.h"
#include "protocol/SessionEvent.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <memory>
#include <set>

namespace wl {

class InputPoster;
class SharedDisplay;

class InputInjector final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPixelsPerWheelClick = 10;
    // 3000 pixels: about three screens.
    static constexpr int kMaxWheelClicks = 300;

    // poster: where the events go; shared: the shared display they are placed on.
    InputInjector(std::shared_ptr<InputPoster> poster, std::shared_ptr<SharedDisplay> shared,
                  QObject* parent = nullptr);

    void post(const SessionEvent& event);
    // Lets go of every button and key it holds down, where the pointer is now.
    void releaseAll();

    // Buttons held (0 left, 1 right) and key codes held.
    const std::set<int>& buttonsDown() const { return buttonsDown_; }
    std::set<int> keysDown() const;
    // The last pointer position posted, in root-window pixels.
    int lastX() const { return lastX_; }
    int lastY() const { return lastY_; }

    // The pixel for a fraction of a display that starts at origin and is size pixels long.
    static int pixelFor(double fraction, int origin, int size);

private:
    const std::shared_ptr<InputPoster> poster_;
    const std::shared_ptr<SharedDisplay> shared_;
    InputPoster& poster() const;
    bool moveTo(double x, double y);
    void postScroll(const SessionEvent& event);
    void postKey(const SessionEvent& event);
    void wheel(long long clicks, int positiveButton, int negativeButton);

    std::set<int> buttonsDown_;
    // Key codes held, with the keysym that pressed each.
    std::map<int, std::uint32_t> keysDown_;
    int lastX_ = 0;
    int lastY_ = 0;
    long long carryX_ = 0;
    long long carryY_ = 0;
};

} // namespace wl
