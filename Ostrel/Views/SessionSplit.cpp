#include "Ostrel/Views/SessionSplit.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/TurnGrid.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace ostrel {

SessionSplit::SessionSplit(const ViewContext& context, const Arrangement& arrangement,
                           QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), arrangement_(arrangement),
      sidebar_(new SessionSidebar(context, this)) {
    if (context_.model) {
        connect(context_.model, &ShelfModel::selectedSessionIDChanged, this,
                &SessionSplit::selectionChanged);
        connect(context_.model, &ShelfModel::groupsChanged, this, &SessionSplit::selectionChanged);
    }
    selectionChanged();
}

void SessionSplit::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    layout_ = RailLayout::make(QRectF(QPointF(0, 0), size), arrangement_.sidebarWidth,
                               arrangement_.padding);
    sidebar_->setPos(layout_.sidebar.topLeft());
    sidebar_->setSize(layout_.sidebar.size());
    for (TurnGrid* grid : {grid_.data(), leaving_.data()}) {
        if (grid) {
            grid->setPos(layout_.content.topLeft());
            grid->setSize(layout_.content.size());
        }
    }
}

void SessionSplit::selectionChanged() {
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
    grid_ = new TurnGrid(context_, id, arrangement_.thumb, arrangement_.columns, this);
    grid_->setPos(layout_.content.topLeft());
    grid_->setOpacity(curve.kind() == Motion::Curve::Kind::none ? 1 : 0);
    grid_->setSize(layout_.content.size());
    OpacityFade::of(grid_, context_.clock)->to(1, curve);
}

void SessionSplit::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    RasterBands::fillRect(*painter, layout_.divider, ShelfStyle::hairline());
}

void SessionSplit::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton && layout_.content.contains(event->pos()));
}

void SessionSplit::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (layout_.content.contains(event->pos()) && context_.model) {
        context_.model->clearSelection();
    }
}

} // namespace ostrel
