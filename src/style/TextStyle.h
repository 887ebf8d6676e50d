#pragma once
// The program's type scale: the text styles of every window, as sizes and weights of one
// face.

#include <QFont>

namespace wl {

enum class TextStyle {
    title1, // 19 px (a sheet's heading)
    title2, // 18 px bold
    title3, // 16 px
    headline, // 13 px semibold
    body, // 13 px
    callout, // 12 px
    caption, // 11 px
};

// The font of a text style; `weight` overrides the style's own (-1 keeps it).
QFont textFont(TextStyle style, int weight = -1);
QFont monospacedFont(TextStyle style);

} // namespace wl
