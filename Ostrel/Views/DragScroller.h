#pragma once

#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Display/StripScroll.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <QGraphicsObject>
#include <QUuid>

#include <optional>

class QGraphicsOpacityEffect;

namespace ostrel {

// Whether a drag scrolls a strip: when it moves at least as far along the axis as across it.
namespace DragRule {
bool scrolls(Qt::Orientation axis, QPointF translation);
}

// The shelf's one-axis scrolling strip: content shifted by the offset and clipped to the strip,
// faded at an edge while more lies beyond it, moved by drags on the strip (its cards keep their
// clicks), by the wheel events the model hands to the open display's strip, and by amounts the
// layout forwards. Every move comes from the strip's `StripScroll`; the strip shows it at once,
// gliding, or settling on a critically damped spring.
class DragScroller final : public QGraphicsObject {
    Q_OBJECT
public:
    // The visible span of the content along the axis, in content coordinates.
    struct Range {
        double lo = 0;
        double hi = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    DragScroller(const ViewContext& context, Qt::Orientation axis, QGraphicsItem* parent = nullptr);
    ~DragScroller() override;

    // What scrolls; children measure their frames in its coordinates, which do not change as the
    // strip scrolls.
    QGraphicsObject* content() const { return content_; }
    Qt::Orientation axis() const { return axis_; }

    void setSize(QSizeF size);
    QSizeF size() const { return size_; }
    void setContentLength(double length);
    double contentLength() const { return contentLength_; }
    double viewportLength() const;
    double maxOffset() const;
    StripScroll::Limits limits() const;

    const StripScroll& scroll() const { return scroll_; }
    // The offset shown now (animating towards the machine's offset).
    double shownOffset() const;
    Range range() const { return range_; }
    // Whether content lies beyond the leading and the trailing edge: those edges fade.
    bool fadesLeading() const;
    bool fadesTrailing() const;

    // One input for the machine: a wheel line or touch from the panel, or an amount forwarded by
    // the layout.
    void handleWheel(const StripScroll::Input& input);

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

signals:
    void rangeChanged();
    // The content moved on screen (a frame of a glide or settle included).
    void moved();
    // A click that did not scroll, on no child of the strip.
    void tappedGap();

protected:
    bool sceneEventFilter(QGraphicsItem* watched, QEvent* event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    struct DragStart {
        double origin = 0;
        bool scrolls = false;
        // The card under the pointer when the drag was recognised.
        std::optional<ShelfItem> item;
    };

    double along(QPointF p) const { return axis_ == Qt::Horizontal ? p.x() : p.y(); }
    double now() const;
    void apply(const StripScroll::Move& move);
    void frame();
    void place();
    void publishRange(double offset);
    void press(QPointF scenePos);
    // True when the move scrolled or lifted a card out (and the event is the strip's).
    bool move(QPointF scenePos);
    // Hands the grabbed card to the drag-out; the strip stops where it is.
    bool lift(QPointF translation);
    bool release(QPointF scenePos);

    ViewContext context_;
    Qt::Orientation axis_;
    QGraphicsObject* content_;
    QGraphicsOpacityEffect* fade_;
    QSizeF size_;
    double contentLength_ = 0;
    StripScroll scroll_;
    // The shown offset outside a settle.
    Motion::Animated shown_;
    bool settling_ = false;
    Range range_;
    std::optional<QUuid> wheelToken_;
    MainClock::Handle tick_;

    // The press in progress, in scene coordinates, and the last moves for the release velocity.
    std::optional<QPointF> pressAt_;
    std::optional<DragStart> dragStart_;
    bool scrolling_ = false;
    QPointF lastAt_;
    double lastTime_ = 0;
    double velocity_ = 0;
};

} // namespace ostrel
