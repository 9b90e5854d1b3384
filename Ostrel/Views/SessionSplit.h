#pragma once

#include "Ostrel/Views/DrawerContentLayout.h"
#include "Ostrel/Views/TurnGrid.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>
#include <QMarginsF>
#include <QPointer>

namespace ostrel {

class SessionSidebar;

// The list of sessions at a fixed width, a hairline, and the selected session's turns as a grid of
// cards. Selecting another session cross-fades to its grid, which starts at its top; a click on
// the grid area's empty background clears the item selection. The rail and the edge column are
// this split with their own widths and card sizes.
class SessionSplit : public QGraphicsObject {
    Q_OBJECT
public:
    struct Arrangement {
        double sidebarWidth = 0;
        QSizeF thumb;
        qsizetype columns = 0;
        // Around the split, inside the size it is given.
        QMarginsF padding;
    };

    SessionSplit(const ViewContext& context, const Arrangement& arrangement,
                 QGraphicsItem* parent = nullptr);

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    const Arrangement& arrangement() const { return arrangement_; }
    const RailLayout& layout() const { return layout_; }
    SessionSidebar* sidebar() const { return sidebar_; }
    // The grid of the selected session; none without groups.
    TurnGrid* grid() const { return grid_; }
    // A grid fading out after the selection moved on.
    TurnGrid* leavingGrid() const { return leaving_; }

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    void selectionChanged();

    ViewContext context_;
    Arrangement arrangement_;
    QSizeF size_;
    RailLayout layout_;
    SessionSidebar* sidebar_;
    QPointer<TurnGrid> grid_;
    QPointer<TurnGrid> leaving_;
};

} // namespace ostrel
