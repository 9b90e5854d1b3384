#pragma once

#include "Ostrel/Views/PressableItem.h"

namespace ostrel {

// The undo toast's "Undo": semibold white on a capsule that lights while hovered.
class UndoButton final : public PressableItem {
    Q_OBJECT
public:
    UndoButton(std::function<void()> action, QGraphicsItem* parent);

    // The button's size for its label.
    static QSizeF size();

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size()); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QString accessibleName() const override { return QStringLiteral("Undo"); }
};

} // namespace ostrel
