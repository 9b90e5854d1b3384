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

bool PositionGlide::isRunning(double now) const {
    return x_.isRunning(now) || y_.isRunning(now) || lift_.isRunning(now);
}

void PositionGlide::to(QPointF target, const Motion::Curve& curve) {
    const double now = clock_->now();
    const QPointF at(x_.value(now), y_.value(now));
    if (target == this->target() &&
        (isRunning(now) || item_->pos() == at + QPointF(0, lift_.value(now)))) {
        return;
    }
    next_.cancel();
    if (!x_.isRunning(now) && !y_.isRunning(now)) {
        // Placed by hand since the last glide: start from where it stands.
        x_.set(item_->pos().x());
        y_.set(item_->pos().y() - lift_.value(now));
    }
    if (curve.kind() == Motion::Curve::Kind::none) {
        x_.set(target.x());
        y_.set(target.y());
    } else {
        x_.animate(target.x(), curve, now);
        y_.animate(target.y(), curve, now);
    }
    frame();
}

void PositionGlide::follow(QPointF target) {
    const double now = clock_->now();
    const Motion::Curve running = x_.isRunning(now)   ? x_.run().curve
                                  : y_.isRunning(now) ? y_.run().curve
                                                      : Motion::Curve::none();
    to(target, running);
}

void PositionGlide::dropIn(QPointF target, double offset, const Motion::Curve& curve) {
    next_.cancel();
    x_.set(target.x());
    y_.set(target.y());
    lift_.set(curve.kind() == Motion::Curve::Kind::none ? 0 : offset);
    lift_.animate(0, curve, clock_->now());
    frame();
}

void PositionGlide::lift(double offset, const Motion::Curve& curve) {
    next_.cancel();
    const double now = clock_->now();
    if (!x_.isRunning(now) && !y_.isRunning(now)) {
        x_.set(item_->pos().x());
        y_.set(item_->pos().y() - lift_.value(now));
    }
    lift_.animate(offset, curve, now);
    frame();
}

void PositionGlide::frame() {
    const double now = clock_->now();
    item_->setPos(x_.value(now), y_.value(now) + lift_.value(now));
    if (isRunning(now)) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
    }
}

} // namespace ostrel
