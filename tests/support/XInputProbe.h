#pragma once
// X input seen from the outside, for tests of posted and local input.
//
// XEventProbe: a plain window of its own colour at a place of the root window that
// records every XI2 pointer and key event it gets, with the device the event came from
// (sourceid), the pixel, the button or key, the modifiers, and the keysym the key had
// at that moment. It takes the keyboard focus.
//
// LocalUser: input from a device other than the one posted events come from, as the
// person at the machine: a second master pointer and keyboard (XIAddMaster), driven
// through their own XTEST devices by a connection whose client pointer they are.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct _XDisplay;

namespace wl::test {

struct ProbeEvent {
    enum class Type { buttonPress, buttonRelease, motion, keyPress, keyRelease };
    Type type = Type::motion;
    int detail = 0; // button or key code
    int sourceid = 0;
    int deviceid = 0;
    double rootX = 0, rootY = 0; // root-window pixels
    double x = 0, y = 0; // in the window
    unsigned modifiers = 0; // effective X modifier state
    unsigned buttonMask = 0; // buttons held (bit n for button n)
    std::uint32_t keysym = 0; // of a key event, without modifiers
    std::chrono::steady_clock::time_point received;
};

class XEventProbe {
public:
    // display: the X display's name; empty for $DISPLAY.
    XEventProbe(const std::string& display, int x, int y, int width, int height, std::uint32_t rgb = 0x3060a0);
    ~XEventProbe();
    XEventProbe(const XEventProbe&) = delete;
    XEventProbe& operator=(const XEventProbe&) = delete;

    bool ok() const { return display_ != nullptr; }
    unsigned long window() const { return window_; }
    // Reads the events that arrived.
    void pump();
    const std::vector<ProbeEvent>& events() const { return events_; }
    std::vector<ProbeEvent> eventsOf(ProbeEvent::Type type) const;
    void clear() { events_.clear(); }
    // Pumps (and runs the Qt event loop) until pred holds or the time is up.
    bool waitFor(const std::function<bool(const std::vector<ProbeEvent>&)>& pred, int timeoutMs = 5000);
    // The source ids of the X server's "Virtual core XTEST" devices.
    std::vector<int> coreXTestDevices();
    // Gives the window the keyboard focus again.
    void focus();
    // Gives the window a cursor of the X cursor font (XC_hand2 is 60), or none.
    void setFontCursor(unsigned shape);
    void unsetCursor();

private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    int opcode_ = 0;
    unsigned long cursor_ = 0;
    std::vector<ProbeEvent> events_;
};

// The pointer's cursor as XFixes reports it, pixels as premultiplied ARGB.
struct CursorPicture {
    int width = 0, height = 0, hotSpotX = 0, hotSpotY = 0;
    std::vector<std::uint32_t> pixels;
};
CursorPicture currentCursorPicture();
// Whether Caps Lock is on.
bool capsLockIsOn();

class LocalUser {
public:
    explicit LocalUser(const std::string& display);
    ~LocalUser();
    LocalUser(const LocalUser&) = delete;
    LocalUser& operator=(const LocalUser&) = delete;

    bool ok() const { return pointer_ > 0; }
    int pointerDevice() const { return pointer_; }
    void moveTo(int x, int y);
    void press(int button);
    void release(int button);
    void click(int button = 1);
    void key(unsigned keycode, bool down);

private:
    _XDisplay* display_ = nullptr;
    int pointer_ = 0;
};

} // namespace wl::test
