#include "platform/linux/XkbKeyboardLayout.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <algorithm>

namespace wl {

XkbKeyboardLayout::XkbKeyboardLayout(std::string displayName)
    : x_(
          "the keyboard's keys are unknown",
          [this](XConnection& x) {
              int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
              if (!XkbQueryExtension(x.display(), &opcode, &xkbEventBase_, &error, &major, &minor))
                  return std::string("XKB extension");
              // Keyboard map changes then reach this connection and refresh Xlib's copy.
              XkbSelectEventDetails(x.display(), XkbUseCoreKbd, XkbMapNotify, XkbAllMapComponentsMask,
                                    XkbAllMapComponentsMask);
              return std::string();
          },
          std::move(displayName))
{
}

XkbKeyboardLayout::~XkbKeyboardLayout() = default;

std::vector<std::uint32_t> XkbKeyboardLayout::baseKeysyms(std::uint32_t keycode)
{
    std::vector<std::uint32_t> result;
    XConnection* x = keycode < 8 || keycode > 255 ? nullptr : x_.get();
    if (!x)
        return result;
    ::Display* display = x->display();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
        else if (event.type == xkbEventBase_ && reinterpret_cast<XkbAnyEvent*>(&event)->xkb_type == XkbMapNotify)
            XkbRefreshKeyboardMapping(reinterpret_cast<XkbMapNotifyEvent*>(&event));
    }
    XkbStateRec state{};
    unsigned current = 0;
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
        current = state.group;
    std::vector<unsigned> groups{current};
    for (unsigned group = 0; group < XkbNumKbdGroups; ++group)
        if (group != current)
            groups.push_back(group);
    for (unsigned group : groups) {
        KeySym keysym = XkbKeycodeToKeysym(display, KeyCode(keycode), int(group), 0);
        if (keysym != NoSymbol && std::find(result.begin(), result.end(), std::uint32_t(keysym)) == result.end())
            result.push_back(std::uint32_t(keysym));
    }
    return result;
}

} // namespace wl
