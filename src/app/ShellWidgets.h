#pragma once
// The parts the shell's small windows are built from: the text styles (sizes and
// weights of the program's own type scale), labels in them, rounded fills and
// outlines, symbols in a label, and the button looks (prominent, segmented, plain).

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "app/Symbols.h"

namespace wl {

// The signal colours of the dark appearance.
QColor systemYellow();
QColor systemGreen();
QColor systemOrange();
QColor systemRed();

enum class TextStyle { title2, title3, headline, body, callout, caption };

// The font of a text style; `weight` overrides the style's own (-1 keeps it).
QFont textFont(TextStyle style, int weight = -1);
QFont monospacedFont(TextStyle style);

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

} // namespace wl
