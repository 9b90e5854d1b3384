#include "OstrelCore/Display/DrawerGrowth.h"

#include <algorithm>
#include <cmath>

namespace ostrel::DrawerGrowth {

namespace {

constexpr double k = referenceRatio - 1;
constexpr double logRatio = 1.658179250862563;

double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

} // namespace

double perceived(double p) {
    if (p > 0) {
        return std::log(1 + k * p) / logRatio;
    }
    return k * p / logRatio;
}

double length(double a, double b, double t) {
    if (a > 0 && b > 0) {
        return a * std::pow(b / a, t);
    }
    return a + (b - a) * t;
}

QRectF frame(const QRectF& from, const QRectF& to, double progress, RectSide edge,
             double lineHold) {
    double held = progress;
    if (lineHold > 0) {
        const double g = std::min(lineHold, 0.99);
        held = std::max(progress - g, 0.0) / (1 - g);
    }
    const bool acrossIsHeight = edge == RectSide::minY || edge == RectSide::maxY;
    const double widthShare = perceived(acrossIsHeight ? held : progress);
    const double heightShare = perceived(acrossIsHeight ? progress : held);
    const double w = std::max(length(from.width(), to.width(), widthShare), 0.0);
    const double h = std::max(length(from.height(), to.height(), heightShare), 0.0);

    const double midX = lerp(from.x() + from.width() / 2, to.x() + to.width() / 2, held);
    const double midY = lerp(from.y() + from.height() / 2, to.y() + to.height() / 2, held);
    switch (edge) {
    case RectSide::minX:
        return QRectF(lerp(from.x(), to.x(), held), midY - h / 2, w, h);
    case RectSide::maxX:
        return QRectF(lerp(from.x() + from.width(), to.x() + to.width(), held) - w, midY - h / 2, w,
                      h);
    case RectSide::minY:
        return QRectF(midX - w / 2, lerp(from.y(), to.y(), held), w, h);
    case RectSide::maxY:
        return QRectF(midX - w / 2, lerp(from.y() + from.height(), to.y() + to.height(), held) - h,
                      w, h);
    }
    return to;
}

double reveal(double scale) {
    return std::clamp((scale - 0.6475) / 0.3084374999999999, 0.0, 1.0);
}

double proportional(double v, double depth, double restDepth) {
    if (restDepth > 0) {
        return std::min(v * std::max(depth, 0.0) / restDepth, v);
    }
    return v;
}

} // namespace ostrel::DrawerGrowth
