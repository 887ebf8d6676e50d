#include "platform/InputPoster.h"

#include "platform/StandardSlot.h"

namespace wl {

namespace {
// Before start-up installs the desktop backend: nothing can be posted.
class NoInputPoster final : public InputPoster {
public:
    bool available() override { return false; }
    void movePointer(int, int) override { }
    void button(int, bool) override { }
    bool hasKeysym(std::uint32_t) override { return false; }
    bool key(std::uint32_t, bool) override { return false; }
    bool capsLockOn() override { return false; }
};
using Slot = StandardSlot<InputPoster, NoInputPoster>;
} // namespace

InputPoster& InputPoster::standard()
{
    return Slot::get();
}

void InputPoster::setStandard(std::shared_ptr<InputPoster> poster)
{
    Slot::set(std::move(poster));
}

} // namespace wl
