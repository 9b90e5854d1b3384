#include "Ostrel/Views/OpacityFade.h"

#include "OstrelCore/Display/Motion.h"

#include <QGraphicsEffect>
#include <QPainter>

#include <algorithm>

namespace ostrel {

// The item and everything on it drawn once, at full strength, then laid down at one opacity.
class OpacityFade::Layer final : public QGraphicsEffect {
public:
    Layer(QGraphicsItem* item, const std::function<std::optional<QRectF>()>* clip)
        : item_(item), clip_(clip) {}
    void setOpacity(double opacity) {
        opacity_ = opacity;
        // Every frame, as the clip may have moved even when the opacity stands.
        update();
    }

protected:
    void draw(QPainter* painter) override {
        // The item ignores its parents' opacity while layered: that would reach each part on its
        // own. It comes back here, once for the whole picture.
        const QGraphicsItem* parent = item_->parentItem();
        const double opacity =
            opacity_ * item_->opacity() * (parent ? parent->effectiveOpacity() : 1.0);
        if (opacity <= 0) {
            return;
        }
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::DeviceCoordinates, &offset, NoPad);
        if (picture.isNull()) {
            return;
        }
        painter->save();
        if (*clip_) {
            if (const auto within = (*clip_)()) {
                painter->setClipRect(*within, Qt::IntersectClip);
            }
        }
        painter->setWorldTransform(QTransform());
        painter->setOpacity(opacity);
        painter->drawPixmap(offset, picture);
        painter->restore();
    }

private:
    QGraphicsItem* item_;
    const std::function<std::optional<QRectF>()>* clip_;
    double opacity_ = 1;
};

OpacityFade::OpacityFade(QGraphicsObject* item, std::shared_ptr<MainClock> clock)
    : QObject(item), item_(item), clock_(std::move(clock)), value_(item->opacity()),
      shown_(item->opacity()) {}

OpacityFade* OpacityFade::of(QGraphicsObject* item, const std::shared_ptr<MainClock>& clock) {
    if (auto* fade = item->findChild<OpacityFade*>(QString(), Qt::FindDirectChildrenOnly)) {
        return fade;
    }
    return new OpacityFade(item, clock);
}

double OpacityFade::shownOpacity(const QGraphicsObject* item) {
    const auto* fade = item->findChild<OpacityFade*>(QString(), Qt::FindDirectChildrenOnly);
    return item->opacity() * (fade && fade->layered_ ? fade->shown_ : 1.0);
}

void OpacityFade::asOneLayer(std::function<std::optional<QRectF>()> clip) {
    clip_ = std::move(clip);
    if (!layered_) {
        layered_ = true;
        next_.cancel();
        value_.set(1);
        shown_ = 1;
    }
}

void OpacityFade::to(double target, const Motion::Curve& curve, std::function<void()> done) {
    next_.cancel();
    done_ = std::move(done);
    if (curve.kind() == Motion::Curve::Kind::none) {
        value_.set(target);
    } else {
        value_.set(layered_ ? shown_ : item_->opacity());
        value_.animate(target, curve, clock_->now());
    }
    frame();
}

void OpacityFade::setSlide(QPointF base, double offsetY) {
    slide_ = std::make_pair(base, offsetY);
    item_->setPos(base + QPointF(0, (1 - shown_) * offsetY));
}

void OpacityFade::apply(double opacity, bool running) {
    shown_ = opacity;
    if (!layered_) {
        item_->setOpacity(opacity);
        return;
    }
    // Only while it fades: at rest the item draws straight, at no cost.
    auto* layer = dynamic_cast<Layer*>(item_->graphicsEffect());
    if (opacity >= 1 && !running) {
        if (layer) {
            item_->setGraphicsEffect(nullptr);
            item_->setFlag(QGraphicsItem::ItemIgnoresParentOpacity, false);
        }
        return;
    }
    if (!layer) {
        layer = new Layer(item_, &clip_);
        item_->setFlag(QGraphicsItem::ItemIgnoresParentOpacity, true);
        item_->setGraphicsEffect(layer);
    }
    layer->setOpacity(opacity);
}

void OpacityFade::frame() {
    const double now = clock_->now();
    const double opacity = std::clamp(value_.value(now), 0.0, 1.0);
    const bool running = value_.isRunning(now);
    apply(opacity, running);
    if (slide_) {
        item_->setPos(slide_->first + QPointF(0, (1 - opacity) * slide_->second));
    }
    if (running) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
        return;
    }
    if (auto done = std::exchange(done_, {})) {
        done();
    }
}

} // namespace ostrel
