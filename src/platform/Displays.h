#pragma once
// The displays of this machine. The desktop backend reads the XRandR monitors: a
// display's id is its RandR output id, the main display is the primary output.
// Start-up chooses it; tests hand in FixedDisplays (tests/support). The stand-in
// (none()) has no displays.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wl {

struct Display {
    std::uint32_t id = 0; // RandR output id
    std::string name; // the monitor's own name (from its EDID) where it has one, else the output's
    std::string output; // the RandR output's name, e.g. "HDMI-1"
    int x = 0, y = 0; // position in the root window
    int width = 0, height = 0; // pixels
    bool main = false; // the primary output
    bool operator==(const Display&) const = default;
};

class Displays {
public:
    virtual ~Displays() = default;

    // The current displays, main display first, then in the system's order. Empty
    // when no display can be read.
    virtual std::vector<Display> list() = 0;

    // Whether a compositing manager blends translucent windows with what lies beneath
    // them. Without one, the see-through parts of a window show as black, so a window
    // that should only draw a few marks over the screen must shape itself to them.
    virtual bool blendsTranslucentWindows() { return true; }

    // The main display's id; 0 when there is no display.
    std::uint32_t mainDisplayID();
    std::optional<Display> display(std::uint32_t id);

    // Screen changes (added, removed, moved, resized, new primary). Observers are
    // called on the main thread. Returns a token for removeObserver.
    int addObserver(std::function<void()> observer);
    void removeObserver(int token);

    // The safe stand-in: nothing known, nothing done.
    static std::shared_ptr<Displays> none();

protected:
    // Backends call this when the configuration changed.
    void notifyObservers();
    // Called when an observer is added, so a backend can start watching late (for
    // example once the GUI application exists).
    virtual void observerAdded() { }

private:
    std::mutex observerLock_;
    std::map<int, std::function<void()>> observers_;
    int nextToken_ = 1;
};

} // namespace wl
