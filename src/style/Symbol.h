#pragma once
// The program's symbols, drawn in code in one colour each (except where a symbol names its
// second colour) and scaled to the size asked for. Two families share the enum: the shell's
// symbols, drawn on a 24-unit grid straight at the pixel size, and the people list's, drawn
// in a unit square at twice the size and scaled down (which smooths their thin strokes).

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace wl {

enum class Symbol {
    // The shell's windows (24-unit grid), up to and with xmarkCircleFill.
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
    // The people list (unit square).
    handRaised, // people asking
    laptopAndPhone, // the avatar of "My Macs"
    chevronDown, // a card's expansion
    photoStack, // a request's pictures
    replyArrow, // a reply sent
    lockShield, // a password sent securely
    checkmarkSeal, // a password opened
    key, // a password
    lock, // send a password
};

// The symbol `size` logical pixels square on a transparent ground, for a screen of the
// given pixel ratio.
QImage symbolImage(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio = 1.0);
QPixmap symbolPixmap(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio = 1.0);
// The symbol as an icon, at single and double pixel ratio.
QIcon symbolIcon(Symbol symbol, int size, const QColor& colour);

} // namespace wl
