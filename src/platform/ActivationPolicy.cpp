#include "platform/ActivationPolicy.h"

#include <atomic>

namespace wl {

namespace {
std::atomic<ActivationPolicy> current{ActivationPolicy::accessory};
}

void setActivationPolicy(ActivationPolicy policy)
{
    current = policy;
}

ActivationPolicy activationPolicy()
{
    return current;
}

} // namespace wl
