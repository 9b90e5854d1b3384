#include "Ostrel/Views/PositionGlide.h"

#include "OstrelCore/Display/Motion.h"

namespace ostrel {

PositionGlide::PositionGlide(QGraphicsObject* item, std::shared_ptr<MainClock> clock)
    : QObject(item), item_(item), clock_(std::move(clock)), x_(item->pos().x()),
      y_(item->pos().y()) {}

PositionGlide* PositionGlide::of(QGraphicsObject* item, const std::shared_ptr<MainClock>& clock) {
    if (auto* glide = item->findChild<PositionGlide*>(QString(), Qt::FindDirectChildrenOnly)) {
        return glide;
    }
    return new PositionGlide(item, clock);
}

void PositionGlide::to(QPointF target, const Motion::Curve& curve) {
    const double now = clock_->now();
    if (target == this->target() &&
        (x_.isRunning(now) || y_.isRunning(now) || item_->pos() == target)) {
        return;
    }
    next_.cancel();
    if (curve.kind() == Motion::Curve::Kind::none) {
        x_.set(target.x());
        y_.set(target.y());
    } else {
        if (!x_.isRunning(now) && !y_.isRunning(now)) {
            x_.set(item_->pos().x());
            y_.set(item_->pos().y());
        }
        x_.animate(target.x(), curve, now);
        y_.animate(target.y(), curve, now);
    }
    frame();
}

void PositionGlide::frame() {
    const double now = clock_->now();
    item_->setPos(x_.value(now), y_.value(now));
    if (x_.isRunning(now) || y_.isRunning(now)) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
    }
}

} // namespace ostrel
