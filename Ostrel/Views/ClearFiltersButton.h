#pragma once

#include "Ostrel/Views/PressableItem.h"

namespace ostrel {

// "Clear Filters" under the empty state's text while the filters hide everything: chip text on a
// chip's rounded rectangle that brightens while hovered.
class ClearFiltersButton final : public PressableItem {
    Q_OBJECT
public:
    ClearFiltersButton(std::function<void()> action, QGraphicsItem* parent);

    // The button's size for its label.
    static QSizeF size();

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size()); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QString accessibleName() const override { return QStringLiteral("Clear Filters"); }
};

} // namespace ostrel
