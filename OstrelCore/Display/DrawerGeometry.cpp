#include "OstrelCore/Display/DrawerGeometry.h"

#include "OstrelCore/Display/DrawerGrowth.h"

#include <QTransform>

#include <algorithm>

namespace ostrel {

namespace {

double midX(const QRectF& r) {
    return r.x() + r.width() / 2;
}
double midY(const QRectF& r) {
    return r.y() + r.height() / 2;
}

// A share of the open size; an open size of 0 or less counts as fully reached, so that a screen
// smaller than its margins still fades its contents in instead of producing NaN.
double share(double part, double whole) {
    return whole > 0 ? Motion::clamp01(part / whole) : 1;
}

RectSide sideOf(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
        return RectSide::minX;
    case DisplayStylePosition::top:
        return RectSide::minY;
    case DisplayStylePosition::right:
        return RectSide::maxX;
    case DisplayStylePosition::bottom:
        return RectSide::maxY;
    }
    return RectSide::minY;
}

} // namespace

QPainterPath NotchShape::path(const QRectF& rect) const {
    const bool turned = edge == Edge::left || edge == Edge::right;
    const QRectF r = edge == Edge::top ? rect
                     : turned          ? QRectF(0, 0, rect.height(), rect.width())
                                       : QRectF(0, 0, rect.width(), rect.height());
    const double x0 = r.x();
    const double y0 = r.y();
    const double x1 = r.x() + r.width();
    const double y1 = r.y() + r.height();
    const double radius = std::max(std::min({bottomRadius, r.height() / 2, r.width() / 2}), 0.0);

    QPainterPath p;
    p.moveTo(x0 - flare, y0);
    p.quadTo(x0, y0, x0, y0 + flare);
    p.lineTo(x0, y1 - radius);
    if (radius > 0) {
        p.arcTo(QRectF(x0, y1 - 2 * radius, 2 * radius, 2 * radius), 180, 90);
    }
    p.lineTo(x1 - radius, y1);
    if (radius > 0) {
        p.arcTo(QRectF(x1 - 2 * radius, y1 - 2 * radius, 2 * radius, 2 * radius), 270, 90);
    }
    p.lineTo(x1, y0 + flare);
    p.quadTo(x1, y0, x1 + flare, y0);
    p.closeSubpath();

    const double minX = rect.x();
    const double minY = rect.y();
    const double maxX = rect.x() + rect.width();
    const double maxY = rect.y() + rect.height();
    switch (edge) {
    case Edge::top:
        return p;
    case Edge::left: // (x, y) -> (y + minX, x + minY)
        return QTransform(0, 1, 1, 0, minX, minY).map(p);
    case Edge::right: // (x, y) -> (maxX - y, x + minY)
        return QTransform(0, 1, -1, 0, maxX, minY).map(p);
    case Edge::bottom: // (x, y) -> (x + minX, maxY - y)
        return QTransform(1, 0, 0, -1, minX, maxY).map(p);
    }
    return p;
}

QPainterPath CornerShape::path(const QRectF& rect) const {
    const double limit = std::max(std::min(rect.width(), rect.height()) / 2, 0.0);
    // How far a corner reaches into its sides per unit of radius, and where its control points
    // lie as a share of that reach: a flatter, longer corner than a circular arc.
    constexpr double reach = 1.28;
    constexpr double pull = 0.36;
    const auto extent = [&](double radius) { return std::clamp(radius * reach, 0.0, limit); };
    const double tl = extent(topLeft);
    const double tr = extent(topRight);
    const double bl = extent(bottomLeft);
    const double br = extent(bottomRight);
    const double x0 = rect.x();
    const double y0 = rect.y();
    const double x1 = rect.x() + rect.width();
    const double y1 = rect.y() + rect.height();

    QPainterPath p;
    p.moveTo(x0 + tl, y0);
    p.lineTo(x1 - tr, y0);
    p.cubicTo(x1 - tr * pull, y0, x1, y0 + tr * pull, x1, y0 + tr);
    p.lineTo(x1, y1 - br);
    p.cubicTo(x1, y1 - br * pull, x1 - br * pull, y1, x1 - br, y1);
    p.lineTo(x0 + bl, y1);
    p.cubicTo(x0 + bl * pull, y1, x0, y1 - bl * pull, x0, y1 - bl);
    p.lineTo(x0, y0 + tl);
    p.cubicTo(x0, y0 + tl * pull, x0 + tl * pull, y0, x0 + tl, y0);
    p.closeSubpath();
    return p;
}

