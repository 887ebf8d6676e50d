#include "platform/OneShotTimer.h"

#include "platform/Required.h"

namespace wl {

TimerFactory requiredTimers(TimerFactory timers, const char* who)
{
    if (!timers)
        wiringMistake(std::string(who) + " was made without timers");
    return timers;
}

} // namespace wl
