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
// The plain windows (the pairing sheet and panel, the helper's session screens) size their
// text from a widget's own font: the font at a factor of its point size, in a weight
// (-1 keeps it).
QFont scaledFont(QFont font, double factor, int weight = -1);
// The system's fixed-width font, at a pixel size (0 keeps its own) and weight.
QFont fixedFont(int pixels = 0, int weight = -1);
// The application's own face at a pixel size and weight: the windows that float over the
// shared screen (the session banner, the suggestion card, the guide's name tag).
QFont floatingFont(int pixels, QFont::Weight weight);

} // namespace wl
