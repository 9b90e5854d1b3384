#pragma once

#include <optional>

namespace ostrel {

// The give of a strip scrolled past either end: it approaches the strip's visible extent and
// starts with the slope of the coefficient.
namespace RubberBand {
double band(double x, double dimension, double coefficient);
// `x` within 0...upTo as it is; beyond either end, banded.
double offset(double x, double upTo, double dimension, double coefficient);
} // namespace RubberBand

// A critically damped spring from `from` to `to` that starts with `velocity` (points per second).
struct ScrollSettle {
    double from = 0;
    double to = 0;
    double velocity = 0;
    double start = 0;
    double duration = 0;

    // A duration of 0 or less is over at once, at its target.
    double position(double at) const;
    bool isOver(double at) const;
    // The start velocity relative to the distance, as spring animations take it.
    double unitVelocity() const;

    friend bool operator==(const ScrollSettle&, const ScrollSettle&) = default;
};

// Scrolling of one item strip along its axis: wheel lines, trackpad touches and momentum, drags,
// a rubber band past the ends and a settle back into range. Offsets are points from the start.
struct StripScroll {
    struct Limits {
        Limits(double maxOffset, double dimension, double coefficient, double settleDuration);
        double maxOffset;
        double dimension;
        double coefficient;
        double settleDuration;
        friend bool operator==(const Limits&, const Limits&) = default;
    };

    struct Input {
        enum class Kind { line, reveal, touch, momentum, lifted, momentumEnded, press };
        Kind kind;
        double delta = 0;
        double at = 0; // event time of a momentum input

        static Input line(double d) { return {Kind::line, d, 0}; }
        static Input reveal(double d) { return {Kind::reveal, d, 0}; }
        static Input touch(double d) { return {Kind::touch, d, 0}; }
        static Input momentum(double d, double at) { return {Kind::momentum, d, at}; }
        static Input lifted() { return {Kind::lifted, 0, 0}; }
        static Input momentumEnded() { return {Kind::momentumEnded, 0, 0}; }
        static Input press() { return {Kind::press, 0, 0}; }
        friend bool operator==(const Input&, const Input&) = default;
    };

    // What the view shows next.
    struct Move {
        enum class Kind { jump, glide, settle, none };
        Kind kind = Kind::none;
        double offset = 0;  // jump and glide
        ScrollSettle run{}; // settle; read positions with `shown(at:)`

        static Move jump(double x) { return {Kind::jump, x, {}}; }
        static Move glide(double x) { return {Kind::glide, x, {}}; }
        static Move settle(const ScrollSettle& s) { return {Kind::settle, 0, s}; }
        static Move none() { return {}; }
        friend bool operator==(const Move&, const Move&) = default;
    };

    // While a settle runs this already holds its destination.
    double offset = 0;
    std::optional<ScrollSettle> settle;
    // The unbanded offset of a touch scroll, kept between its inputs.
    std::optional<double> raw;
    bool momentumSpent = false;
    std::optional<double> lastMomentum;

    Move handle(const Input& input, double now, const Limits& limits);
    Move release(double toward, double velocity, double now, const Limits& limits);
    Move drag(double to, const Limits& limits);
    Move refit(const Limits& limits);
    double shown(double at) const;

    friend bool operator==(const StripScroll&, const StripScroll&) = default;

private:
    bool settling(double now) const { return settle && !settle->isOver(now); }
    void catchSettle(double now);
    Move settleTo(double target, double velocity, double now, const Limits& limits);
};

} // namespace ostrel
