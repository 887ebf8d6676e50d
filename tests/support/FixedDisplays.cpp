#include "FixedDisplays.h"

namespace wl::test {

std::vector<Display> FixedDisplays::list()
{
    std::lock_guard guard(lock_);
    return displays_;
}

void FixedDisplays::setDisplays(std::vector<Display> displays)
{
    {
        std::lock_guard guard(lock_);
        displays_ = std::move(displays);
    }
    notifyObservers();
}

} // namespace wl::test
