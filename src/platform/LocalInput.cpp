#include "platform/LocalInput.h"

namespace wl {

namespace {
// The safe stand-in: nothing is reported.
class NoLocalInput final : public LocalInput {
public:
    int watch(std::function<void(const LocalInputEvent&)>) override { return 0; }
    void unwatch(int) override { }
};
} // namespace

std::shared_ptr<LocalInput> LocalInput::none()
{
    return std::make_shared<NoLocalInput>();
}

} // namespace wl
