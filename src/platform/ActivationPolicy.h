#pragma once
// Whether the program presents itself as a regular application (while its main window is
// open) or as an accessory that lives in the tray. X11 desktops have no Dock and no
// application menu to show or hide, so the policy is only recorded (and read by tests);
// the windows themselves raise and activate when shown.

namespace wl {

enum class ActivationPolicy { accessory, regular };

void setActivationPolicy(ActivationPolicy policy);
ActivationPolicy activationPolicy();

} // namespace wl
