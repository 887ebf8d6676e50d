#include "platform/KeyboardLayout.h"

#include "platform/StandardSlot.h"

namespace wl {

namespace {
// Before start-up installs the desktop backend: no key is known.
class NoKeyboardLayout final : public KeyboardLayout {
public:
    std::vector<std::uint32_t> baseKeysyms(std::uint32_t) override { return {}; }
};
using Slot = StandardSlot<KeyboardLayout, NoKeyboardLayout>;
} // namespace

KeyboardLayout& KeyboardLayout::standard()
{
    return Slot::get();
}

void KeyboardLayout::setStandard(std::shared_ptr<KeyboardLayout> layout)
{
    Slot::set(std::move(layout));
}

} // namespace wl
