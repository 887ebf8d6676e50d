#pragma once
// The small symbols of the shell's windows, drawn in code on a 24-unit grid and scaled
// to the size asked for: one colour each, except where a symbol names its second colour.

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace wl {

enum class Symbol {
    checkmarkCircleFill,
    checkmarkShield,
    circleFill,
    display,
    exclamationTriangleFill,
    eye,
    eyeSlash,
    folder,
    keyFill,
    lockFill,
    lockShieldFill,
    paperplaneFill,
    photoOnRectangle,
    fingerprint,
    xmarkCircleFill, // white mark on a circle of black at 70 %; the colour is the mark's
};

// The symbol `size` logical pixels square, for a screen of the given pixel ratio.
QPixmap symbolPixmap(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(Symbol symbol, int size, const QColor& colour);

} // namespace wl
