#pragma once

// The picture area's two drawing requests, each one QPainter call in pixel coordinates of the
// retained image (antialiasing off). The fast renderer reproduces exactly these pixels.

#include <QColor>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QRectF>

namespace trenn {

// A dot `width` pixels square, centred on the point. Dots wholly outside the image are
// skipped before they reach the painter, whose integer rounding has no room for them.
inline void PaintDot(QPainter& painter, QPointF centre, int width, QColor colour) {
    const QRect bounds = painter.device() ? QRect(0, 0, painter.device()->width(),
                                                  painter.device()->height())
                                          : QRect();
    const double half = width / 2.0;
    if (!(centre.x() + half >= -1.0 && centre.x() - half <= bounds.width() + 1.0 &&
          centre.y() + half >= -1.0 && centre.y() - half <= bounds.height() + 1.0)) {
        return;
    }
    painter.fillRect(QRectF(centre.x() - half, centre.y() - half, width, width), colour);
}

// A straight line `width` pixels wide.
inline void PaintLine(QPainter& painter, QPointF from, QPointF to, int width, QColor colour) {
    painter.setPen(QPen(colour, width));
    painter.drawLine(QLineF(from, to));
}

}  // namespace trenn
