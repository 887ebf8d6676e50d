#pragma once
// The display the host shares, and the current displays as the session reports them.
// Displays come from the platform's Displays (XRandR on the desktop).

#include "platform/Displays.h"
#include "protocol/SessionEvent.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QScreen;

namespace wl {

// The current displays (id, name, width, height), main display first.
std::vector<DisplayInfo> currentDisplays(Displays& displays);

// The display one session shares: the main display on first use, then the one chosen.
// Thread-safe (the capture reads it while the session changes it).
class SharedDisplay {
public:
    explicit SharedDisplay(std::shared_ptr<Displays> displays);

    // The shared display's id; the main display on first use, 0 while there is none.
    std::uint32_t id();
    // The id last remembered (0 when none is yet); asks the displays nothing.
    std::uint32_t remembered() const;
    void set(std::uint32_t id);

    // The display record showing id(); else the first display; else nullopt.
    // Changes nothing.
    std::optional<Display> screen();
    // The QScreen of that display (matched by output name, then by geometry); else the
    // first screen; nullptr without a QGuiApplication or screens.
    QScreen* qscreen();

private:
    const std::shared_ptr<Displays> displays_;
    mutable std::mutex lock_;
    bool known_ = false;
    std::uint32_t id_ = 0;
};

} // namespace wl
