#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

class QAccessibleInterface;
class QGraphicsItem;
class QGraphicsObject;
class QGraphicsView;

namespace ostrel {

// What assistive technology sees of a graphics view: the accessible items (`AccessibleItem`) that
// are shown in it now, each under its nearest accessible ancestor that is shown too, the
// outermost ones under the view. Items out of view, hidden, fully transparent or clipped away are
// left out, so a shelf of thousands of items lists only what is on screen. The tree is gathered
// once per turn of the event loop, when first asked, from the scene's index of the view's area.
class AccessibleTree final : public QObject {
    Q_OBJECT
public:
    // The tree of `view`, made on first use and owned by it.
    static AccessibleTree* of(QGraphicsView* view);
    // The one view showing `item`'s scene, or none.
    static QGraphicsView* viewOf(const QGraphicsItem* item);
    // The interface of an accessible item, for an accessibility factory; none for other objects.
    static QAccessibleInterface* interfaceFor(QObject* object);

    // The shown accessible items directly under `container` (none: the view), in reading order.
    QList<QGraphicsObject*> children(const QGraphicsObject* container);
    // Every shown accessible item, at any depth.
    QList<QGraphicsObject*> items();
    // The shown accessible item that `item` hangs from; none when it hangs from the view.
    QGraphicsObject* parentOf(const QGraphicsObject* item);
    // Where the shown part of `item` lies on the screen; empty when none of it shows.
    QRect screenRect(const QGraphicsItem* item) const;

private:
    explicit AccessibleTree(QGraphicsView* view);
    void gather();
    bool shows(const QGraphicsItem* item, const QRectF& area) const;

    QGraphicsView* view_;
    bool fresh_ = false;
    QList<QPointer<QGraphicsObject>> roots_;
    QHash<const QGraphicsObject*, QList<QPointer<QGraphicsObject>>> children_;
    QHash<const QGraphicsObject*, QPointer<QGraphicsObject>> parents_;
};

} // namespace ostrel
