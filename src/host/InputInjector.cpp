#include "host/InputInjector.h"

namespace wl {

void InputInjector::post(const SessionEvent&)
{
    ++posted_;
}

void InputInjector::releaseAll()
{
    ++released_;
}

} // namespace wl
