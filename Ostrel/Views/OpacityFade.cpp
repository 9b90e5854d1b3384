#include "Ostrel/Views/OpacityFade.h"

#include "OstrelCore/Display/Motion.h"

#include <algorithm>

namespace ostrel {

OpacityFade::OpacityFade(QGraphicsObject* item, std::shared_ptr<MainClock> clock)
    : QObject(item), item_(item), clock_(std::move(clock)), value_(item->opacity()) {}

OpacityFade* OpacityFade::of(QGraphicsObject* item, const std::shared_ptr<MainClock>& clock) {
    if (auto* fade = item->findChild<OpacityFade*>(QString(), Qt::FindDirectChildrenOnly)) {
        return fade;
    }
    return new OpacityFade(item, clock);
}

void OpacityFade::to(double target, const Motion::Curve& curve, std::function<void()> done) {
    next_.cancel();
    done_ = std::move(done);
    if (curve.kind() == Motion::Curve::Kind::none) {
        value_.set(target);
    } else {
        value_.set(item_->opacity());
        value_.animate(target, curve, clock_->now());
    }
    frame();
}

void OpacityFade::setSlide(QPointF base, double offsetY) {
    slide_ = std::make_pair(base, offsetY);
    item_->setPos(base + QPointF(0, (1 - item_->opacity()) * offsetY));
}

void OpacityFade::frame() {
    const double now = clock_->now();
    const double opacity = std::clamp(value_.value(now), 0.0, 1.0);
    item_->setOpacity(opacity);
    if (slide_) {
        item_->setPos(slide_->first + QPointF(0, (1 - opacity) * slide_->second));
    }
    if (value_.isRunning(now)) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
        return;
    }
    if (auto done = std::exchange(done_, {})) {
        done();
    }
}

} // namespace ostrel
