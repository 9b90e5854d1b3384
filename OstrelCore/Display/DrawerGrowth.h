#pragma once

#include <QRectF>
#include <QSizeF>

namespace ostrel {

// The screen edge a drawer is anchored to, in the coordinates of the rectangles it grows between.
enum class RectSide { minX, maxX, minY, maxY };

// A drawer's frame between its resting shape and its open rectangle, growing so that equal steps
// of time look like equal steps of size.
namespace DrawerGrowth {

inline const QSizeF referenceRest{220, 38};
inline const QSizeF referenceOpen{720, 320};
// The square root of the ratio of the two reference areas.
inline constexpr double referenceRatio = 5.2497436711176855;

double perceived(double p);
// Geometric between two positive lengths, linear otherwise.
double length(double a, double b, double perceived);
// `lineHold` holds back the extent along the edge until that share of the progress has passed.
QRectF frame(const QRectF& from, const QRectF& to, double progress, RectSide edge, double lineHold);
// The share of the content to reveal at a drawer scale.
double reveal(double scale);
// A corner radius that shrinks with a drawer shallower than its resting depth.
double proportional(double v, double depth, double restDepth);

} // namespace DrawerGrowth

} // namespace ostrel
