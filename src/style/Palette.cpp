#include "style/Palette.h"

#include "style/ProgramStyle.h"

#include <QApplication>
#include <QWidget>

namespace wl {

QColor makeSRGBColor(double red, double green, double blue)
{
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue), 1.0f);
}

namespace {
QColor of255(int red, int green, int blue)
{
    return makeSRGBColor(red / 255.0, green / 255.0, blue / 255.0);
}
} // namespace

const QColor& accent()
{
    static const QColor colour = of255(76, 195, 184);
    return colour;
}

const QColor& accentFill()
{
    static const QColor colour = of255(27, 53, 51);
    return colour;
}

const QColor& cardFill()
{
    static const QColor colour = of255(34, 36, 40);
    return colour;
}

const QColor& destructiveText()
{
    static const QColor colour = of255(255, 69, 58);
    return colour;
}

const QColor& askingAccent()
{
    static const QColor colour = of255(245, 165, 36);
    return colour;
}

const QColor& askingFill()
{
    static const QColor colour = of255(46, 38, 22);
    return colour;
}

const QColor& peopleBackground()
{
    static const QColor colour = of255(20, 21, 24);
    return colour;
}

const QColor& peopleDeepFill()
{
    static const QColor colour = of255(14, 26, 25);
    return colour;
}

const QColor& guideAccent()
{
    static const QColor colour(14, 107, 102);
    return colour;
}

const QColor& sessionBannerFill()
{
    static const QColor colour(27, 29, 31);
    return colour;
}

const QColor& controlModeAccent()
{
    static const QColor colour(251, 191, 36);
    return colour;
}

const QColor& floatingText()
{
    static const QColor colour(Qt::white);
    return colour;
}

const QColor& passwordCardFill()
{
    static const QColor colour = QColor(255, 255, 255, qRound(0.06 * 255));
    return colour;
}

const QColor& passwordBoxFill()
{
    static const QColor colour = QColor(0, 0, 0, qRound(0.35 * 255));
    return colour;
}

const QColor& requestNoteText()
{
    static const QColor colour = makeSRGBColor(232 / 255.0, 220 / 255.0, 198 / 255.0);
    return colour;
}

const QColor& fieldFill()
{
    static const QColor colour = QColor(0x1c, 0x1d, 0x20);
    return colour;
}

const QColor& controlFill()
{
    static const QColor colour = QColor(0x3a, 0x3c, 0x42);
    return colour;
}

const QColor& controlPressedFill()
{
    static const QColor colour = QColor(0x4a, 0x4c, 0x52);
    return colour;
}

const QColor& segmentFill()
{
    static const QColor colour = QColor(0x2c, 0x2e, 0x33);
    return colour;
}

const QColor& segmentCheckedFill()
{
    static const QColor colour = QColor(0x5a, 0x5d, 0x66);
    return colour;
}

const QColor& menuSeparator()
{
    static const QColor colour = QColor(0x3d, 0x40, 0x46);
    return colour;
}

const QColor& trayIconOnDarkPanel()
{
    static const QColor colour = QColor(236, 237, 239);
    return colour;
}

const QColor& trayIconOnLightPanel()
{
    static const QColor colour = QColor(32, 33, 36);
    return colour;
}

const QColor& quietText()
{
    static const QColor colour = QColor(0x6e, 0x6e, 0x73);
    return colour;
}

const QColor& errorText()
{
    static const QColor colour = QColor(0xd7, 0x00, 0x15);
    return colour;
}

const QColor& pairedText()
{
    static const QColor colour = QColor(0x30, 0xb0, 0xc7);
    return colour;
}

const QColor& takenOverText()
{
    static const QColor colour = QColor(0xc9, 0x34, 0x00);
    return colour;
}

const QColor& microphoneOnText()
{
    static const QColor colour = QColor(0x24, 0x8a, 0x3d);
    return colour;
}

QColor problemTextOn(const QColor& window)
{
    static const QColor onLight = QColor(0xc4, 0x1e, 0x1a);
    return window.lightness() < 128 ? destructiveText() : onLight;
}

QColor secondaryText()
{
    return of255(152, 156, 163);
}

QPalette darkPalette()
{
    const QColor window = of255(30, 31, 35);
    const QColor text = of255(232, 233, 235);
    const QColor disabledText = of255(110, 113, 119);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, peopleBackground());
    palette.setColor(QPalette::AlternateBase, cardFill());
    palette.setColor(QPalette::ToolTipBase, cardFill());
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, secondaryText());
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, of255(48, 50, 55));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, askingAccent());
    palette.setColor(QPalette::Light, of255(70, 72, 78));
    palette.setColor(QPalette::Midlight, of255(56, 58, 63));
    palette.setColor(QPalette::Mid, of255(40, 42, 46));
    palette.setColor(QPalette::Dark, of255(16, 17, 19));
    palette.setColor(QPalette::Shadow, of255(0, 0, 0));
    palette.setColor(QPalette::Highlight, accent());
    palette.setColor(QPalette::HighlightedText, peopleDeepFill());
    palette.setColor(QPalette::Link, accent());
    palette.setColor(QPalette::LinkVisited, accent());
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, of255(64, 66, 72));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
    return palette;
}

void applyDarkStyle(QApplication& app)
{
    app.setStyle(new ProgramStyle);
    app.setPalette(darkPalette());
    // Separators that show on the dark menus.
    app.setStyleSheet(QStringLiteral("QMenu::separator { height: 1px; background: %1; margin: 4px 8px; }")
                          .arg(menuSeparator().name()));
}

void applyDarkStyle(QWidget& window)
{
    window.setPalette(darkPalette());
    window.setAutoFillBackground(true);
}

QColor systemYellow()
{
    return QColor(255, 214, 10);
}

QColor systemGreen()
{
    return QColor(48, 209, 88);
}

QColor systemOrange()
{
    return QColor(255, 159, 10);
}

QColor systemRed()
{
    return destructiveText();
}

QColor primaryText()
{
    static const QColor colour = darkPalette().color(QPalette::WindowText);
    return colour;
}

QColor pillText()
{
    return makeSRGBColor(20 / 255.0, 18 / 255.0, 10 / 255.0);
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
    return colour;
}

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

} // namespace wl
