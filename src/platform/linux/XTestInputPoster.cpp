#include "platform/linux/XTestInputPoster.h"

#include "platform/Log.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace wl {

XTestInputPoster::XTestInputPoster(std::string displayName)
    : x_(
          "the helper's input can't be posted",
          [this](XConnection& x) {
              int event = 0, error = 0, major = 0, minor = 0;
              hasXTest_ = XTestQueryExtension(x.display(), &event, &error, &major, &minor);
              if (!hasXTest_)
                  Log::line("Wickerlane: the X server has no XTest extension; the helper's input can't be posted");
              // Posted events must not wait for a grab of this connection.
              XTestGrabControl(x.display(), True);
              return std::string();
          },
          std::move(displayName))
{
}

XTestInputPoster::~XTestInputPoster()
{
    if (!x_.opened())
        return;
    for (const auto& [keysym, keycode] : spare_) {
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(display(), int(keycode), 2, none, 1);
    }
    XSync(display(), False);
}

bool XTestInputPoster::available()
{
    return x_.get() && hasXTest_;
}

void XTestInputPoster::movePointer(int x, int y)
{
    if (!available())
        return;
    XTestFakeMotionEvent(display(), -1, x, y, CurrentTime);
    XFlush(display());
}

void XTestInputPoster::button(int button, bool down)
{
    if (!available() || button < 1 || button > 255)
        return;
    XTestFakeButtonEvent(display(), unsigned(button), down ? True : False, CurrentTime);
    XFlush(display());
}

void XTestInputPoster::followMappingChanges()
{
    while (XPending(display()) > 0) {
        XEvent event;
        XNextEvent(display(), &event);
        if (event.type == MappingNotify)
            keymapLoaded_ = false;
    }
}

void XTestInputPoster::loadKeymap()
{
    keymapLoaded_ = true;
    keymap_.clear();
    XDisplayKeycodes(display(), &minKeycode_, &maxKeycode_);
    int perKeycode = 0;
    const int count = maxKeycode_ - minKeycode_ + 1;
    KeySym* map = XGetKeyboardMapping(display(), KeyCode(minKeycode_), count, &perKeycode);
    if (!map)
        return;
    keymap_.resize(std::size_t(count));
    for (int code = 0; code < count; ++code)
        for (int level = 0; level < perKeycode; ++level)
            keymap_[std::size_t(code)].push_back(std::uint32_t(map[code * perKeycode + level]));
    XFree(map);
}

std::optional<unsigned> XTestInputPoster::keycodeFor(std::uint32_t keysym)
{
    followMappingChanges();
    if (!keymapLoaded_)
        loadKeymap();
    if (keysym == NoSymbol)
        return std::nullopt;
    // Level by level, so a key that types the keysym unshifted wins.
    std::size_t levels = 0;
    for (const auto& row : keymap_)
        levels = std::max(levels, row.size());
    for (std::size_t level = 0; level < levels; ++level)
        for (std::size_t code = 0; code < keymap_.size(); ++code)
            if (level < keymap_[code].size() && keymap_[code][level] == keysym)
                return unsigned(minKeycode_) + unsigned(code);
    return std::nullopt;
}

std::optional<unsigned> XTestInputPoster::spareKeycodeFor(std::uint32_t keysym)
{
    auto known = spare_.find(keysym);
    if (known != spare_.end())
        return known->second;
    for (std::size_t code = keymap_.size(); code-- > 0;) {
        bool empty = true;
        for (std::uint32_t entry : keymap_[code])
            empty = empty && entry == NoSymbol;
        const unsigned keycode = unsigned(minKeycode_) + unsigned(code);
        bool taken = false;
        for (const auto& [sym, spare] : spare_)
            taken = taken || spare == keycode;
        if (!empty || taken)
            continue;
        KeySym both[2] = {KeySym(keysym), KeySym(keysym)};
        XChangeKeyboardMapping(display(), int(keycode), 2, both, 1);
        XSync(display(), False);
        spare_[keysym] = keycode;
        keymapLoaded_ = false;
        return keycode;
    }
    return std::nullopt;
}

bool XTestInputPoster::hasKeysym(std::uint32_t keysym)
{
    if (!available())
        return false;
    return keycodeFor(keysym).has_value();
}

bool XTestInputPoster::key(std::uint32_t keysym, bool down)
{
    if (!available())
        return false;
    auto keycode = keycodeFor(keysym);
    if (!keycode)
        keycode = spareKeycodeFor(keysym);
    if (!keycode)
        return false;
    XTestFakeKeyEvent(display(), *keycode, down ? True : False, CurrentTime);
    XFlush(display());
    return true;
}

bool XTestInputPoster::capsLockOn()
{
    if (!available())
        return false;
    XkbStateRec state{};
    if (XkbGetState(display(), XkbUseCoreKbd, &state) != Success)
        return false;
    return (state.locked_mods & LockMask) != 0;
}

} // namespace wl
