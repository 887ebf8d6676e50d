#pragma once
// Displays read from XRandR: each active monitor is one display, numbered after its
// first output (display id = RandR output id) and named by the monitor's own name from
// that output's EDID, else by the output's name; the primary output is the main
// display. A monitor without an output (one that xrandr --setmonitor made, splitting a
// screen) is numbered kMonitorWithoutOutput plus its name's atom and named by it.
// Screen changes are reported through QGuiApplication's screen signals when a
// QGuiApplication exists. Thread-safe.

#include "platform/Displays.h"
#include "platform/linux/XConnection.h"

#include <QObject>
#include <QPointer>

#include <optional>
#include <string>
#include <string_view>

struct _XDisplay;

namespace wl {

// The monitor name descriptor of an EDID block; nullopt when the block has none.
std::optional<std::string> monitorNameFromEDID(std::string_view edid);

class XRandrDisplays final : public Displays {
public:
    // X resource ids and atoms use the low 29 bits.
    static constexpr std::uint32_t kMonitorWithoutOutput = 0x80000000u;

    // On the named display (the environment's $DISPLAY when empty); the screen signals
    // observers get are still those of QGuiApplication's own display.
    explicit XRandrDisplays(std::string displayName = {});
    ~XRandrDisplays() override;

    std::vector<Display> list() override;
    // A compositing manager owns the selection _NET_WM_CM_S<screen>.
    bool blendsTranslucentWindows() override;

protected:
    void observerAdded() override;

private:
    void watchScreens();
    // The connection, opened on first use and handed to the calling thread; under lock_.
    XConnection* connection();

    std::mutex lock_;
    XConnectionOnce x_;
    QPointer<QObject> watcher_;
    std::shared_ptr<XRandrDisplays*> alive_ = std::make_shared<XRandrDisplays*>(this);
};

} // namespace wl
