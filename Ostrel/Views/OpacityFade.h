#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QGraphicsObject>
#include <QObject>
#include <QRectF>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace ostrel {

// Fades one scene item's opacity along a curve on the interface clock, a frame at a time. Owned
// by the item (a child QObject), so it stops with it.
class OpacityFade final : public QObject {
    Q_OBJECT
public:
    OpacityFade(QGraphicsObject* item, std::shared_ptr<MainClock> clock);

    // The item's one fade, made on first use: two fades of one item would fight each frame.
    static OpacityFade* of(QGraphicsObject* item, const std::shared_ptr<MainClock>& clock);

    // Heads for `target` from the current opacity; `done` runs once it gets there. No curve
    // (Curve::none()) sets it at once.
    void to(double target, const Motion::Curve& curve, std::function<void()> done = {});
    double target() const { return value_.target(); }
    // Fades the item and everything on it as one picture: while it is not fully opaque it is drawn
    // into one layer first and the layer faded, so parts that overlap (a deck's cards) do not show
    // through each other. `clip`, asked at every paint, keeps the picture within a rectangle of
    // the item's own coordinates (none: all of it). The item's own opacity stays as it is.
    void asOneLayer(std::function<std::optional<QRectF>()> clip = {});
    // What an item fades to show now: its layer's opacity by its own.
    static double shownOpacity(const QGraphicsObject* item);
    // Moves the item with the fade: at `base` when opaque, `offsetY` lower when transparent (a
    // slide in from above for a negative offset).
    void setSlide(QPointF base, double offsetY);

private:
    class Layer;

    void frame();
    void apply(double opacity, bool running);

    QGraphicsObject* item_;
    std::shared_ptr<MainClock> clock_;
    Motion::Animated value_;
    std::function<void()> done_;
    MainClock::Handle next_;
    std::optional<std::pair<QPointF, double>> slide_;
    double shown_;
    bool layered_ = false;
    std::function<std::optional<QRectF>()> clip_;
};

} // namespace ostrel
