#pragma once

#include <functional>

namespace ostrel::Motion {

// How a value travels to a new target: one of the named cubic Bézier curves over a duration, or a
// spring of a response and a damping fraction that keeps the velocity it is started with.
class Curve {
public:
    enum class Kind { none, linear, easeIn, easeOut, easeInOut, spring };

    // No animation: the value is at its target at once.
    static constexpr Curve none() { return Curve(Kind::none, 0, 0, 0); }
    static constexpr Curve linear(double duration) { return Curve(Kind::linear, duration, 0, 0); }
    static constexpr Curve easeIn(double duration) { return Curve(Kind::easeIn, duration, 0, 0); }
    static constexpr Curve easeOut(double duration) { return Curve(Kind::easeOut, duration, 0, 0); }
    static constexpr Curve easeInOut(double duration) {
        return Curve(Kind::easeInOut, duration, 0, 0);
    }
    static constexpr Curve spring(double response, double dampingFraction) {
        return Curve(Kind::spring, 0, response, dampingFraction);
    }

    constexpr Kind kind() const { return kind_; }
    // Length of an ease curve; 0 for a spring and for no animation.
    constexpr double duration() const { return duration_; }
    constexpr double response() const { return response_; }
    constexpr double dampingFraction() const { return damping_; }

    friend constexpr bool operator==(const Curve&, const Curve&) = default;

private:
    constexpr Curve(Kind kind, double duration, double response, double damping)
        : kind_(kind), duration_(duration), response_(response), damping_(damping) {}

    Kind kind_;
    double duration_;
    double response_;
    double damping_;
};

// The eased share (0 to 1) of a Bézier curve at the share `u` of its duration, and its slope
// d(share)/du there. Linear for `none`, `linear` and `spring`.
double easedShare(Curve::Kind kind, double u);
double easedSlope(Curve::Kind kind, double u);

// How long a change from rest along `curve` takes to come to rest, to the next 1/60 s for a spring.
double settleTime(const Curve& curve);

// One run of a value from `from` to `to`, started at `start` with `velocity` (per second). Every
// position is a closed-form function of the time, so a frame at any moment reads it exactly.
struct Run {
    double from = 0;
    double to = 0;
    double velocity = 0;
    double start = 0;
    Curve curve = Curve::none();

    double value(double now) const;
    double velocityAt(double now) const;
    // The value rests at `to` from then on (a spring: once its energy has died down).
    bool isOver(double now) const;

    friend bool operator==(const Run&, const Run&) = default;
};

// One animated number. Conditions read `target()`; painting reads `value(now)`.
class Animated {
public:
    explicit Animated(double value = 0) : run_{value, value, 0, 0, Curve::none()} {}

    double target() const { return run_.to; }
    double value(double now) const { return run_.value(now); }
    double velocity(double now) const { return run_.velocityAt(now); }
    bool isRunning(double now) const { return !run_.isOver(now); }
    const Run& run() const { return run_; }

    // Heads for `target` from where the value is at `now`, keeping its velocity there, so that a
    // spring retargeted mid-flight carries on without a kink. The same target changes nothing.
    void animate(double target, const Curve& curve, double now);
    // Puts the value at `value` without animating.
    void set(double value);

    friend bool operator==(const Animated&, const Animated&) = default;

private:
    Run run_;
};

// Reads the interface clock for a window: once per frame for painting, and afresh for each
// animated assignment. The clock is injected so that tests choose the times.
class Animator {
public:
    using Clock = std::function<double()>;

    explicit Animator(Clock clock);

    // Reads the clock for a new frame and returns that time.
    double tick();
    double frameTime() const { return frame_; }

    void animate(Animated& value, double target, const Curve& curve) const;
    double value(const Animated& value) const { return value.value(frame_); }
    bool isRunning(const Animated& value) const { return value.isRunning(frame_); }

private:
    Clock clock_;
    double frame_;
};

} // namespace ostrel::Motion
