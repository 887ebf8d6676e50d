#pragma once
// The colours of the program's own windows (a dark palette with a teal accent and an
// amber signal colour) and the dark style every window uses.
// Each colour is made once, on first read, from sRGB components, and is fully opaque;
// views that need a lighter tone apply their own opacity to a constant.

#include <QColor>
#include <QPalette>

class QApplication;
class QWidget;

namespace wl {

// The colour with these red, green and blue components (0…1) in sRGB, opacity 1.
QColor makeSRGBColor(double red, double green, double blue);

// The ask-for-help window.
const QColor& helpAccent(); // 4CC3B8
const QColor& helpAccentFill(); // 1B3533
const QColor& helpCardFill(); // 222428

// The people list of the main window.
const QColor& peopleAccent(); // 4CC3B8
const QColor& peopleAccentFill(); // 1B3533
const QColor& askingAccent(); // F5A524
const QColor& askingFill(); // 2E2616
const QColor& peopleBackground(); // 141518
const QColor& peopleCardFill(); // 222428
const QColor& peopleDeepFill(); // 0E1A19

// The dark palette of every window: light text on dark fills, the teal accent for
// selections and links.
QPalette darkPalette();
// Makes the dark style the application's: the Fusion style with the dark palette.
void applyDarkStyle(QApplication& app);
// The same palette for one window (and its children) only.
void applyDarkStyle(QWidget& window);

// The colour of text of lesser importance on the dark fills.
QColor secondaryText();
// The text of an action that destroys something ("Remove"): red on the dark fills.
const QColor& destructiveText(); // FF453A
// The primary text colour of the dark windows.
QColor primaryText();
// The colour of a pill button's title.
QColor pillText();

// The signal colours of the dark appearance.
QColor systemYellow();
QColor systemGreen();
QColor systemOrange();
QColor systemRed();

// The colour's tone at an opacity.
QColor withOpacity(QColor colour, double opacity);

} // namespace wl
