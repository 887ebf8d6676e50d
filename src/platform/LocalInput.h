#pragma once
// The user's own input anywhere on this machine's screen: pointer motion (with the
// buttons held during it), button presses (the wheel's included) and key presses (with
// whether the key is a modifier), without what InputPoster posted. Releases are not
// reported. The desktop backend reads XI2 raw events of the whole display and leaves
// out those of the XTEST devices that posted events come from. The stand-in (none())
// reports nothing.

#include <functional>
#include <memory>
#include <optional>

namespace wl {

struct LocalInputEvent {
    enum class Kind { pointerMotion, buttonPress, keyPress };
    Kind kind = Kind::pointerMotion;
    // The button of a press, numbered as X does (1 left, 2 middle, 3 right, 4 to 7 the
    // wheel).
    int button = 0;
    // The buttons held while the pointer moved: bit n for button n.
    unsigned buttonsHeld = 0;
    // Whether the key pressed is a modifier (Shift, Control, Alt, Super, a lock, …).
    bool modifierKey = false;
    // Where the pointer that pressed the button is (root-window pixels), when known.
    std::optional<double> x, y;
};

class LocalInput {
public:
    virtual ~LocalInput() = default;

    // Calls handler on the main thread with each event of the user's until unwatch.
    // Returns a token, 0 when nothing can be watched.
    virtual int watch(std::function<void(const LocalInputEvent&)> handler) = 0;
    virtual void unwatch(int token) = 0;

    // The safe stand-in: nothing known, nothing done.
    static std::shared_ptr<LocalInput> none();
};

} // namespace wl
