#pragma once
// The parts the program's windows are built from: labels in the text styles, symbols in a
// label or a view of their own, rounded fills and outlines, dividers, and the button looks
// (prominent, plain, pill).

#include "style/Palette.h"
#include "style/Symbol.h"
#include "style/TextStyle.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <string>

class QAction;
class QMenu;

namespace wl {

// A label in a style and colour (the window's text colour when invalid), wrapping when
// asked; objectName set when given.
QLabel* makeLabel(const QString& text, TextStyle style, const QColor& colour = QColor(),
                  const char* objectName = nullptr, bool wraps = false, QWidget* parent = nullptr);
void setLabelColour(QLabel& label, const QColor& colour);

// A symbol shown at a size in a colour.
QLabel* makeSymbolLabel(Symbol symbol, int size, const QColor& colour, QWidget* parent = nullptr);

// A box with a rounded fill and an optional outline drawn inside its edge, dashed when
// asked. Children are laid out inside it as in any widget.
class RoundedBox : public QWidget {
    Q_OBJECT
public:
    explicit RoundedBox(QWidget* parent = nullptr);
    void setFill(const QColor& fill);
    void setRadius(qreal radius);
    void setOutline(const QColor& colour, qreal width, bool dashed = false);
    const QColor& fill() const { return fill_; }
    qreal outlineWidth() const { return outlineWidth_; }
    const QColor& outlineColour() const { return outlineColour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_ = Qt::transparent;
    qreal radius_ = 10;
    QColor outlineColour_ = Qt::transparent;
    qreal outlineWidth_ = 0;
    bool dashed_ = false;
};

// Button looks.
void makeProminent(QPushButton& button, const QColor& tint); // filled with the tint
void makeBorderless(QPushButton& button); // a symbol or text without a frame
void makeLarge(QPushButton& button); // the large control size

// Takes a widget out of its window at once and deletes it once the current event is over
// (it may be the sender of that event): hidden, without parent or name.
void discardWidget(QWidget* widget);

// A short text set in "…" when it doesn't fit the label's width.
void setElidedText(QLabel& label, const QString& text, int width);

// The widest a menu item's text is drawn, in pixels: about the program's longest fixed
// item. Names, replies and messages from another machine can be far longer.
inline constexpr int kMenuTextWidth = 380;
// Sets the text of an item of `menu` (or of a submenu's title in it) as text as it is:
// "&" shows as itself, and past kMenuTextWidth in the menu's font the text ends in "…"
// before `tail`, which always shows whole. The whole text of a cut item is its tool tip,
// as plain text, which the menu shows when the pointer rests on the item.
void setMenuItemText(QMenu& menu, QAction& item, const QString& text, const QString& tail = {});

// A one-line label for text as it is that ends in "…" where its width cuts it, again at
// every width it gets; the whole text is its tooltip. Line breaks in the text show as
// spaces.
class ElidedLabel final : public QLabel {
public:
    ElidedLabel(const std::string& text, TextStyle style, const QColor& colour, QWidget* parent = nullptr,
                int weight = -1);
    const QString& fullText() const { return fullText_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString fullText_;
};

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

// A label for text as it is (names, topics, notes, messages from another machine: plain
// text, never markup), in a style and colour; wraps when asked.
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

// Style sheets of the form controls: the help request's note, the password form's fields
// (outlined in the accent while focused), a segment of a segmented control (index of
// count; the outer ones rounded), a plain button in a colour, a frameless button, and a
// small filled button.
void styleNoteField(QWidget& field);
void styleFormField(QWidget& field);
void styleSegment(QPushButton& segment, int index, int count);
void stylePlainButton(QPushButton& button, const QColor& textColour);
void styleFrameless(QPushButton& button);
void styleSmallFilledButton(QPushButton& button, const QColor& fill, const QColor& textColour);
// A text colour by style sheet (none when invalid): the plain windows that keep the
// system's window colours.
void setTextColourSheet(QWidget& widget, const QColor& colour);

// White text on a floating panel's fill, as a style sheet (the label's ground clear).
void setFloatingTextSheet(QWidget& widget);

// The pixels of a rounded rectangle, for shaping a window to its outline where no
// compositing manager blends its clear corners.
QRegion roundedRegion(const QRect& rect, double radius);

// A panel that floats over the shared screen: a rounded fill on a clear window, a capsule
// when its radius is kCapsule. Without a compositing manager the clear corners would show
// black: the window is then shaped to its rounded outline. The panel owns the shape of its
// window, what it shows and where it takes clicks, and renews both whenever it changes
// size; it may let every click through to what lies beneath it for a while.
class FloatingPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr double kCapsule = -1; // the radius half the panel's height
    FloatingPanel(const QColor& fill, double radius, QWidget* parent = nullptr);
    void setShapedToOutline(bool shaped);
    bool isShapedToOutline() const { return shaped_; }
    void setLetsClicksThrough(bool through);
    bool letsClicksThrough() const { return clicksThrough_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    double cornerRadius() const;
    void applyShape();
    void applyInputRegion();

    QColor fill_;
    double radius_;
    bool shaped_ = false;
    bool clicksThrough_ = false;
    // The size the window's input region was given for, once it has one of its own.
    QSize inputRegionSize_;
};

} // namespace wl
