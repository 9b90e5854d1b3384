#pragma once

#include <QPointF>
#include <QRectF>

namespace ostrel {

// Maps screen coordinates (y up) into a preview's own (origin at the viewport's top left, y
// down): the part of the screen the preview shows, and preview points per screen point.
struct MiniSpace {
    QRectF viewport;
    double scale = 1;

    QRectF map(const QRectF& r) const {
        return QRectF((r.x() - viewport.x()) * scale,
                      (viewport.y() + viewport.height() - (r.y() + r.height())) * scale,
                      r.width() * scale, r.height() * scale);
    }
    QSizeF size() const { return viewport.size() * scale; }

    friend bool operator==(const MiniSpace&, const MiniSpace&) = default;
};

} // namespace ostrel
