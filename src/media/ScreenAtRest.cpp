#include "media/ScreenAtRest.h"

#include <atomic>

namespace wl {

namespace {
std::atomic<bool> atRestNow{false};
} // namespace

void setScreenAtRest(bool atRest)
{
    atRestNow = atRest;
}

bool screenAtRest()
{
    return atRestNow.load();
}

} // namespace wl
