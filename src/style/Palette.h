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

// The teal accent, its dark fill and the fill of a card: the ask-for-help window, the
// people list of the main window, selections and links.
const QColor& accent(); // 4CC3B8
const QColor& accentFill(); // 1B3533
const QColor& cardFill(); // 222428

// The people list of the main window.
const QColor& askingAccent(); // F5A524
const QColor& askingFill(); // 2E2616
const QColor& peopleBackground(); // 141518
const QColor& peopleDeepFill(); // 0E1A19

// The windows that float over the shared screen: the session banner, the suggestion card
// and the guide's drawings. Their text and outlines are white at an opacity.
const QColor& guideAccent(); // 0E6B66: every guide drawing and the suggestion card
const QColor& sessionBannerFill(); // 1B1D1F
const QColor& controlModeAccent(); // FBBF24: the banner's dot while the helper has control
const QColor& floatingText(); // FFFFFF

// The password cards: a card's fill and the box that holds the password.
const QColor& passwordCardFill(); // FFFFFF at 6 %
const QColor& passwordBoxFill(); // 000000 at 35 %
// The note of a request for help in the people list.
const QColor& requestNoteText(); // E8DCC6

// Fields and plain controls of the forms (the help request's note, the password form).
const QColor& fieldFill(); // 1C1D20
const QColor& controlFill(); // 3A3C42: a plain button's fill, a field's or a segment's edge
const QColor& controlPressedFill(); // 4A4C52
const QColor& segmentFill(); // 2C2E33
const QColor& segmentCheckedFill(); // 5A5D66
const QColor& menuSeparator(); // 3D4046

// The tray icon: light on a dark panel, dark on a light one.
const QColor& trayIconOnDarkPanel(); // ECEDEF
const QColor& trayIconOnLightPanel(); // 202124

// The texts of the pairing sheet and of the helper's session screens, which keep the
// system's window colours.
const QColor& quietText(); // 6E6E73
const QColor& errorText(); // D70015
const QColor& pairedText(); // 30B0C7
const QColor& takenOverText(); // C93400: the helper has the mouse
const QColor& microphoneOnText(); // 248A3D
// A problem said in a dialog that keeps the desktop's window colours (the owner check's
// "That password isn't right"): a red that reads on that window's ground.
QColor problemTextOn(const QColor& window); // FF453A on a dark window, C41E1A on a light one

// The dark palette of every window: light text on dark fills, the teal accent for
// selections and links.
QPalette darkPalette();
// Makes the dark style the application's: the program's style (ProgramStyle.h) with the
// dark palette.
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
// The colour with an alpha of 0…255.
QColor withAlpha(QColor colour, int alpha);

} // namespace wl
