#include "Ostrel/Views/DragScroller.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DragLift.h"
#include "OstrelCore/Display/Motion.h"

#include <QGraphicsEffect>
#include <QGraphicsSceneMouseEvent>
#include <QLinearGradient>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

// How far a released drag carries on, from the velocity of its last moves.
constexpr double carry = 0.25;
constexpr double edgeTolerance = 1.0;

// Holds the strip's children; paints nothing itself.
class Content final : public QGraphicsObject {
public:
    explicit Content(QGraphicsItem* parent) : QGraphicsObject(parent) {
        setFlag(ItemHasNoContents);
    }
    QRectF boundingRect() const override { return {}; }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}
};

} // namespace

bool DragRule::scrolls(Qt::Orientation axis, QPointF translation) {
    return axis == Qt::Horizontal ? std::abs(translation.y()) <= std::abs(translation.x())
                                  : std::abs(translation.x()) <= std::abs(translation.y());
}

DragScroller::DragScroller(const ViewContext& context, Qt::Orientation axis, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), axis_(axis), content_(new Content(this)),
      fade_(new QGraphicsOpacityEffect(this)) {
    setFlag(ItemClipsChildrenToShape);
    setFiltersChildEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    fade_->setOpacity(1);
    setGraphicsEffect(fade_);
    if (context_.model) {
        QPointer<DragScroller> self(this);
        wheelToken_ = context_.model->addWheelReceiver(context_.display,
                                                       [self](const StripScroll::Input& input) {
                                                           if (self) {
                                                               self->handleWheel(input);
                                                           }
                                                       });
    }
}

DragScroller::~DragScroller() {
    tick_.cancel();
    if (context_.model && wheelToken_) {
        context_.model->removeWheelReceiver(*wheelToken_, context_.display);
    }
}

double DragScroller::now() const {
    return context_.clock->now();
}

double DragScroller::viewportLength() const {
    return axis_ == Qt::Horizontal ? size_.width() : size_.height();
}

double DragScroller::maxOffset() const {
    return std::max(0.0, contentLength_ - viewportLength());
}

StripScroll::Limits DragScroller::limits() const {
    return {maxOffset(), viewportLength(), Motion::rubberBand, Motion::settleDuration()};
}

double DragScroller::shownOffset() const {
    const double t = now();
    return settling_ ? scroll_.shown(t) : shown_.value(t);
}

bool DragScroller::fadesLeading() const {
    return shownOffset() > edgeTolerance;
}

bool DragScroller::fadesTrailing() const {
    return shownOffset() < maxOffset() - edgeTolerance;
}

void DragScroller::setSize(QSizeF size) {
    if (size == size_) {
        return;
    }
    prepareGeometryChange();
    size_ = size;
    apply(scroll_.refit(limits()));
    place();
    publishRange(scroll_.offset);
}

void DragScroller::setContentLength(double length) {
    if (length == contentLength_) {
        return;
    }
    contentLength_ = length;
    apply(scroll_.refit(limits()));
    place();
    publishRange(scroll_.offset);
}

void DragScroller::handleWheel(const StripScroll::Input& input) {
    apply(scroll_.handle(input, now(), limits()));
}

void DragScroller::apply(const StripScroll::Move& move) {
    const double t = now();
    switch (move.kind) {
    case StripScroll::Move::Kind::none:
        return;
    case StripScroll::Move::Kind::jump:
        settling_ = false;
        shown_.set(move.offset);
        break;
    case StripScroll::Move::Kind::glide:
        if (settling_) {
            shown_.set(scroll_.shown(t));
        }
        settling_ = false;
        shown_.animate(move.offset, Motion::standard(), t);
        break;
    case StripScroll::Move::Kind::settle:
        // The machine's own spring: what is shown and where it thinks the strip is agree.
        settling_ = true;
        break;
    }
    place();
    publishRange(scroll_.offset);
    frame();
}

void DragScroller::frame() {
    tick_.cancel();
    const double t = now();
    const bool moving =
        settling_ ? !scroll_.settle || !scroll_.settle->isOver(t) : shown_.isRunning(t);
    if (!moving) {
        if (settling_) {
            settling_ = false;
            shown_.set(scroll_.offset);
        }
        return;
    }
    tick_ = context_.clock->after(1.0 / 60, this, [this] {
        place();
        frame();
    });
}

