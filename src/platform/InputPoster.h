#pragma once
// Posting input events in the user's name, tagged so that this machine's own watch of
// local input (LocalInput) can tell them from the user's. The desktop backend posts
// through XTest: the tag is the X server's XTEST device the events come from. The
// stand-in (none()) posts nothing.

#include <cstdint>
#include <memory>

namespace wl {

class InputPoster {
public:
    virtual ~InputPoster() = default;

    // Whether events can be posted at all.
    virtual bool available() = 0;
    // Moves the pointer to a pixel of the root window (all displays side by side).
    virtual void movePointer(int x, int y) = 0;
    // Presses or releases a mouse button, numbered as X does: 1 left, 2 middle, 3 right,
    // 4 to 7 the wheel's up, down, left and right.
    virtual void button(int button, bool down) = 0;
    // Whether a key of the current keymap types the keysym (at any level).
    virtual bool hasKeysym(std::uint32_t keysym) = 0;
    // Presses or releases the key that types the keysym; a keysym the keymap lacks is
    // put on a spare key first. False when no key can be found for it.
    virtual bool key(std::uint32_t keysym, bool down) = 0;
    // Whether Caps Lock is on.
    virtual bool capsLockOn() = 0;

    // The safe stand-in: nothing known, nothing done.
    static std::shared_ptr<InputPoster> none();
};

} // namespace wl
