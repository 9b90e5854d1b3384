#pragma once

#include "Ostrel/Views/AccessibleItem.h"

#include <QGraphicsObject>

#include <functional>

namespace ostrel {

// The undo toast's "Undo": semibold white on a capsule that lights while hovered.
class UndoButton final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    UndoButton(std::function<void()> action, QGraphicsItem* parent);

    // The button's size for its label.
    static QSizeF size();
    bool isHovering() const { return hovering_; }

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size()); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleName() const override { return QStringLiteral("Undo"); }
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
