#pragma once
// The concealed, self-clearing copy of a password. The text goes on this desktop's
// clipboard together with the marker by which clipboard managers and history tools know
// a secret and leave it unrecorded ("x-kde-passwordManagerHint" = "secret"). Sixty
// seconds later the clipboard is cleared, but only while this program still holds it
// with that very copy: once another program took the clipboard, or this program copied
// anything since, the clear leaves it alone. (X11 has no change count to compare; the
// ownership of the selection and the identity of the copied data stand in for it.)
// Main thread only; nothing can cancel a pending clear, and several copies leave
// several, of which only the newest copy's can clear.

#include "platform/OneShotTimer.h"

#include <chrono>
#include <string>

namespace wl {

inline constexpr std::chrono::seconds kConcealedCopyLifetime{60};
inline constexpr const char* kPasswordManagerHintType = "x-kde-passwordManagerHint";

// `timers` schedules the clear (required).
void copyConcealed(const std::string& text, TimerFactory timers);

} // namespace wl