QPainterPath outlinePath(const DrawerShape& shape, const QRectF& rect) {
    return std::visit([&](const auto& s) { return s.path(rect); }, shape);
}

const char* shapeName(const DrawerShape& shape) {
    return std::holds_alternative<CornerShape>(shape) ? "CornerShape" : "NotchShape";
}

NotchShape::Edge notchEdge(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
        return NotchShape::Edge::left;
    case DisplayStylePosition::top:
        return NotchShape::Edge::top;
    case DisplayStylePosition::right:
        return NotchShape::Edge::right;
    case DisplayStylePosition::bottom:
        return NotchShape::Edge::bottom;
    }
    return NotchShape::Edge::top;
}

Qt::Alignment EdgePlacement::alignment(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
        return Qt::AlignLeading | Qt::AlignVCenter;
    case DisplayStylePosition::top:
        return Qt::AlignTop | Qt::AlignHCenter;
    case DisplayStylePosition::right:
        return Qt::AlignTrailing | Qt::AlignVCenter;
    case DisplayStylePosition::bottom:
        return Qt::AlignBottom | Qt::AlignHCenter;
    }
    return Qt::AlignCenter;
}

QPointF EdgePlacement::anchor(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
        return {0, 0.5};
    case DisplayStylePosition::top:
        return {0.5, 0};
    case DisplayStylePosition::right:
        return {1, 0.5};
    case DisplayStylePosition::bottom:
        return {0.5, 1};
    }
    return {0.5, 0.5};
}

QRectF EdgePlacement::offset(DisplayStylePosition position, const QRectF& rect, double fraction) {
    switch (position) {
    case DisplayStylePosition::left:
        return rect.translated(-rect.width() * fraction, 0);
    case DisplayStylePosition::top:
        return rect.translated(0, -rect.height() * fraction);
    case DisplayStylePosition::right:
        return rect.translated(rect.width() * fraction, 0);
    case DisplayStylePosition::bottom:
        return rect.translated(0, rect.height() * fraction);
    }
    return rect;
}

QRectF EdgePlacement::lineRect(DisplayStylePosition position, const QRectF& r, double length,
                               double thickness) {
    switch (position) {
    case DisplayStylePosition::top:
        return QRectF(midX(r) - length / 2, r.y(), length, thickness);
    case DisplayStylePosition::bottom:
        return QRectF(midX(r) - length / 2, r.y() + r.height() - thickness, length, thickness);
    case DisplayStylePosition::left:
        return QRectF(r.x(), midY(r) - length / 2, thickness, length);
    case DisplayStylePosition::right:
        return QRectF(r.x() + r.width() - thickness, midY(r) - length / 2, thickness, length);
    }
    return r;
}

CornerShape EdgePlacement::shape(DisplayStylePosition position, double radius) {
    switch (position) {
    case DisplayStylePosition::left:
        return CornerShape{0, radius, 0, radius};
    case DisplayStylePosition::top:
        return CornerShape{0, 0, radius, radius};
    case DisplayStylePosition::right:
        return CornerShape{radius, 0, radius, 0};
    case DisplayStylePosition::bottom:
        return CornerShape{radius, radius, 0, 0};
    }
    return CornerShape::uniform(radius);
}

