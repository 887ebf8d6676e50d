// The tray icon as drawn: its five pictures at twice the size, checked pixel by pixel
// where they differ (the dome's pointer-shaped hole, the band cleared around the slash,
// the marks), and one cached icon per state. The style kit's named colours, and its check
// boxes and radio buttons as the program draws them (the consent question's "Start with my
// microphone on" is one): unchecked, the indicator stands out from the window it sits on,
// on the dark palette and on a light desktop's.
#include "app/MenuBarIcon.h"
#include "style/Palette.h"
#include "style/ProgramStyle.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace wl {
namespace {

using State = MenuBarIcon::State;

// Opacity of the pixel of a 2x picture whose centre lies nearest to the point (in points).
int alphaAt(const QImage& image, double x, double y)
{
    return qAlpha(image.pixel(static_cast<int>(x * 2), static_cast<int>(y * 2)));
}

TEST(MenuBarIcon, FiveStatesAsDrawnAtTwiceTheSize)
{
    const QColor colour(0, 0, 0);
    std::map<State, QImage> pictures;
    for (auto state : {State::ready, State::helpRequested, State::inSession, State::attention, State::off}) {
        pictures[state] = MenuBarIcon::render(state, 2, colour);
        EXPECT_EQ(pictures[state].size(), QSize(44, 36));
    }
    const auto& ready = pictures[State::ready];
    const auto& dome = pictures[State::inSession];
    const auto& off = pictures[State::off];

    // Ready: the arch's left side and top, the pointer filled, the space between empty,
    // the arch open at the bottom.
    EXPECT_EQ(alphaAt(ready, 2.1, 12.1), 255) << "left side of the arch";
    EXPECT_EQ(alphaAt(ready, 9.1, 2.1), 255) << "top of the arch";
    EXPECT_EQ(alphaAt(ready, 9.1, 11.1), 255) << "inside the pointer";
    EXPECT_EQ(alphaAt(ready, 5.1, 12.1), 0) << "between arch and pointer";
    EXPECT_EQ(alphaAt(ready, 9.1, 17.6), 0) << "open at the bottom";
    EXPECT_EQ(alphaAt(ready, 19.1, 3.1), 0) << "no mark";

    // In a session: a solid dome with a hole the pointer's shape.
    EXPECT_EQ(alphaAt(dome, 5.1, 12.1), 255) << "the dome is filled";
    EXPECT_EQ(alphaAt(dome, 9.1, 16.6), 255) << "down to the bottom";
    EXPECT_EQ(alphaAt(dome, 9.1, 11.1), 0) << "the hole where the pointer is";
    EXPECT_EQ(alphaAt(dome, 8.1, 9.1), 0) << "the hole near the pointer's tip";
    EXPECT_EQ(alphaAt(dome, 19.1, 3.1), 0) << "no mark";

    // Help requested: the dot at the top right.
    EXPECT_EQ(alphaAt(pictures[State::helpRequested], 18.6, 3.1), 255);
    // Attention: the exclamation mark's line and dot.
    EXPECT_EQ(alphaAt(pictures[State::attention], 20.1, 7.1), 255);
    EXPECT_EQ(alphaAt(pictures[State::attention], 20.1, 15.1), 255);
    EXPECT_EQ(alphaAt(pictures[State::attention], 20.1, 12.6), 0) << "between line and dot";

    // Off: the slash itself, and a band cleared on both sides of it where it crosses the
    // arch and the pointer (1.4 points from its centre line).
    EXPECT_EQ(alphaAt(off, 5.1, 13.6), 255) << "on the slash";
    EXPECT_EQ(alphaAt(ready, 5.1, 13.6), 0);
    EXPECT_EQ(alphaAt(ready, 13.1, 3.1), 255) << "the arch where the slash will cross near it";
    EXPECT_EQ(alphaAt(off, 13.1, 3.1), 0) << "cleared beside the slash";
    EXPECT_EQ(alphaAt(ready, 9.1, 11.1), 255) << "the pointer where the slash will cross near it";
    EXPECT_EQ(alphaAt(off, 9.1, 11.1), 0) << "cleared beside the slash";
    EXPECT_EQ(alphaAt(off, 2.1, 12.1), 255) << "the arch away from the slash stays";

    // Drawn in the colour given.
    const QImage tinted = MenuBarIcon::render(State::ready, 2, QColor(200, 10, 20));
    EXPECT_EQ(QColor(tinted.pixel(static_cast<int>(2.1 * 2), static_cast<int>(12.1 * 2))).rgb(), qRgb(200, 10, 20));
}

TEST(MenuBarIcon, DescriptionsAndOneIconPerState)
{
    EXPECT_EQ(MenuBarIcon::description(State::ready), "Wickerlane, ready");
    EXPECT_EQ(MenuBarIcon::description(State::helpRequested), "Wickerlane, help requested");
    EXPECT_EQ(MenuBarIcon::description(State::inSession), "Wickerlane, in a session");
    EXPECT_EQ(MenuBarIcon::description(State::attention), "Wickerlane, needs attention");
    EXPECT_EQ(MenuBarIcon::description(State::off), "Wickerlane, help requests off");
    const QIcon first = MenuBarIcon::image(State::off);
    EXPECT_EQ(MenuBarIcon::image(State::off).cacheKey(), first.cacheKey());
    EXPECT_NE(MenuBarIcon::image(State::ready).cacheKey(), first.cacheKey());
    EXPECT_EQ(first.availableSizes().size(), 2u) << "1x and 2x";

    // Light on dark panels, dark on light ones; one cached icon per state and colour.
    EXPECT_EQ(MenuBarIcon::colourFor(QColor(220, 218, 213)), MenuBarIcon::lightPanelColour());
    EXPECT_EQ(MenuBarIcon::colourFor(QColor(30, 30, 30)), MenuBarIcon::panelColour());
    const QIcon dark = MenuBarIcon::image(State::off, MenuBarIcon::lightPanelColour());
    EXPECT_NE(dark.cacheKey(), first.cacheKey());
    EXPECT_EQ(MenuBarIcon::image(State::off, MenuBarIcon::lightPanelColour()).cacheKey(), dark.cacheKey());
}

TEST(StyleKit, TheNamedColours)
{
    EXPECT_EQ(accent().rgb(), qRgb(0x4C, 0xC3, 0xB8));
    EXPECT_EQ(accentFill().rgb(), qRgb(0x1B, 0x35, 0x33));
    EXPECT_EQ(cardFill().rgb(), qRgb(0x22, 0x24, 0x28));
    EXPECT_EQ(accent().rgb(), qRgb(0x4C, 0xC3, 0xB8));
    EXPECT_EQ(accentFill().rgb(), qRgb(0x1B, 0x35, 0x33));
    EXPECT_EQ(askingAccent().rgb(), qRgb(0xF5, 0xA5, 0x24));
    EXPECT_EQ(askingFill().rgb(), qRgb(0x2E, 0x26, 0x16));
    EXPECT_EQ(peopleBackground().rgb(), qRgb(0x14, 0x15, 0x18));
    EXPECT_EQ(cardFill().rgb(), qRgb(0x22, 0x24, 0x28));
    EXPECT_EQ(peopleDeepFill().rgb(), qRgb(0x0E, 0x1A, 0x19));
    for (const QColor* colour : {&accent(), &askingFill(), &peopleDeepFill()}) {
        EXPECT_EQ(colour->alpha(), 255);
        EXPECT_TRUE(colour->toRgb() == *colour) << "sRGB";
    }
    EXPECT_EQ(&accent(), &accent()) << "made once";
}

// The contrast ratio of two colours (1 to 21), as the accessibility guidelines count it.
double contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST(StyleKit, AnUncheckedBoxOrRadioButtonStandsOutOnDarkAndLightWindows)
{
    ProgramStyle style;
    const std::pair<const char*, QPalette> palettes[] = {{"dark", darkPalette()}, {"light", style.standardPalette()}};
    for (const auto& [name, palette] : palettes) {
        for (bool radio : {false, true}) {
            std::unique_ptr<QAbstractButton> button;
            if (radio)
                button = std::make_unique<QRadioButton>(QStringLiteral("Take over"));
            else
                button = std::make_unique<QCheckBox>(QStringLiteral("Start with my microphone on, so we can talk"));
            button->setStyle(&style);
            button->setPalette(palette);
            button->setAutoFillBackground(true);
            button->adjustSize();
            const QImage image = button->grab().toImage();
            QStyleOptionButton option;
            option.initFrom(button.get());
            const QRect indicator = style.subElementRect(
                radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, button.get());
            ASSERT_FALSE(indicator.isEmpty());
            // The indicator's most distinct pixel against the window: its outline, unchecked.
            const QColor ground = palette.color(QPalette::Window);
            double best = 1;
            for (int y = indicator.top(); y <= indicator.bottom(); ++y)
                for (int x = indicator.left(); x <= indicator.right(); ++x)
                    best = std::max(best, contrast(image.pixelColor(x, y), ground));
            // 3:1, the least the guidelines ask of a control's outline.
            EXPECT_GE(best, 3.0) << name << (radio ? " radio button" : " check box");
        }
    }
}

} // namespace
} // namespace wl
