#pragma once

#include "Ostrel/Views/ScrollExtent.h"
#include "Ostrel/Views/ScrollTopPin.h"

#include <QGraphicsObject>

namespace ostrel {

// A vertical scroll view in the shelf's scene: a clip of the viewport's size and a content item
// moved up by the offset. The owner sizes the content and places (or builds) what the viewport
// shows whenever `scrolled` fires. Wheel notches arrive as line scrolls, as X11 sends them.
class ScrollArea : public QGraphicsObject {
    Q_OBJECT
public:
    explicit ScrollArea(QGraphicsItem* parent = nullptr);

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    // Where the owner puts its rows or cards, in content coordinates.
    QGraphicsObject* content() const { return content_; }

    void setSize(QSizeF size);
    QSizeF size() const { return size_; }
    // Keeps the offset inside the new range, and at the top while pinned.
    void setContentHeight(double height);
    double contentHeight() const { return contentHeight_; }
    double offset() const { return offset_; }
    ScrollExtent extent() const { return {contentHeight_, size_.height()}; }
    // Moves to the offset (clamped) at once.
    void setOffset(double offset);

    // The top pin: while on, the view stays at its top as the content changes, until a wheel
    // scroll releases it (`userScrolled`).
    bool isPinned() const { return pin_.pinned; }
    void setPinned(bool pinned);
    void setPinEnabled(bool enabled) { pinEnabled_ = enabled; }

    // A wheel step as the scene delivers it: `angleDelta` of 120 per notch, positive away from
    // the user (toward the top).
    void wheel(int angleDeltaY);

signals:
    void scrolled(double offset);
    void userScrolled();

protected:
    void wheelEvent(QGraphicsSceneWheelEvent* event) override;

private:
    void repin();
    void place();

    QGraphicsObject* content_;
    QSizeF size_;
    double contentHeight_ = 0;
    double offset_ = 0;
    ScrollTopPin pin_;
    bool pinEnabled_ = false;
};

} // namespace ostrel
