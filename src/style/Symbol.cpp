#include "style/Symbol.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace wl {

namespace {

// ---- the shell's symbols, on a 24-unit grid ----

QPainterPath shield()
{
    QPainterPath path;
    path.moveTo(12, 2);
    path.lineTo(20.5, 5.2);
    path.cubicTo(20.5, 13.5, 17.5, 19, 12, 22);
    path.cubicTo(6.5, 19, 3.5, 13.5, 3.5, 5.2);
    path.closeSubpath();
    return path;
}

QPainterPath lockBody(qreal x, qreal y, qreal w, qreal h)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(x, y, w, h), w * 0.14, w * 0.14);
    return path;
}

void drawLock(QPainter& p, const QColor& colour, qreal cx, qreal top, qreal width)
{
    const qreal bodyTop = top + width * 0.55;
    p.setPen(QPen(colour, width * 0.16, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const qreal shackle = width * 0.62;
    QPainterPath arc;
    arc.moveTo(cx - shackle / 2, bodyTop + 0.5);
    arc.lineTo(cx - shackle / 2, top + shackle / 2);
    arc.arcTo(QRectF(cx - shackle / 2, top, shackle, shackle), 180, -180);
    arc.lineTo(cx + shackle / 2, bodyTop + 0.5);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(lockBody(cx - width / 2, bodyTop, width, width * 0.75));
}

void drawCheck(QPainter& p, const QColor& colour, qreal scale, QPointF origin, qreal width)
{
    QPainterPath check;
    check.moveTo(origin + QPointF(-4.2, 0.2) * scale);
    check.lineTo(origin + QPointF(-1.2, 3.2) * scale);
    check.lineTo(origin + QPointF(4.6, -3.6) * scale);
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(check);
}

void paintOnGrid(QPainter& p, Symbol symbol, const QColor& c)
{
    const QColor clear = Qt::transparent;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    switch (symbol) {
    case Symbol::checkmarkCircleFill:
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        drawCheck(p, clear, 1.0, QPointF(12, 12.3), 2.4);
        break;
    case Symbol::checkmarkShield:
        p.setPen(QPen(c, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shield());
        drawCheck(p, c, 0.85, QPointF(12, 11.6), 1.8);
        break;
    case Symbol::circleFill: p.drawEllipse(QRectF(6, 6, 12, 12)); break;
    case Symbol::display:
        p.setPen(QPen(c, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(2.5, 4, 19, 13), 2, 2);
        p.drawLine(QPointF(12, 17), QPointF(12, 20));
        p.drawLine(QPointF(8, 20.5), QPointF(16, 20.5));
        break;
    case Symbol::exclamationTriangleFill: {
        QPainterPath triangle;
        triangle.moveTo(12, 2.5);
        triangle.lineTo(22.5, 21);
        triangle.lineTo(1.5, 21);
        triangle.closeSubpath();
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(triangle);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(clear, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 9), QPointF(12, 14.5));
        p.setPen(Qt::NoPen);
        p.setBrush(clear);
        p.drawEllipse(QPointF(12, 18), 1.4, 1.4);
        break;
    }
    case Symbol::eye:
    case Symbol::eyeSlash: {
        QPainterPath almond;
        almond.moveTo(2, 12);
        almond.cubicTo(6, 5, 18, 5, 22, 12);
        almond.cubicTo(18, 19, 6, 19, 2, 12);
        p.setPen(QPen(c, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(almond);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(12, 12), 3.4, 3.4);
        if (symbol == Symbol::eyeSlash) {
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.setPen(QPen(clear, 4.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 3), QPointF(20, 21));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            p.setPen(QPen(c, 1.7, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 3), QPointF(20, 21));
        }
        break;
    }
    case Symbol::folder: {
        QPainterPath folder;
        folder.moveTo(2.5, 6);
        folder.lineTo(2.5, 19);
        folder.lineTo(21.5, 19);
        folder.lineTo(21.5, 8.5);
        folder.lineTo(11.5, 8.5);
        folder.lineTo(9.5, 5.5);
        folder.lineTo(3, 5.5);
        folder.closeSubpath();
        p.setPen(QPen(c, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(folder);
        p.drawLine(QPointF(2.5, 10.5), QPointF(21.5, 10.5));
        break;
    }
    case Symbol::keyFill: {
        p.drawEllipse(QRectF(1.5, 6, 11, 11));
        QPainterPath shaft;
        shaft.addRoundedRect(QRectF(10, 10, 12, 3.2), 1, 1);
        shaft.addRect(QRectF(17, 12, 2.4, 4.5));
        shaft.addRect(QRectF(20, 12, 2, 3.2));
        p.drawPath(shaft);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setBrush(clear);
        p.drawEllipse(QPointF(5.6, 11.5), 2, 2);
        break;
    }
    case Symbol::lockFill: drawLock(p, c, 12, 2, 14); break;
    case Symbol::lockShieldFill:
        p.drawPath(shield());
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        drawLock(p, clear, 12, 6.5, 7.5);
        break;
    case Symbol::paperplaneFill: {
        QPainterPath plane;
        plane.moveTo(2, 11);
        plane.lineTo(22, 3);
        plane.lineTo(15, 21);
        plane.lineTo(11.5, 13);
        plane.closeSubpath();
        p.drawPath(plane);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(clear, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11.5, 13), QPointF(20, 5));
        break;
    }
    case Symbol::photoOnRectangle: {
        p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(6, 3, 16, 13), 2, 2);
        QPainterPath back;
        back.moveTo(3.5, 7);
        back.lineTo(3.5, 19.5);
        back.lineTo(17, 19.5);
        p.drawPath(back);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        QPainterPath hills;
        hills.moveTo(7.5, 14.5);
        hills.lineTo(12, 9);
        hills.lineTo(15, 12.5);
        hills.lineTo(17, 10.5);
        hills.lineTo(20.5, 14.5);
        hills.closeSubpath();
        p.drawPath(hills);
        p.drawEllipse(QPointF(17.5, 6.8), 1.4, 1.4);
        break;
    }
    case Symbol::fingerprint: {
        p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QPointF centre(12, 13);
        for (int ring = 0; ring < 4; ++ring) {
            const qreal r = 2.5 + ring * 2.6;
            const int start = 200 - ring * 8;
            const int span = -(220 - ring * 14);
            p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), start * 16, span * 16);
        }
        p.drawLine(QPointF(12, 13), QPointF(12, 18));
        break;
    }
    case Symbol::xmarkCircleFill:
        p.setBrush(QColor(0, 0, 0, 178));
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
        p.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
        break;
    default: break; // drawn in a unit square
    }
}

// ---- the people list's symbols, in a unit square of `s` pixels ----

void clearPath(QPainter& p, const QPainterPath& path)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(path, Qt::black);
    p.restore();
}

void paintInUnitSquare(QPainter& p, Symbol symbol, const QColor& colour, double s)
{
    p.setRenderHint(QPainter::Antialiasing);
    const auto at = [s](double x, double y) { return QPointF(x * s, y * s); };
    const auto box = [s](double x, double y, double w, double h) { return QRectF(x * s, y * s, w * s, h * s); };
    QPen pen(colour, std::max(1.2, s * 0.1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (symbol) {
    case Symbol::chevronDown: {
        pen.setWidthF(std::max(1.5, s * 0.13));
        p.setPen(pen);
        QPainterPath path(at(0.2, 0.36));
        path.lineTo(at(0.5, 0.66));
        path.lineTo(at(0.8, 0.36));
        p.drawPath(path);
        break;
    }
    case Symbol::handRaised: {
        QPainterPath hand;
        hand.addRoundedRect(box(0.24, 0.42, 0.56, 0.52), 0.2 * s, 0.2 * s);
        const double tops[] = {0.16, 0.08, 0.1, 0.2};
        for (int i = 0; i < 4; ++i)
            hand.addRoundedRect(box(0.25 + i * 0.135, tops[i], 0.11, 0.5), 0.055 * s, 0.055 * s);
        QPainterPath thumb;
        thumb.addRoundedRect(box(-0.06, -0.3, 0.12, 0.42), 0.06 * s, 0.06 * s);
        QTransform turn;
        turn.translate(0.22 * s, 0.62 * s);
        turn.rotate(-40);
        hand.addPath(turn.map(thumb));
        p.fillPath(hand.simplified(), colour);
        break;
    }
    case Symbol::laptopAndPhone: {
        pen.setWidthF(std::max(1.2, s * 0.07));
        p.setPen(pen);
        p.drawRoundedRect(box(0.1, 0.22, 0.56, 0.42), 0.04 * s, 0.04 * s);
        p.drawLine(at(0.02, 0.74), at(0.74, 0.74));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box(0.72, 0.38, 0.22, 0.42), 0.05 * s, 0.05 * s);
        break;
    }
    case Symbol::photoStack: {
        pen.setWidthF(std::max(1.1, s * 0.07));
        p.setPen(pen);
        p.drawRoundedRect(box(0.22, 0.12, 0.7, 0.56), 0.06 * s, 0.06 * s);
        QPainterPath front;
        front.addRoundedRect(box(0.06, 0.3, 0.7, 0.56), 0.06 * s, 0.06 * s);
        clearPath(p, front);
        p.drawPath(front);
        QPainterPath mountain(at(0.12, 0.8));
        mountain.lineTo(at(0.32, 0.56));
        mountain.lineTo(at(0.46, 0.7));
        mountain.lineTo(at(0.56, 0.62));
        mountain.lineTo(at(0.7, 0.8));
        mountain.closeSubpath();
        p.fillPath(mountain, colour);
        p.setBrush(colour);
        p.drawEllipse(at(0.56, 0.44), 0.05 * s, 0.05 * s);
        break;
    }
    case Symbol::replyArrow: {
        QPainterPath head(at(0.06, 0.42));
        head.lineTo(at(0.44, 0.1));
        head.lineTo(at(0.44, 0.74));
        head.closeSubpath();
        p.fillPath(head, colour);
        pen.setWidthF(0.2 * s);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        QPainterPath tail(at(0.4, 0.42));
        tail.cubicTo(at(0.72, 0.42), at(0.86, 0.56), at(0.86, 0.9));
        p.drawPath(tail);
        break;
    }
    case Symbol::lockShield: {
        QPainterPath shield(at(0.5, 0.04));
        shield.lineTo(at(0.9, 0.18));
        shield.lineTo(at(0.9, 0.48));
        shield.quadTo(at(0.88, 0.84), at(0.5, 0.98));
        shield.quadTo(at(0.12, 0.84), at(0.1, 0.48));
        shield.lineTo(at(0.1, 0.18));
        shield.closeSubpath();
        p.fillPath(shield, colour);
        QPainterPath lock;
        lock.addRoundedRect(box(0.33, 0.46, 0.34, 0.26), 0.04 * s, 0.04 * s);
        clearPath(p, lock);
        QPen shackle(Qt::black, 0.07 * s);
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(shackle);
        p.setBrush(Qt::NoBrush);
        p.drawArc(box(0.38, 0.28, 0.24, 0.3), 0, 180 * 16);
        p.drawLine(at(0.38, 0.43), at(0.38, 0.48));
        p.drawLine(at(0.62, 0.43), at(0.62, 0.48));
        p.restore();
        break;
    }
    case Symbol::checkmarkSeal: {
        QPainterPath seal;
        const int points = 12;
        for (int i = 0; i < points * 2; ++i) {
            const double angle = M_PI * i / points - M_PI / 2;
            const double r = (i % 2 ? 0.4 : 0.48) * s;
            const QPointF point(0.5 * s + r * std::cos(angle), 0.5 * s + r * std::sin(angle));
            if (i == 0)
                seal.moveTo(point);
            else
                seal.lineTo(point);
        }
        seal.closeSubpath();
        p.fillPath(seal, colour);
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.setPen(QPen(Qt::black, 0.1 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath check(at(0.32, 0.52));
        check.lineTo(at(0.45, 0.65));
        check.lineTo(at(0.69, 0.38));
        p.drawPath(check);
        p.restore();
        break;
    }
    case Symbol::key: {
        QPainterPath key;
        key.addEllipse(box(0.06, 0.06, 0.42, 0.42));
        QTransform turn;
        turn.translate(0.27 * s, 0.27 * s);
        turn.rotate(45);
        QPainterPath shaft;
        shaft.addRect(QRectF(0.12 * s, -0.06 * s, 0.72 * s, 0.12 * s));
        shaft.addRect(QRectF(0.6 * s, 0.04 * s, 0.1 * s, 0.14 * s));
        shaft.addRect(QRectF(0.74 * s, 0.04 * s, 0.1 * s, 0.18 * s));
        key.addPath(turn.map(shaft));
        p.fillPath(key.simplified(), colour);
        QPainterPath hole;
        hole.addEllipse(at(0.22, 0.22), 0.07 * s, 0.07 * s);
        clearPath(p, hole);
        break;
    }
    case Symbol::lock: {
        pen.setWidthF(0.11 * s);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(box(0.27, 0.08, 0.46, 0.5), 0, 180 * 16);
        p.drawLine(at(0.27, 0.33), at(0.27, 0.46));
        p.drawLine(at(0.73, 0.33), at(0.73, 0.46));
        QPainterPath body;
        body.addRoundedRect(box(0.14, 0.44, 0.72, 0.5), 0.08 * s, 0.08 * s);
        p.fillPath(body, colour);
        break;
    }
    default: break; // drawn on the grid
    }
}

bool onGrid(Symbol symbol)
{
    return symbol <= Symbol::xmarkCircleFill;
}

} // namespace

QImage symbolImage(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixels = std::max(1, static_cast<int>(std::ceil(size * ratio)));
    if (onGrid(symbol)) {
        QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(pixels / 24.0, pixels / 24.0);
            paintOnGrid(painter, symbol, colour);
        }
        image.setDevicePixelRatio(ratio);
        return image;
    }
    // Drawn at twice the size and scaled down: smooth edges at small sizes.
    const int big = pixels * 2;
    QImage image(big, big, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paintInUnitSquare(painter, symbol, colour, big);
    }
    QImage scaled = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

QPixmap symbolPixmap(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio)
{
    return QPixmap::fromImage(symbolImage(symbol, size, colour, devicePixelRatio));
}

QIcon symbolIcon(Symbol symbol, int size, const QColor& colour)
{
    QIcon icon;
    icon.addPixmap(symbolPixmap(symbol, size, colour, 1.0));
    icon.addPixmap(symbolPixmap(symbol, size, colour, 2.0));
    return icon;
}

} // namespace wl
