#include "Ostrel/Views/ScrollArea.h"

#include "OstrelCore/Display/Motion.h"

#include <QGraphicsSceneWheelEvent>

namespace ostrel {

namespace {

// A bare container: the scroll area moves it and clips it; it draws nothing itself.
class ScrollContent final : public QGraphicsObject {
public:
    using QGraphicsObject::QGraphicsObject;
    QRectF boundingRect() const override { return {}; }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}
};

} // namespace

ScrollArea::ScrollArea(QGraphicsItem* parent)
    : QGraphicsObject(parent), content_(new ScrollContent(this)) {
    setFlag(ItemClipsChildrenToShape);
    setFlag(ItemHasNoContents);
    content_->setFlag(ItemHasNoContents);
}

void ScrollArea::setSize(QSizeF size) {
    if (size == size_) {
        return;
    }
    prepareGeometryChange();
    size_ = size;
    setOffset(offset_);
    repin();
}

void ScrollArea::setContentHeight(double height) {
    contentHeight_ = height;
    setOffset(offset_);
    repin();
}

void ScrollArea::setOffset(double offset) {
    const double clamped = extent().clamp(offset);
    if (clamped == offset_) {
        return;
    }
    offset_ = clamped;
    place();
    repin();
    emit scrolled(offset_);
}

void ScrollArea::setPinned(bool pinned) {
    if (pin_.setPinned(pinned)) {
        repin();
    }
}

void ScrollArea::repin() {
    if (!pinEnabled_) {
        return;
    }
    // Our content has no top inset: the top is offset 0.
    if (const auto to = pin_.repin(-offset_, 0)) {
        pin_.holding = true;
        offset_ = -*to;
        place();
        emit scrolled(offset_);
        pin_.holding = false;
    }
}

void ScrollArea::place() {
    content_->setPos(0, -offset_);
}

void ScrollArea::wheel(int angleDeltaY) {
    if (pinEnabled_ && pin_.wheel(angleDeltaY, false)) {
        emit userScrolled();
    }
    // Positive deltas move toward the top: the offset shrinks.
    setOffset(offset_ - double(angleDeltaY) / 120.0 * Motion::wheelLine);
}

void ScrollArea::wheelEvent(QGraphicsSceneWheelEvent* event) {
    if (event->orientation() != Qt::Vertical) {
        event->ignore();
        return;
    }
    wheel(event->delta());
    event->accept();
}

} // namespace ostrel
