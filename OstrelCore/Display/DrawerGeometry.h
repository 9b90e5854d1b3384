#pragma once

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/Motion.h"

#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <variant>

// The drawer's outline as it grows out of the notch or a pill and sinks back. Everything here is
// in panel view coordinates: origin at the panel's top left, y downwards.
namespace ostrel {

// A notch outline: rounded lower corners and upper ends that flare out into the screen edge, or
// the same turned towards another edge.
struct NotchShape {
    enum class Edge { top, left, right, bottom };
    Edge edge = Edge::top;
    double bottomRadius = 14;
    double flare = 8;

    // Reaches `flare` beyond the rectangle on both sides along the edge.
    QPainterPath path(const QRectF& rect) const;

    friend bool operator==(const NotchShape&, const NotchShape&) = default;
};

NotchShape::Edge notchEdge(DisplayStylePosition position);

// A rectangle with continuous (smooth) corners of the given radii; 0 is a square corner.
struct CornerShape {
    double topLeft = 0;
    double topRight = 0;
    double bottomLeft = 0;
    double bottomRight = 0;

    static CornerShape uniform(double radius) { return {radius, radius, radius, radius}; }
    // Each radius is cut to half the shorter side; a corner eases into its sides over a little
    // more than its radius, so that the curvature has no jump where a side ends.
    QPainterPath path(const QRectF& rect) const;
    friend bool operator==(const CornerShape&, const CornerShape&) = default;
};

using DrawerShape = std::variant<CornerShape, NotchShape>;

// The outline of either shape inside a rectangle.
QPainterPath outlinePath(const DrawerShape& shape, const QRectF& rect);
// The shape's type name, which tells outlines of equal bounds apart in caches.
const char* shapeName(const DrawerShape& shape);

// Placing things relative to the screen edge a style sits on.
namespace EdgePlacement {
Qt::Alignment alignment(DisplayStylePosition position);
// The alignment as a unit point.
QPointF anchor(DisplayStylePosition position);
// `rect` moved out across its edge by `fraction` of its size.
QRectF offset(DisplayStylePosition position, const QRectF& rect, double fraction);
// A thin rectangle lying along the edge side of `rect`.
QRectF lineRect(DisplayStylePosition position, const QRectF& rect, double length, double thickness);
// Rounded on the side facing away from the edge, square on the edge side.
CornerShape shape(DisplayStylePosition position, double radius);
} // namespace EdgePlacement

// Every rectangle, outline and fade level of one display's drawer at one animation progress.
struct DrawerGeometry {
    static constexpr double unit = 1.0;

    using RectMap = std::function<QRectF(const QRectF&)>;

    QRectF resting;
    double counted = 0;
    QRectF rest;
    QRectF frame;
    double reveal = 0;
    bool atRest = true;
    DrawerShape restShape;
    DrawerShape shape;
    double surface = 0;
    double signal = 1;

    // `progress` runs from 0 (closed) to 1 (open) and may overshoot either end on a spring;
    // `toView` converts screen rectangles into the panel's view, `pillStart` maps a pill's resting
    // rectangle to the one its drawer grows from.
    static DrawerGeometry make(const DisplayLayout& layout, double progress, double trailing,
                               const QSizeF& size, double message, double scale, bool halo,
                               bool hiddenAtRest, const RectMap& toView, const RectMap& pillStart,
                               bool reduceMotion = Motion::reduceMotion());

    // The room kept above the drawer for a layout.
    static double topReserve(const DisplayLayout& layout);
};

} // namespace ostrel
