#pragma once
// What the keys of this machine's keyboard type with no modifier held. The desktop
// backend reads the X keyboard map; the stand-in (none()) knows nothing.

#include <cstdint>
#include <memory>
#include <vector>

namespace wl {

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;
    // The keysyms an X key code types without modifiers: in the current layout group
    // first, then in the other groups. Empty when the key types nothing.
    virtual std::vector<std::uint32_t> baseKeysyms(std::uint32_t keycode) = 0;

    // The safe stand-in: nothing known, nothing done.
    static std::shared_ptr<KeyboardLayout> none();
};

} // namespace wl
