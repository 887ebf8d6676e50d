#pragma once
// What the guide overlay draws over the shared screen: the helper's pointer (an arrow
// with the helper's first name on a tag beside it) and the suggested click (a ring that
// swells and fades, then shrinks and brightens, every 0.8 s). The window is clear
// everywhere else and lets every click through. It draws from its own copy of the
// model, which its owner hands it at each change: a window on its way out (hidden, to be
// deleted on a later turn of the loop) reads nothing of an owner that may be gone, and
// its pulse runs only while it is shown.

#include "host/GuideOverlayController.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

namespace wl {

// The arrow for a rectangle: tip at the top-left corner, drawn on a 14 × 20 grid.
QPainterPath arrowPath(const QRectF& rect);

class GuideOverlayView final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSizeF kArrowSize{18, 26};
    static constexpr double kRingDiameter = 56;
    static constexpr int kPulseMs = 800;

    explicit GuideOverlayView(GuideModel model = {}, QWidget* parent = nullptr);

    // Without a compositing manager the window's clear parts would show black: the
    // window is then shaped to its drawings (the ring drawn still, not pulsing) and
    // hidden while it draws nothing.
    void setShapedToDrawings(bool shaped) { shaped_ = shaped; }
    bool isShapedToDrawings() const { return shaped_; }
    // The owner wants the overlay on the screen (shown at once, or, when shaped, as
    // soon as it draws something).
    void present();
    // The model changed: redraw, and pulse while a suggestion is shown.
    void refresh(GuideModel model);
    // The pixels the drawings cover (with their edges), in this view's coordinates.
    QRegion drawingsRegion() const;
    // The name tag's rectangle for a pointer tip at a point of this view.
    QRectF tagRect(QPointF tip) const;
    // The ring's scale and opacity at a moment of its pulse (ms since it appeared).
    static std::pair<double, double> pulseAt(qint64 elapsedMs);

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPointF at(double x, double y) const;
    QRectF ringBounds() const;
    void redraw();

    GuideModel model_;
    QTimer pulseTimer_;
    QElapsedTimer pulseClock_;
    bool shaped_ = false;
    bool presented_ = false;
};

} // namespace wl
