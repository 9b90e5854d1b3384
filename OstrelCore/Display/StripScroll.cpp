#include "OstrelCore/Display/StripScroll.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel {

namespace RubberBand {

double band(double x, double dimension, double coefficient) {
    if (x > 0 && dimension > 0) {
        return dimension * (1 - 1 / (x * coefficient / dimension + 1));
    }
    return 0;
}

double offset(double x, double upTo, double dimension, double coefficient) {
    if (x < 0) {
        return -band(-x, dimension, coefficient);
    }
    if (x <= upTo) {
        return x;
    }
    return upTo + band(x - upTo, dimension, coefficient);
}

} // namespace RubberBand

double ScrollSettle::position(double at) const {
    if (!(duration > 0)) {
        return to;
    }
    const double e = std::max(at - start, 0.0);
    const double w = 2 * std::numbers::pi / duration;
    const double a = from - to;
    return to + (a + e * (velocity + w * a)) * std::exp(-w * e);
}

bool ScrollSettle::isOver(double at) const {
    return !(duration > 0) || at - start >= 1.5 * duration;
}

double ScrollSettle::unitVelocity() const {
    return to == from ? 0 : velocity / (to - from);
}

StripScroll::Limits::Limits(double maxOffset, double dimension, double coefficient,
                            double settleDuration)
    : maxOffset(std::max(maxOffset, 0.0)), dimension(dimension), coefficient(coefficient),
      settleDuration(settleDuration) {}

namespace {

double clampTo(double x, const StripScroll::Limits& limits) {
    return std::min(std::max(x, 0.0), limits.maxOffset);
}

bool inRange(double x, const StripScroll::Limits& limits) {
    return x >= 0 && x <= limits.maxOffset;
}

} // namespace

double StripScroll::shown(double at) const {
    return settling(at) ? settle->position(at) : offset;
}

void StripScroll::catchSettle(double now) {
    offset = shown(now);
    settle.reset();
}

StripScroll::Move StripScroll::settleTo(double target, double velocity, double now,
                                        const Limits& limits) {
    if (target == offset) {
        settle.reset();
        return Move::none();
    }
    settle = ScrollSettle{offset, target, velocity, now, limits.settleDuration};
    offset = target;
    return Move::settle(*settle);
}

StripScroll::Move StripScroll::handle(const Input& input, double now, const Limits& limits) {
    switch (input.kind) {
    case Input::Kind::line:
    case Input::Kind::reveal: {
        raw.reset();
        offset = clampTo(shown(now) + input.delta, limits);
        settle.reset();
        return input.kind == Input::Kind::line ? Move::jump(offset) : Move::glide(offset);
    }
    case Input::Kind::touch: {
        momentumSpent = false;
        double from = 0;
        if (raw) {
            from = *raw;
        } else {
            catchSettle(now);
            from = offset;
        }
        raw = from + input.delta;
        offset = RubberBand::offset(*raw, limits.maxOffset, limits.dimension, limits.coefficient);
        return Move::jump(offset);
    }
    case Input::Kind::momentum: {
        const double dt = lastMomentum ? std::max(input.at - *lastMomentum, 1.0 / 240) : 1.0 / 60;
        lastMomentum = input.at;
        if (momentumSpent || settling(now)) {
            return Move::none();
        }
        const double next = offset + input.delta;
        if (inRange(next, limits)) {
            offset = next;
            return Move::jump(next);
        }
        // One bounce at the end; the rest of this momentum is ignored.
        momentumSpent = true;
        raw.reset();
        return settleTo(clampTo(next, limits), input.delta / dt, now, limits);
    }
    case Input::Kind::lifted:
        raw.reset();
        if (inRange(offset, limits)) {
            return Move::none();
        }
        momentumSpent = true;
        return settleTo(clampTo(offset, limits), 0, now, limits);
    case Input::Kind::momentumEnded:
        momentumSpent = false;
        lastMomentum.reset();
        return Move::none();
    case Input::Kind::press: {
        const bool caught = settling(now);
        catchSettle(now);
        if (inRange(offset, limits)) {
            return caught ? Move::jump(offset) : Move::none();
        }
        raw.reset();
        return settleTo(clampTo(offset, limits), 0, now, limits);
    }
    }
    return Move::none();
}

StripScroll::Move StripScroll::release(double toward, double velocity, double now,
                                       const Limits& limits) {
    raw.reset();
    return settleTo(clampTo(toward, limits), velocity, now, limits);
}

StripScroll::Move StripScroll::drag(double to, const Limits& limits) {
    raw.reset();
    settle.reset();
    offset = RubberBand::offset(to, limits.maxOffset, limits.dimension, limits.coefficient);
    return Move::jump(offset);
}

StripScroll::Move StripScroll::refit(const Limits& limits) {
    const double target = clampTo(offset, limits);
    if (target == offset) {
        return Move::none();
    }
    settle.reset();
    raw.reset();
    offset = target;
    return Move::jump(target);
}

} // namespace ostrel
