#pragma once
// InputPoster on XTest. Every event comes from the X server's "Virtual core XTEST"
// devices, which is how XInputLocalInput tells posted events from the user's. Keys are
// found through the keysyms of the current keymap; a keysym no key types is put on a
// spare key code for as long as this poster lives. Main thread only.

#include "platform/InputPoster.h"
#include "platform/linux/XConnection.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace wl {

class XTestInputPoster final : public InputPoster {
public:
    // The X display to post to; the environment's ($DISPLAY) when empty.
    explicit XTestInputPoster(std::string displayName = {});
    ~XTestInputPoster() override;

    bool available() override;
    void movePointer(int x, int y) override;
    void button(int button, bool down) override;
    bool hasKeysym(std::uint32_t keysym) override;
    bool key(std::uint32_t keysym, bool down) override;
    bool capsLockOn() override;

private:
    // The open connection (after available()).
    _XDisplay* display() const { return x_.opened()->display(); }
    // Reads mapping changes the server announced; reloads the keymap after one.
    void followMappingChanges();
    void loadKeymap();
    std::optional<unsigned> keycodeFor(std::uint32_t keysym);
    std::optional<unsigned> spareKeycodeFor(std::uint32_t keysym);

    bool hasXTest_ = false;
    XConnectionOnce x_;
    // The keymap: per key code, its keysyms by level.
    int minKeycode_ = 0, maxKeycode_ = 0;
    std::vector<std::vector<std::uint32_t>> keymap_;
    bool keymapLoaded_ = false;
    // Keysyms put on spare key codes, restored to nothing when the poster goes.
    std::map<std::uint32_t, unsigned> spare_;
};

} // namespace wl
