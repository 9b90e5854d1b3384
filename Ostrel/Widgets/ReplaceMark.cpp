#include "Ostrel/Widgets/ReplaceMark.h"

#include "OstrelCore/Display/Motion.h"

#include <QPainter>

#include <utility>

namespace ostrel {

ReplaceMark::ReplaceMark(QSize size, std::shared_ptr<MainClock> clock, QWidget* parent)
    : QWidget(parent), clock_(std::move(clock)) {
    setFixedSize(size);
}

double ReplaceMark::progress() const {
    return progress_.value(clock_->now());
}

void ReplaceMark::setMark(int state, const QPixmap& picture, const Motion::Curve& curve,
                          bool scales) {
    const double now = clock_->now();
    if (state == state_) {
        picture_ = picture;
        update();
        return;
    }
    if (state_ < 0 || curve.kind() == Motion::Curve::Kind::none) {
        old_ = QPixmap();
        oldState_ = -1;
        progress_.set(1);
    } else {
        // Back to the picture on its way out: the change turns round where it stands.
        const bool turnsBack = state == oldState_ && progress_.isRunning(now);
        progress_.set(turnsBack ? 1 - Motion::clamp01(progress_.value(now)) : 0);
        progress_.animate(1, curve, now);
        old_ = picture_;
        oldState_ = state_;
    }
    state_ = state;
    picture_ = picture;
    scales_ = scales;
    next_.cancel();
    frame();
}

void ReplaceMark::frame() {
    update();
    if (progress_.isRunning(clock_->now())) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
    }
}

void ReplaceMark::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double t = progress();
    const QPointF centre = QRectF(rect()).center();
    const auto draw = [&](const QPixmap& picture, double opacity, double scale) {
        if (picture.isNull() || opacity <= 0 || scale <= 0) {
            return;
        }
        const QSizeF size = picture.deviceIndependentSize();
        p.save();
        p.setOpacity(opacity);
        p.translate(centre);
        p.scale(scale, scale);
        p.drawPixmap(QPointF(-size.width() / 2, -size.height() / 2), picture);
        p.restore();
    };
    const double in = Motion::clamp01(t);
    if (in < 1) {
        draw(old_, 1 - in, scales_ ? 1 - 0.5 * in : 1);
    }
    // A spring may carry the new picture a little past its size before it settles.
    draw(picture_, in, scales_ ? 0.5 + 0.5 * t : 1);
}

} // namespace ostrel
