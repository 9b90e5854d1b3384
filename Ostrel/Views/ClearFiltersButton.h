#pragma once

#include "Ostrel/Views/AccessibleItem.h"

#include <QGraphicsObject>

#include <functional>

namespace ostrel {

// "Clear Filters" under the empty state's text while the filters hide everything: chip text on a
// chip's rounded rectangle that brightens while hovered.
class ClearFiltersButton final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    ClearFiltersButton(std::function<void()> action, QGraphicsItem* parent);

    // The button's size for its label.
    static QSizeF size();
    bool isHovering() const { return hovering_; }

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size()); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleName() const override { return QStringLiteral("Clear Filters"); }
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