void DragScroller::place() {
    const double offset = shownOffset();
    const QPointF at = axis_ == Qt::Horizontal ? QPointF(-offset, 0) : QPointF(0, -offset);
    if (content_->pos() != at) {
        content_->setPos(at);
        emit moved();
    }
    // Each edge fades over 18 points only while more content lies beyond it.
    const double length = viewportLength();
    if (length <= 0) {
        return;
    }
    const QPointF end = axis_ == Qt::Horizontal ? QPointF(length, 0) : QPointF(0, length);
    QLinearGradient mask(QPointF(0, 0), end);
    const double edge = std::min(0.5, Motion::edgeFadeLength / length);
    mask.setColorAt(0, QColor(0, 0, 0, fadesLeading() ? 0 : 255));
    mask.setColorAt(edge, Qt::black);
    mask.setColorAt(1 - edge, Qt::black);
    mask.setColorAt(1, QColor(0, 0, 0, fadesTrailing() ? 0 : 255));
    fade_->setOpacityMask(QBrush(mask));
}

void DragScroller::publishRange(double offset) {
    const double lo = std::max(0.0, offset);
    const Range next{lo, lo + viewportLength()};
    if (next != range_) {
        range_ = next;
        emit rangeChanged();
    }
}

void DragScroller::press(QPointF scenePos) {
    pressAt_ = scenePos;
    dragStart_.reset();
    scrolling_ = false;
    lastAt_ = scenePos;
    lastTime_ = now();
    velocity_ = 0;
}

bool DragScroller::move(QPointF scenePos) {
    if (!pressAt_) {
        return false;
    }
    const QPointF translation = scenePos - *pressAt_;
    if (!dragStart_) {
        if (std::hypot(translation.x(), translation.y()) < Motion::dragMinimum) {
            return false;
        }
        dragStart_ = DragStart{scroll_.offset, DragRule::scrolls(axis_, translation),
                               context_.model ? context_.model->hoveredItem() : std::nullopt};
    }
    if (context_.model && context_.model->isDraggingOut()) {
        return false;
    }
    // A card pulled out of the strip (or, across a horizontal strip, downwards) is dragged out.
    const QRectF around = boundingRect().adjusted(-Motion::dragOutMargin, -Motion::dragOutMargin,
                                                  Motion::dragOutMargin, Motion::dragOutMargin);
    const bool inside = around.contains(mapFromScene(scenePos));
    if (!dragStart_->scrolls) {
        if (!inside || axis_ == Qt::Vertical || translation.y() > 0) {
            return lift(translation);
        }
        return false;
    }
    if (!inside) {
        return lift(translation);
    }
    const double t = now();
    if (t > lastTime_) {
        velocity_ = along(scenePos - lastAt_) / (t - lastTime_);
    }
    lastAt_ = scenePos;
    lastTime_ = t;
    apply(scroll_.drag(dragStart_->origin - along(translation), limits()));
    scrolling_ = true;
    if (context_.model) {
        context_.model->pressDragged();
    }
    return true;
}

bool DragScroller::lift(QPointF translation) {
    if (!dragStart_ || !dragStart_->item || !context_.model) {
        return false;
    }
    const double s = scroll_.offset;
    const double d = s - dragStart_->origin;
    // The pointer's way relative to the card it grabbed: its own plus the strip's since then.
    const QPointF relative =
        axis_ == Qt::Horizontal ? translation + QPointF(d, 0) : translation + QPointF(0, d);
    DragLift::shared().lift(dragStart_->item->id, relative);
    if (scrolling_) {
        scrolling_ = false;
        apply(scroll_.release(s, 0, now(), limits()));
    }
    context_.model->beginDragOut(*dragStart_->item);
    return true;
}

bool DragScroller::release(QPointF scenePos) {
    const bool wasScrolling = scrolling_;
    pressAt_.reset();
    dragStart_.reset();
    scrolling_ = false;
    if (!wasScrolling) {
        return false;
    }
    Q_UNUSED(scenePos);
    if (context_.model) {
        context_.model->pressDragged();
        context_.model->scrolled();
    }
    // The pointer's last velocity carried on a little beyond the release.
    const double beyond = velocity_ * carry;
    apply(scroll_.release(scroll_.offset - beyond, -velocity_, now(), limits()));
    return true;
}

bool DragScroller::sceneEventFilter(QGraphicsItem*, QEvent* event) {
    switch (event->type()) {
    case QEvent::GraphicsSceneMousePress: {
        auto* e = static_cast<QGraphicsSceneMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) {
            press(e->scenePos());
        }
        return false;
    }
    case QEvent::GraphicsSceneMouseMove: {
        auto* e = static_cast<QGraphicsSceneMouseEvent*>(event);
        return (e->buttons() & Qt::LeftButton) && move(e->scenePos());
    }
    case QEvent::GraphicsSceneMouseRelease: {
        auto* e = static_cast<QGraphicsSceneMouseEvent*>(event);
        return e->button() == Qt::LeftButton && release(e->scenePos());
    }
    default:
        return false;
    }
}

void DragScroller::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    press(event->scenePos());
    event->accept();
}

void DragScroller::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    move(event->scenePos());
}

void DragScroller::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (!release(event->scenePos())) {
        // A click on a gap between the strip's children.
        emit tappedGap();
    }
}

} // namespace ostrel
