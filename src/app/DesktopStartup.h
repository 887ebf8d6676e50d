#pragma once
// The one place that chooses the platform backends of the desktop program. main()
// calls chooseDesktopBackends() once, right after the QApplication exists; code above
// the platform layer only ever names the interfaces. Tests choose their own fakes and
// never call this.

#include <string>

namespace wl {

class Prompts;

// Settings, key store (recorded per installation), information keys, log, prompts,
// owner check (PAM), notifier, displays, timers, the host's system services, and the
// audio device the peer-connection factory will use.
void chooseDesktopBackends();

// Brings over, once, what a former separate helper program left behind.
void migrateFormerHelperProgram();

// Whether this computer's device key can be read (made on first use). When it can't,
// no new key is made: the reason is logged and an alert offers Quit; false when the
// user chose Quit.
bool identityReadableOrQuit(Prompts& prompts);

inline constexpr const char* kKeyUnreadableTitle = "Wickerlane can't read this computer's key";
inline constexpr const char* kKeyUnreadableText =
    "The key that identifies this computer to the computers it is paired with can't be read: the desktop "
    "keyring that keeps it is locked or not running, or its file can't be read. Without it Wickerlane can't "
    "connect to them or read its messages, and it won't make a new key in its place.\n\nUnlock the keyring "
    "(signing in again does), then open Wickerlane again.";

} // namespace wl
