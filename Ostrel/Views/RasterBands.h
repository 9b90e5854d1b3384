#pragma once

#include <QColor>
#include <QPaintDevice>
#include <QPainter>
#include <QRectF>

#include <algorithm>
#include <cmath>

namespace ostrel::RasterBands {

// Qt's raster engine hands a fill of more than about a hundred spans (a shape a card high, a disc
// 40 pixels across, a hairline down the drawer) to its thread pool and waits for it; for the
// shelf's small shapes waking the pool costs more than the fill. These draw a few device rows at a
// time, so that every fill stays on the calling thread. Clipping at whole device rows leaves the
// pixels as one fill would draw them.
inline constexpr int rows = 12;

inline double ratio(const QPainter& painter) {
    const QPaintDevice* device = painter.device();
    const QTransform& world = painter.worldTransform();
    return (device ? device->devicePixelRatioF() : 1.0) *
           std::max(std::hypot(world.m12(), world.m22()), 1e-3);
}

// Runs `draw` clipped to bands across `area` (in the painter's coordinates, which only translate
// and scale).
template <typename Draw> void draw(QPainter& painter, const QRectF& area, Draw draw) {
    const double r = ratio(painter);
    const double left = std::floor((area.left() - 2) * r) / r;
    const double right = std::ceil((area.right() + 2) * r) / r;
    const double step = rows / r;
    for (double top = std::floor((area.top() - 1) * r) / r; top < area.bottom() + 1; top += step) {
        painter.save();
        painter.setClipRect(QRectF(left, top, right - left, step), Qt::IntersectClip);
        draw();
        painter.restore();
    }
}

// A rectangle takes one span a row: it is filled in runs of rows short of the pool.
inline void fillRect(QPainter& painter, const QRectF& rect, const QColor& color) {
    const double r = ratio(painter);
    const double step = 64 / r;
    for (double top = rect.top(); top < rect.bottom(); top += step) {
        painter.fillRect(
            QRectF(rect.left(), top, rect.width(), std::min(step, rect.bottom() - top)), color);
    }
}

} // namespace ostrel::RasterBands
