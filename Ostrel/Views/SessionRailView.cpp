#include "Ostrel/Views/SessionRailView.h"

#include "Ostrel/Shell/ShelfModel.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/TurnGrid.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace ostrel {

SessionRailView::SessionRailView(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), sidebar_(new SessionSidebar(context, this)) {
    if (context_.model) {
        connect(context_.model, &ShelfModel::selectedSessionIDChanged, this,
                &SessionRailView::selectionChanged);
        connect(context_.model, &ShelfModel::groupsChanged, this,
                &SessionRailView::selectionChanged);
    }
    selectionChanged();
}

void SessionRailView::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    layout_ = RailLayout::make(QRectF(QPointF(0, 0), size));
    sidebar_->setPos(layout_.sidebar.topLeft());
    sidebar_->setSize(layout_.sidebar.size());
    for (TurnGrid* grid : {grid_.data(), leaving_.data()}) {
        if (grid) {
            grid->setPos(layout_.content.topLeft());
            grid->setSize(layout_.content.size());
        }
    }
}

void SessionRailView::selectionChanged() {
    const SessionGroup* group = context_.model ? context_.model->selectedGroup() : nullptr;
    const QString id = group ? group->id() : QString();
    if (grid_ && grid_->sessionID() == id) {
        return;
    }
    const Motion::Curve curve = context_.isOpenHere() ? Motion::quickEase() : Motion::Curve::none();
    if (leaving_) {
        delete leaving_.data();
    }
    if (grid_) {
        leaving_ = grid_;
        auto* fade = OpacityFade::of(leaving_, context_.clock);
        QPointer<TurnGrid> old = leaving_;
        fade->to(0, curve, [old] {
            if (old) {
                old->deleteLater();
            }
        });
    }
    grid_.clear();
    if (!group) {
        return;
    }
    grid_ = new TurnGrid(context_, id, thumb, columns, this);
    grid_->setPos(layout_.content.topLeft());
    grid_->setOpacity(curve.kind() == Motion::Curve::Kind::none ? 1 : 0);
    grid_->setSize(layout_.content.size());
    OpacityFade::of(grid_, context_.clock)->to(1, curve);
}

void SessionRailView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->fillRect(layout_.divider, ShelfStyle::hairline());
}

void SessionRailView::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton && layout_.content.contains(event->pos()));
}

void SessionRailView::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (layout_.content.contains(event->pos()) && context_.model) {
        context_.model->clearSelection();
    }
}

} // namespace ostrel
