#pragma once
// QTimer-backed one-shot timers; they fire on the thread that started them, which
// needs a running Qt event loop.

#include "platform/OneShotTimer.h"

namespace wl {

TimerFactory qtTimerFactory();

} // namespace wl
