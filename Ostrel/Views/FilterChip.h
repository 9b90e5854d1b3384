#pragma once

#include "Ostrel/Views/PressableItem.h"

namespace ostrel {

// The header's chip of the active filters ("Images", "Only New", "3 filters") with a cross; a
// click clears the kind and newness filters.
class FilterChip final : public PressableItem {
    Q_OBJECT
public:
    FilterChip(QString label, std::function<void()> clear, QGraphicsItem* parent);

    void setLabel(const QString& label);
    const QString& label() const { return label_; }
    void setSize(QSizeF size);

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    // The chip's text and ", clear filters".
    QString accessibleName() const override;

private:
    QString label_;
    QSizeF size_;
};

} // namespace ostrel
