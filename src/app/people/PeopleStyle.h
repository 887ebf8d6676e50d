#pragma once
// The look of the helper's people list: its text styles, the symbols drawn in code, the
// rounded cards and dividers, plain buttons and pill buttons. Every text that comes from
// another machine (names, topics, notes, messages) goes into labels as plain text, never
// as markup.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <string>

namespace wl {

enum class TextStyle { body, caption, callout, headline, title3, title2 };

// The font of a text style, at a given weight (the style's own when unset).
QFont peopleFont(TextStyle style, int weight = -1);

// The primary text colour of the dark windows.
QColor primaryText();
// The colour of a pill button's title.
QColor pillText();
// The colour's tone at an opacity.
QColor withOpacity(QColor colour, double opacity);

// Symbols drawn in code.
enum class Symbol {
    handRaised, // people asking
    laptopAndPhone, // the avatar of "My Macs"
    chevronDown, // a card's expansion
    photoOnRectangle, // pictures
    replyArrow, // a reply sent
    lockShield, // a password sent securely
    checkmarkSeal, // a password opened
    key, // a password
    lock, // send a password
};

// The symbol drawn in the colour on a transparent square of `size` pixels.
QImage renderSymbol(Symbol symbol, const QColor& colour, int size);
QIcon symbolIcon(Symbol symbol, const QColor& colour, int size);

// A symbol shown at a fixed size, optionally turned about its centre.
class SymbolView final : public QWidget {
public:
    SymbolView(Symbol symbol, const QColor& colour, int size, QWidget* parent = nullptr);
    void setRotation(double degrees);
    double rotation() const { return rotation_; }
    Symbol symbol() const { return symbol_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol symbol_;
    QColor colour_;
    int size_;
    double rotation_ = 0;
};

// A label for text as it is, in a style and colour; wraps when asked.
QLabel* plainLabel(const std::string& text, TextStyle style, const QColor& colour, QWidget* parent = nullptr,
                   bool wraps = false, int weight = -1);
void setTextColour(QWidget* widget, const QColor& colour);

// A panel drawn as a rounded rectangle with continuous-looking corners: a fill and an
// optional outline drawn inside its edge.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(const QColor& fill, double radius, QWidget* parent = nullptr);
    void setOutline(const QColor& colour, double width);
    const QColor& fill() const { return fill_; }
    const QColor& outline() const { return outline_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor outline_ = Qt::transparent;
    double outlineWidth_ = 0;
    double radius_;
};

// A one-pixel line, inset on the left and right.
class Divider final : public QWidget {
public:
    Divider(const QColor& colour, int inset, QWidget* parent = nullptr);
    const QColor& colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
    int inset_;
};

// A button without a bezel: its title (and symbol) in a colour and font.
QPushButton* plainButton(const QString& title, const QFont& font, const QColor& colour, QWidget* parent = nullptr);

// A button on a coloured rounded rectangle of radius 9, 32 pixels high, with 14 pixels
// of padding on each side, its title bold in the callout size; optionally a symbol
// before the title.
class PillButton final : public QPushButton {
public:
    PillButton(const QString& title, const QColor& fill, const QColor& textColour, QWidget* parent = nullptr);
    void setSymbol(Symbol symbol);
    const QColor& fill() const { return fill_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor textColour_;
    bool hasSymbol_ = false;
    Symbol symbol_ = Symbol::lock;
};

} // namespace wl
