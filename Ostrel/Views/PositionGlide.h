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
    QPointF target() const { return QPointF(x_.target(), y_.target()); }

private:
    PositionGlide(QGraphicsObject* item, std::shared_ptr<MainClock> clock);
    void frame();

    QGraphicsObject* item_;
    std::shared_ptr<MainClock> clock_;
    Motion::Animated x_;
    Motion::Animated y_;
    MainClock::Handle next_;
};

} // namespace ostrel
