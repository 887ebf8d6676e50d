#include "style/TextStyle.h"

#include <QFontDatabase>

namespace wl {

QFont textFont(TextStyle style, int weight)
{
    QFont font = QFont(QStringLiteral("DejaVu Sans"));
    int pixels = 13;
    int styleWeight = QFont::Normal;
    switch (style) {
    case TextStyle::title1: pixels = 19; break;
    case TextStyle::title2:
        pixels = 18;
        styleWeight = QFont::Bold;
        break;
    case TextStyle::title3: pixels = 16; break;
    case TextStyle::headline:
        pixels = 13;
        styleWeight = QFont::DemiBold;
        break;
    case TextStyle::body: pixels = 13; break;
    case TextStyle::callout: pixels = 12; break;
    case TextStyle::caption: pixels = 11; break;
    }
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight >= 0 ? weight : styleWeight));
    return font;
}

QFont monospacedFont(TextStyle style)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(textFont(style).pixelSize());
    return font;
}

QFont floatingFont(int pixels, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont scaledFont(QFont font, double factor, int weight)
{
    font.setPointSizeF(font.pointSizeF() * factor);
    if (weight >= 0)
        font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

QFont fixedFont(int pixels, int weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (pixels > 0)
        font.setPixelSize(pixels);
    if (weight >= 0)
        font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace wl
