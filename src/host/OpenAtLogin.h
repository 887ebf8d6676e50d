#pragma once
// Open at Login: the program's login item, and the setting WLLoginItemPath that
// remembers which copy of the program it was registered for.

namespace wl {

class Defaults;
class LoginItem;

inline constexpr const char* kLoginItemPathKey = "WLLoginItemPath";

// Registers or unregisters the login item; on success remembers the program's path (or
// forgets it); a failure is logged and changes nothing.
void setOpensAtLogin(LoginItem& item, Defaults& defaults, bool on);
// At start-up: an enabled login item registered for another copy of the program is
// registered again for this one.
void refreshLoginItem(LoginItem& item, Defaults& defaults);
bool opensAtLogin(LoginItem& item);

} // namespace wl
