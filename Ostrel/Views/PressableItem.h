#pragma once

#include "Ostrel/Views/AccessibleItem.h"

#include <QGraphicsObject>

#include <functional>

namespace ostrel {

// A button drawn in the drawer's scene: runs its action on a left click released over it or on
// assistive technology's press, and lights while the pointer is over it. Subclasses draw it.
class PressableItem : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    PressableItem(std::function<void()> action, QGraphicsItem* parent);

    bool isHovering() const { return hovering_; }

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    std::function<void()> action_;
    bool hovering_ = false;
};

} // namespace ostrel
