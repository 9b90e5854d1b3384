#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QGraphicsObject>
#include <QObject>

#include <memory>

namespace ostrel {

// Moves one scene item to a new place along a curve on the interface clock, a frame at a time:
// the rows and cards of a grid when a turn above them folds or a new turn arrives. Owned by the
// item, so it stops with it.
class PositionGlide final : public QObject {
    Q_OBJECT
public:
    // The item's one glide, made on first use.
    static PositionGlide* of(QGraphicsObject* item, const std::shared_ptr<MainClock>& clock);

    // Heads for `target` from where the item is now, keeping a running glide's speed; no curve
    // puts it there at once. The same target changes nothing.
    void to(QPointF target, const Motion::Curve& curve);
    // Heads for `target` on the curve already running, or puts it there at once when none runs:
    // for places that follow another animation (a deck spreading) while a change may be gliding.
    void follow(QPointF target);
    QPointF target() const { return QPointF(x_.target(), y_.target()); }
    // Puts the item at `target` at once, lifted by `offset` (above it, when negative), and
    // settles it into place along `curve`: how an arriving row drops in.
    void dropIn(QPointF target, double offset, const Motion::Curve& curve);
    // Lifts the item by `offset` from its place along `curve` (back to 0 with a new dropIn or
    // settle): how a leaving row rises away.
    void lift(double offset, const Motion::Curve& curve);

private:
    PositionGlide(QGraphicsObject* item, std::shared_ptr<MainClock> clock);
    void frame();
    bool isRunning(double now) const;

    QGraphicsObject* item_;
    std::shared_ptr<MainClock> clock_;
    Motion::Animated x_;
    Motion::Animated y_;
    Motion::Animated lift_;
    MainClock::Handle next_;
};

} // namespace ostrel
