#include "OstrelCore/Shelf/TipTimer.h"

#include <algorithm>

namespace ostrel {

QRectF TipPlacement::frame(QSizeF size, QPointF textOrigin, Edge edge, QSizeF padding,
                           QRectF bounds, std::optional<QRectF> avoid) {
    const double w = std::min(bounds.width(), size.width());
    const double h = std::min(bounds.height(), size.height());
    const double wantedTop = edge == Edge::top ? textOrigin.y() - padding.height()
                                               : textOrigin.y() + padding.height() - h;
    const double x =
        std::max(bounds.left(), std::min(bounds.right() - w, textOrigin.x() - padding.width()));
    double y = std::max(bounds.top(), std::min(bounds.bottom() - h, wantedTop));
    // Overlap on open intervals: touching edges do not count, a zero-width tip inside does.
    if (avoid && x < avoid->right() && avoid->left() < x + w && y < avoid->bottom() &&
        avoid->top() < y + h) {
        y = std::max(bounds.top(), std::min(bounds.bottom() - h, avoid->bottom()));
    }
    return QRectF(x, y, w, h);
}

} // namespace ostrel