DrawerGeometry DrawerGeometry::make(const DisplayLayout& layout, double progress, double trailing,
                                    const QSizeF& size, double message, double scale, bool halo,
                                    bool hiddenAtRest, const RectMap& toView,
                                    const RectMap& pillStart, bool reduceMotion) {
    using Motion::clamp01;
    using Motion::lerp;
    const DisplayStyle& style = layout.style();
    const DisplayStylePosition position = style.position();
    const double raw = progress;
    const double p = clamp01(raw);

    DrawerGeometry g;
    g.resting = toView(layout.restRect(std::max(trailing, 0.0)));
    g.counted = halo ? 0 : clamp01(trailing / 24);
    g.rest = style.isHoverNotch() ? EdgePlacement::offset(position, g.resting, 1 - g.counted)
                                  : g.resting;

    QRectF start = g.resting;
    if (style.isPill()) {
        start = pillStart(g.resting);
    } else if (style.isHoverNotch()) {
        start = g.counted == 0
                    ? EdgePlacement::lineRect(position, g.resting, Motion::edgeLineLength * scale,
                                              Motion::edgeLineThickness * scale)
                    : g.rest;
    }
    const QRectF open = toView(layout.drawerRect(size, message));

    const bool fading = reduceMotion && raw >= 0.005;
    const bool grows = style.isPill() || style.isHoverNotch();
    double t = 0;
    if (fading) {
        g.frame = open;
        g.reveal = p;
        t = 1;
    } else if (grows) {
        g.frame = DrawerGrowth::frame(start, open, raw, sideOf(position), 0.1);
        const double s =
            std::min(share(g.frame.width(), open.width()), share(g.frame.height(), open.height()));
        g.reveal = DrawerGrowth::reveal(s);
        t = clamp01(DrawerGrowth::perceived(raw));
    } else {
        // Unclamped, so that a spring's overshoot enlarges the drawer.
        g.frame = Motion::lerpRect(start, open, raw);
        g.reveal = clamp01((raw - Motion::revealStart) / (Motion::revealEnd - Motion::revealStart));
        t = p;
    }

    const bool sideways = isSide(position);
    const double depth = sideways ? g.frame.width() : g.frame.height();
    const double restDepth = sideways ? g.rest.width() : g.rest.height();
    const double bottomRadius = DrawerGrowth::proportional(
        lerp(Motion::cornerAtRest, Motion::cornerOpen, t) * scale, depth, restDepth);
    const double flare = DrawerGrowth::proportional(
        lerp(Motion::flareAtRest, Motion::flareOpen, t) * scale, depth, restDepth);

    if (style.isPill()) {
        g.restShape = CornerShape::uniform(Motion::cardCorner * scale);
        g.shape = CornerShape::uniform(lerp(Motion::cardCorner, Motion::cornerOpen, t) * scale);
    } else {
        const auto edge = notchEdge(position);
        g.restShape = NotchShape{edge, Motion::cornerAtRest * scale, Motion::flareAtRest * scale};
        g.shape = NotchShape{edge, bottomRadius, flare};
    }

    if (fading) {
        g.surface = p;
    } else if (style.isPill() || (style.isHoverNotch() && g.counted == 0)) {
        g.surface =
            clamp01((raw - Motion::surfaceStart) / (Motion::surfaceEnd - Motion::surfaceStart));
    } else {
        g.surface = raw < 0.005 && hiddenAtRest ? 0 : 1;
    }
    g.atRest = raw < 0.005;
    g.signal = 1 - clamp01(raw / 0.6);
    return g;
}

double DrawerGeometry::topReserve(const DisplayLayout& layout) {
    const DisplayStyle& style = layout.style();
    if (style.isNotch()) {
        return layout.collapsedRect().height();
    }
    if (style.isPill() && isSide(style.position())) {
        return 0;
    }
    return DisplayLayout::topBand;
}

} // namespace ostrel
