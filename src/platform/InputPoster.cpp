#include "platform/InputPoster.h"

namespace wl {

namespace {
// The safe stand-in: nothing can be posted.
class NoInputPoster final : public InputPoster {
public:
    bool available() override { return false; }
    void movePointer(int, int) override { }
    void button(int, bool) override { }
    bool hasKeysym(std::uint32_t) override { return false; }
    bool key(std::uint32_t, bool) override { return false; }
    bool capsLockOn() override { return false; }
};
} // namespace

std::shared_ptr<InputPoster> InputPoster::none()
{
    return std::make_shared<NoInputPoster>();
}

} // namespace wl
