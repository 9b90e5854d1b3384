#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <algorithm>
#include <optional>

// Rectangle arithmetic in global screen coordinates: origin at the lower left, y growing upwards.
// QRectF only carries the numbers here: its y is the minimum y, and its own containment test (all
// edges in) and fuzzy equality are not used.
namespace ostrel::Geometry {

inline double minX(const QRectF& r) {
    return r.x();
}
inline double maxX(const QRectF& r) {
    return r.x() + r.width();
}
inline double midX(const QRectF& r) {
    return r.x() + r.width() / 2;
}
inline double minY(const QRectF& r) {
    return r.y();
}
inline double maxY(const QRectF& r) {
    return r.y() + r.height();
}
inline double midY(const QRectF& r) {
    return r.y() + r.height() / 2;
}

// `r` with `dx` added on the left and on the right and `dy` at the bottom and at the top.
inline QRectF grown(const QRectF& r, double dx, double dy) {
    return QRectF(r.x() - dx, r.y() - dy, r.width() + 2 * dx, r.height() + 2 * dy);
}

// Half-open: the minimum edges belong to the rectangle, the maximum edges do not.
inline bool contains(const QRectF& r, const QPointF& p) {
    return p.x() >= minX(r) && p.x() < maxX(r) && p.y() >= minY(r) && p.y() < maxY(r);
}

// The common part of two rectangles: none when they do not meet, empty when they only touch.
inline std::optional<QRectF> intersection(const QRectF& a, const QRectF& b) {
    const double x0 = std::max(minX(a), minX(b));
    const double x1 = std::min(maxX(a), maxX(b));
    const double y0 = std::max(minY(a), minY(b));
    const double y1 = std::min(maxY(a), maxY(b));
    if (x1 < x0 || y1 < y0) {
        return std::nullopt;
    }
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

inline bool same(const QRectF& a, const QRectF& b) {
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

inline bool same(const std::optional<QRectF>& a, const std::optional<QRectF>& b) {
    return a.has_value() == b.has_value() && (!a || same(*a, *b));
}

inline bool same(const QPointF& a, const QPointF& b) {
    return a.x() == b.x() && a.y() == b.y();
}

} // namespace ostrel::Geometry
