#include "OstrelCore/Display/MotionAnimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

namespace ostrel::Motion {

namespace {

struct Bezier {
    double x1, y1, x2, y2;
};

std::optional<Bezier> bezierOf(Curve::Kind kind) {
    switch (kind) {
    case Curve::Kind::easeIn:
        return Bezier{0.42, 0, 1, 1};
    case Curve::Kind::easeOut:
        return Bezier{0, 0, 0.58, 1};
    case Curve::Kind::easeInOut:
        return Bezier{0.42, 0, 0.58, 1};
    case Curve::Kind::none:
    case Curve::Kind::linear:
    case Curve::Kind::spring:
        break;
    }
    return std::nullopt;
}

// One coordinate of a cubic Bézier from (0, 0) to (1, 1), and its first two derivatives.
double coordinate(double p1, double p2, double s) {
    const double r = 1 - s;
    return 3 * r * r * s * p1 + 3 * r * s * s * p2 + s * s * s;
}

double slope(double p1, double p2, double s) {
    const double r = 1 - s;
    return 3 * r * r * p1 + 6 * r * s * (p2 - p1) + 3 * s * s * (1 - p2);
}

double bend(double p1, double p2, double s) {
    return 6 * (1 - s) * (p2 - 2 * p1) + 6 * s * (1 - 2 * p2 + p1);
}

// The curve parameter whose x is u. x grows monotonically for these curves, so bisection always
// converges; Newton steps make it quick.
double parameterFor(const Bezier& b, double u) {
    double s = u;
    for (int i = 0; i < 8; ++i) {
        const double error = coordinate(b.x1, b.x2, s) - u;
        if (std::abs(error) < 1e-14) {
            return s;
        }
        const double d = slope(b.x1, b.x2, s);
        if (std::abs(d) < 1e-9) {
            break;
        }
        s -= error / d;
        if (s < 0 || s > 1) {
            break;
        }
    }
    double lo = 0;
    double hi = 1;
    s = u;
    for (int i = 0; i < 100; ++i) {
        const double x = coordinate(b.x1, b.x2, s);
        if (std::abs(x - u) < 1e-15) {
            break;
        }
        (x < u ? lo : hi) = s;
        s = (lo + hi) / 2;
    }
    return s;
}

// A spring has died down once its energy is this share of the energy it started with (in
// amplitude); a damped spring's energy never grows, so it stays there.
constexpr double springRest = 1e-4;

struct SpringState {
    double offset;   // from the target
    double velocity; // per second
};

SpringState springAt(double x0, double v0, double response, double zeta, double t) {
    const double w0 = 2 * std::numbers::pi / response;
    zeta = std::max(zeta, 0.0);
    if (zeta < 1) {
        const double a = zeta * w0;
        const double wd = w0 * std::sqrt(1 - zeta * zeta);
        const double e = std::exp(-a * t);
        const double c = std::cos(wd * t);
        const double s = std::sin(wd * t);
        return {e * (x0 * c + (v0 + a * x0) / wd * s),
                e * (v0 * c - (a * v0 + w0 * w0 * x0) / wd * s)};
    }
    if (zeta == 1) {
        const double e = std::exp(-w0 * t);
        const double k = v0 + w0 * x0;
        return {e * (x0 + k * t), e * (v0 - w0 * k * t)};
    }
    const double root = std::sqrt(zeta * zeta - 1);
    const double r1 = -w0 * (zeta - root);
    const double r2 = -w0 * (zeta + root);
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    const double e1 = std::exp(r1 * t);
    const double e2 = std::exp(r2 * t);
    return {c1 * e1 + c2 * e2, c1 * r1 * e1 + c2 * r2 * e2};
}

double springEnergy(double offset, double velocity, double response) {
    const double w0 = 2 * std::numbers::pi / response;
    return std::hypot(offset, velocity / w0);
}

} // namespace

double easedShare(Curve::Kind kind, double u) {
    u = std::clamp(u, 0.0, 1.0);
    const auto b = bezierOf(kind);
    if (!b) {
        return u;
    }
    return coordinate(b->y1, b->y2, parameterFor(*b, u));
}

double easedSlope(Curve::Kind kind, double u) {
    u = std::clamp(u, 0.0, 1.0);
    const auto b = bezierOf(kind);
    if (!b) {
        return 1;
    }
    const double s = parameterFor(*b, u);
    const double dx = slope(b->x1, b->x2, s);
    if (std::abs(dx) > 1e-9) {
        return slope(b->y1, b->y2, s) / dx;
    }
    // At an end where both first derivatives vanish the slope is the ratio of the second ones.
    return bend(b->y1, b->y2, s) / bend(b->x1, b->x2, s);
}

double settleTime(const Curve& curve) {
    if (curve.kind() != Curve::Kind::spring) {
        return curve.duration();
    }
    const Run run{1, 0, 0, 0, curve};
    double t = 0;
    while (!run.isOver(t) && t < 10) {
        t += 1.0 / 60;
    }
    return t;
}

double Run::value(double now) const {
    const double elapsed = std::max(now - start, 0.0);
    switch (curve.kind()) {
    case Curve::Kind::none:
        return to;
    case Curve::Kind::spring: {
        if (curve.response() <= 0 || isOver(now)) {
            return to;
        }
        return to +
               springAt(from - to, velocity, curve.response(), curve.dampingFraction(), elapsed)
                   .offset;
    }
    case Curve::Kind::linear:
    case Curve::Kind::easeIn:
    case Curve::Kind::easeOut:
    case Curve::Kind::easeInOut:
        if (curve.duration() <= 0 || elapsed >= curve.duration()) {
            return to;
        }
        return from + (to - from) * easedShare(curve.kind(), elapsed / curve.duration());
    }
    return to;
}

double Run::velocityAt(double now) const {
    const double elapsed = std::max(now - start, 0.0);
    switch (curve.kind()) {
    case Curve::Kind::none:
        return 0;
    case Curve::Kind::spring:
        if (curve.response() <= 0 || isOver(now)) {
            return 0;
        }
        return springAt(from - to, velocity, curve.response(), curve.dampingFraction(), elapsed)
            .velocity;
    case Curve::Kind::linear:
    case Curve::Kind::easeIn:
    case Curve::Kind::easeOut:
    case Curve::Kind::easeInOut:
        if (curve.duration() <= 0 || elapsed >= curve.duration()) {
            return 0;
        }
        return (to - from) * easedSlope(curve.kind(), elapsed / curve.duration()) /
               curve.duration();
    }
    return 0;
}

bool Run::isOver(double now) const {
    const double elapsed = std::max(now - start, 0.0);
    switch (curve.kind()) {
    case Curve::Kind::none:
        return true;
    case Curve::Kind::spring: {
        if (curve.response() <= 0) {
            return true;
        }
        const double initial = springEnergy(from - to, velocity, curve.response());
        if (initial == 0) {
            return true;
        }
        const auto state =
            springAt(from - to, velocity, curve.response(), curve.dampingFraction(), elapsed);
        return springEnergy(state.offset, state.velocity, curve.response()) <= springRest * initial;
    }
    case Curve::Kind::linear:
    case Curve::Kind::easeIn:
    case Curve::Kind::easeOut:
    case Curve::Kind::easeInOut:
        return curve.duration() <= 0 || elapsed >= curve.duration();
    }
    return true;
}

void Animated::animate(double target, const Curve& curve, double now) {
    if (target == run_.to) {
        return;
    }
    run_ = Run{run_.value(now), target, run_.velocityAt(now), now, curve};
}

void Animated::set(double value) {
    run_ = Run{value, value, 0, 0, Curve::none()};
}

Animator::Animator(Clock clock) : clock_(std::move(clock)), frame_(clock_()) {}

double Animator::tick() {
    frame_ = clock_();
    return frame_;
}

void Animator::animate(Animated& value, double target, const Curve& curve) const {
    value.animate(target, curve, clock_());
}

} // namespace ostrel::Motion
