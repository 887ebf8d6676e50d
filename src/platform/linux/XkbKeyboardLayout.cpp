#include "platform/linux/XkbKeyboardLayout.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <algorithm>

namespace wl {

XkbKeyboardLayout::XkbKeyboardLayout(std::string displayName) : displayName_(std::move(displayName)) { }

XkbKeyboardLayout::~XkbKeyboardLayout()
{
    if (display_)
        XCloseDisplay(display_);
}

bool XkbKeyboardLayout::open()
{
    assertMainThread("XkbKeyboardLayout::open");
    if (display_)
        return true;
    if (triedToOpen_)
        return false;
    triedToOpen_ = true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_) {
        Log::line("Wickerlane: cannot open the X display; the keyboard's keys are unknown");
        return false;
    }
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display_, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        Log::line("Wickerlane: the X server has no XKB extension; the keyboard's keys are unknown");
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    // Keyboard map changes then reach this connection and refresh Xlib's copy.
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbMapNotify, XkbAllMapComponentsMask, XkbAllMapComponentsMask);
    return true;
}

std::vector<std::uint32_t> XkbKeyboardLayout::baseKeysyms(std::uint32_t keycode)
{
    std::vector<std::uint32_t> result;
    if (keycode < 8 || keycode > 255 || !open())
        return result;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
        else if (event.type == xkbEventBase_ && reinterpret_cast<XkbAnyEvent*>(&event)->xkb_type == XkbMapNotify)
            XkbRefreshKeyboardMapping(reinterpret_cast<XkbMapNotifyEvent*>(&event));
    }
    XkbStateRec state{};
    unsigned current = 0;
    if (XkbGetState(display_, XkbUseCoreKbd, &state) == Success)
        current = state.group;
    std::vector<unsigned> groups{current};
    for (unsigned group = 0; group < XkbNumKbdGroups; ++group)
        if (group != current)
            groups.push_back(group);
    for (unsigned group : groups) {
        KeySym keysym = XkbKeycodeToKeysym(display_, KeyCode(keycode), int(group), 0);
        if (keysym != NoSymbol && std::find(result.begin(), result.end(), std::uint32_t(keysym)) == result.end())
            result.push_back(std::uint32_t(keysym));
    }
    return result;
}

} // namespace wl
