#include "Ostrel/Views/PressableItem.h"

#include <QAccessibleActionInterface>
#include <QGraphicsSceneMouseEvent>

namespace ostrel {

PressableItem::PressableItem(std::function<void()> action, QGraphicsItem* parent)
    : QGraphicsObject(parent), action_(std::move(action)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
}

QVariant PressableItem::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemVisibleHasChanged && !value.toBool()) {
        hovering_ = false;
    }
    return QGraphicsObject::itemChange(change, value);
}

void PressableItem::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void PressableItem::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void PressableItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void PressableItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (boundingRect().contains(event->pos()) && action_) {
        action_();
    }
}

QAccessible::State PressableItem::accessibleState() const {
    QAccessible::State state;
    state.hotTracked = hovering_;
    return state;
}

QStringList PressableItem::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void PressableItem::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction() && action_) {
        action_();
    }
}

} // namespace ostrel
