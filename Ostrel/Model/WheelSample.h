#pragma once

#include <QPointF>

class QWheelEvent;

namespace ostrel {

// One scroll-wheel event as the shelf reads it. X11 wheels carry no phases and no pixel deltas:
// each notch is 120 of angle, read as one line.
struct WheelSample {
    enum class Phase { none, mayBegin, began, stationary, changed, ended, cancelled };
    enum class Momentum { none, active, ended };

    // Points for precise (trackpad) deltas, lines for a notched wheel; y positive is up/away.
    QPointF delta;
    bool precise = false;
    Phase phase = Phase::none;
    Momentum momentum = Momentum::none;
    // Seconds, for momentum.
    double timestamp = 0;

    static WheelSample from(const QWheelEvent& event);
    // One notch of a plain wheel in each direction given.
    static WheelSample lines(double dx, double dy) { return {QPointF(dx, dy), false}; }
};

} // namespace ostrel
