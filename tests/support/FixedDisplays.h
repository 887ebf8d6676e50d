#pragma once
// Displays for tests: a list set by the test; setDisplays notifies the observers.
#include "platform/Displays.h"

namespace wl::test {

class FixedDisplays final : public Displays {
public:
    FixedDisplays() = default;
    explicit FixedDisplays(std::vector<Display> displays) : displays_(std::move(displays)) { }

    std::vector<Display> list() override;
    void setDisplays(std::vector<Display> displays);

private:
    std::mutex lock_;
    std::vector<Display> displays_;
};

} // namespace wl::test
