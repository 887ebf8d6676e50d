#pragma once
// The one place that chooses the platform backends of the desktop program. main()
// calls chooseDesktopBackends() once, right after the QApplication exists, and hands
// what it returns to the program's objects; code above the platform layer only ever
// names the interfaces. Tests choose their own fakes and
// never call this.

#include "media/MediaEngine.h"
#include "platform/Platform.h"
#include "platform/ScreenSource.h"
#include "platform/Updater.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <string>

namespace wl {

class Defaults;
class DeviceIdentity;
class Prompts;

// Sets how the allocator gives memory back and installs the log; returns the settings,
// the key store (recorded per installation), the information keys (which read those
// settings), the Qt timers, and the rest: prompts, owner check (PAM), notifier,
// displays, input, cursor, keyboard, the host's system services and the screen it shares.
Platform chooseDesktopBackends();

// What the media engine is made with: the sound server of the audio devices (PulseAudio's,
// from PULSE_SERVER or the user's session) and the settings' WLLoopbackOnly.
MediaEngine::Options chooseMediaBackends(const Defaults& defaults);

// Puts the program into the desktop's list of applications (or points the entry at this
// copy), so that it can be opened again from there.
void refreshDesktopEntry();

// Whether this is the one running copy of the program for this user. When another copy
// runs, it is asked to show its main window and false comes back; otherwise later
// launches call onReopen (on the main thread).
bool claimSingleInstance(std::function<void()> onReopen);

// The updater for a feed and its public key: the program's files are those of the
// running program's folder; after an installation the new program is started. Its
// questions go to prompts; timers start its automatic checks; the settings are
// written out before the relaunch.
std::unique_ptr<Updater> makeDesktopUpdater(const QUrl& feed, const std::string& publicKey, Prompts& prompts,
                                            std::shared_ptr<Defaults> settings, TimerFactory timers);

// The screen as the desktop's X server shows it, for the host's sessions and
// screenshots.
std::unique_ptr<ScreenSource> makeDesktopScreenSource();

// Ends the process at once: settings are written out, and nothing is sent to anyone (no
// destructor runs that could say goodbye; a session in progress ends for the other
// side when the connection drops).
[[noreturn]] void quitNow(Defaults& settings);
// Starts the program anew (after an update) and ends this copy the same way.
[[noreturn]] void relaunchNow(Defaults& settings);

// Brings over, once, what a former separate helper program left behind into these
// settings and this identity's key store.
void migrateFormerHelperProgram(Defaults& defaults, DeviceIdentity& identity);

// Whether this computer's device key can be read (made on first use). When it can't,
// no new key is made: the reason is logged and an alert offers Quit; false when the
// user chose Quit.
bool identityReadableOrQuit(DeviceIdentity& identity, Prompts& prompts);

inline constexpr const char* kKeyUnreadableTitle = "Wickerlane can't read this computer's key";
inline constexpr const char* kKeyUnreadableText =
    "The key that identifies this computer to the computers it is paired with can't be read: the desktop "
    "keyring that keeps it is locked or not running, or its file can't be read. Without it Wickerlane can't "
    "connect to them or read its messages, and it won't make a new key in its place.\n\nUnlock the keyring "
    "(signing in again does), then open Wickerlane again.";

} // namespace wl
