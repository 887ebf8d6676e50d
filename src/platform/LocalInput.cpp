#include "platform/LocalInput.h"

#include "platform/StandardSlot.h"

namespace wl {

namespace {
// Before start-up installs the desktop backend: nothing is reported.
class NoLocalInput final : public LocalInput {
public:
    int watch(std::function<void(const LocalInputEvent&)>) override { return 0; }
    void unwatch(int) override { }
};
using Slot = StandardSlot<LocalInput, NoLocalInput>;
} // namespace

LocalInput& LocalInput::standard()
{
    return Slot::get();
}

void LocalInput::setStandard(std::shared_ptr<LocalInput> input)
{
    Slot::set(std::move(input));
}

} // namespace wl
