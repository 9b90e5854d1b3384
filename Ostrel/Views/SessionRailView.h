#pragma once

#include "Ostrel/Surface/DrawerContentLayout.h"
#include "Ostrel/Views/TurnGrid.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>
#include <QPointer>

namespace ostrel {

class SessionSidebar;

// The rail layout: the list of sessions on the left, a hairline, and the selected session's turns
// as captioned grids of 160 x 120 cards in three columns. Selecting another session cross-fades
// to its grid, which starts at its top.
class SessionRailView final : public QGraphicsObject {
    Q_OBJECT
public:
    static inline const QSizeF thumb{160, 120};
    static constexpr qsizetype columns = 3;

    explicit SessionRailView(const ViewContext& context, QGraphicsItem* parent = nullptr);

    // The drawer's content area the rail fills (its own padding inside).
    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

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
    QSizeF size_;
    RailLayout layout_;
    SessionSidebar* sidebar_;
    QPointer<TurnGrid> grid_;
    QPointer<TurnGrid> leaving_;
};

} // namespace ostrel
