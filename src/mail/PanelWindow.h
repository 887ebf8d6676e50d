#pragma once
// A small window of the application shell that a controller below the shell keeps and
// shows. The controller decides when a panel is made, shown, put away and dropped; the
// shell, which alone draws windows, decides how (it hands the controller a maker).

#include <memory>

namespace wl {

class PanelWindow {
public:
    virtual ~PanelWindow() = default;

    // Centred on the screen.
    virtual void centre() = 0;
    // Shown, raised and activated, with the program brought to the front.
    virtual void present() = 0;
    // Taken off the screen; kept for a later present().
    virtual void orderOut() = 0;
    virtual bool isOnScreen() const = 0;
    // Off the screen now and deleted once the event that asked for it is over (a panel
    // may be dropped from one of its own buttons).
    virtual void discardLater() = 0;
};

} // namespace wl
