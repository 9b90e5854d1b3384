#pragma once

#include "Ostrel/Views/SessionSplit.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>

namespace ostrel {

class ShelfHeader;

// The session split narrowed to a left or right pill's drawer: the full shelf header across the
// top (the side drawers have no header band of their own), and below it a 148-point session
// sidebar beside the selected session's turns in two columns of 141 x 106 cards.
class EdgeColumnView final : public QGraphicsObject {
    Q_OBJECT
public:
    static inline const QSizeF thumb{141, 106};
    static constexpr double sidebarWidth = 148;
    static constexpr double headerLeading = 22;
    static constexpr double spacing = 6;

    // Where the header and the split lie in a column of `size`.
    struct Layout {
        QRectF header;
        QRectF split;
        static Layout make(QSizeF size);
    };

    explicit EdgeColumnView(const ViewContext& context, QGraphicsItem* parent = nullptr);

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    static SessionSplit::Arrangement splitArrangement();

    ShelfHeader* header() const { return header_; }
    SessionSplit* split() const { return split_; }

private:
    QSizeF size_;
    ShelfHeader* header_;
    SessionSplit* split_;
};

} // namespace ostrel
