#pragma once

#include "Ostrel/Views/AccessibleItem.h"

#include <QGraphicsObject>

#include <functional>

namespace ostrel {

// The header's chip of the active filters ("Images", "Only New", "3 filters") with a cross; a
// click clears the kind and newness filters.
class FilterChip final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    FilterChip(QString label, std::function<void()> clear, QGraphicsItem* parent);

    void setLabel(const QString& label);
    const QString& label() const { return label_; }
    void setSize(QSizeF size);
    bool isHovering() const { return hovering_; }

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    // The chip's text and ", clear filters".
    QString accessibleName() const override;
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
    QString label_;
    std::function<void()> clear_;
    QSizeF size_;
    bool hovering_ = false;
};

} // namespace ostrel
