#pragma once
// What the guide overlay draws over the shared screen: the helper's pointer (an arrow
// with the helper's first name on a tag beside it) and the suggested click (a ring that
// swells and fades, then shrinks and brightens, every 0.8 s). The window is clear
// everywhere else and lets every click through; the overlay controller owns it and its
// model.

#include <QColor>
#include <QElapsedTimer>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace wl {

struct GuideModel;

// The colour of every guide drawing.
QColor guideAccent();

// The arrow for a rectangle: tip at the top-left corner, drawn on a 14 × 20 grid.
QPainterPath arrowPath(const QRectF& rect);

class GuideOverlayView final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSizeF kArrowSize{18, 26};
    static constexpr double kRingDiameter = 56;
    static constexpr int kPulseMs = 800;

    explicit GuideOverlayView(const GuideModel& model, QWidget* parent = nullptr);

    // The model changed: redraw, and pulse while a suggestion is shown.
    void refresh();
    // The name tag's rectangle for a pointer tip at a point of this view.
    QRectF tagRect(QPointF tip) const;
    // The ring's scale and opacity at a moment of its pulse (ms since it appeared).
    static std::pair<double, double> pulseAt(qint64 elapsedMs);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointF at(double x, double y) const;
    QRectF ringBounds() const;

    const GuideModel& model_;
    QTimer pulseTimer_;
    QElapsedTimer pulseClock_;
};

} // namespace wl
