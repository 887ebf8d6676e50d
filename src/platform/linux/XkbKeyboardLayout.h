#pragma once
// KeyboardLayout on the X keyboard map (XKB): the level-one keysym of a key code in
// the current group, then in the others. Main thread only.

#include "platform/KeyboardLayout.h"
#include "platform/linux/XConnection.h"

#include <string>

namespace wl {

class XkbKeyboardLayout final : public KeyboardLayout {
public:
    // The X display to read; the environment's ($DISPLAY) when empty.
    explicit XkbKeyboardLayout(std::string displayName = {});
    ~XkbKeyboardLayout() override;

    std::vector<std::uint32_t> baseKeysyms(std::uint32_t keycode) override;

private:
    int xkbEventBase_ = 0;
    XConnectionOnce x_;
};

} // namespace wl
