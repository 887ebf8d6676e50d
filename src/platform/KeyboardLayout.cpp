#include "platform/KeyboardLayout.h"

namespace wl {

namespace {
// The safe stand-in: no key is known.
class NoKeyboardLayout final : public KeyboardLayout {
public:
    std::vector<std::uint32_t> baseKeysyms(std::uint32_t) override { return {}; }
};
} // namespace

std::shared_ptr<KeyboardLayout> KeyboardLayout::none()
{
    return std::make_shared<NoKeyboardLayout>();
}

} // namespace wl
