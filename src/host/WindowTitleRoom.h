#pragma once
// How wide a window must be for a window manager to show its title in full. Title bars
// set the title in a bold face, often a little larger than the application's, beside the
// window's icon and its buttons (minimise, maximise, close); a window narrower than that
// gets its title cut in the middle ("Pair a … helper").

#include <QString>

namespace wl {

// The window width at which `title` fits its title bar.
int widthForWindowTitle(const QString& title);

} // namespace wl
