#pragma once
// The display the host shares, and the current displays as the session reports them.
// Displays come from the platform's Displays (XRandR on the desktop).

#include "platform/Displays.h"
#include "protocol/SessionEvent.h"

#include <cstdint>
#include <optional>
#include <vector>

class QScreen;

namespace wl {

// The current displays (id, name, width, height), main display first.
std::vector<DisplayInfo> currentDisplays(Displays& displays);

// The process-wide id of the shared display; the main display on first use.
// Thread-safe.
std::uint32_t sharedDisplay(Displays& displays);
// The id last remembered (0 when none is yet).
std::uint32_t rememberedSharedDisplay();
void setSharedDisplay(std::uint32_t id);
// Tests: forget the value so the next read takes the main display again.
void resetSharedDisplay();

// The display record showing sharedDisplay; else the first display; else nullopt.
// Changes nothing.
std::optional<Display> screenForDisplay(Displays& displays);
// The QScreen of that display (matched by output name, then by geometry); else the
// first screen; nullptr without a QGuiApplication or screens.
QScreen* qscreenForDisplay(Displays& displays);

} // namespace wl
