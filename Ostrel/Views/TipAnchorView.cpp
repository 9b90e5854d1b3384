#include "Ostrel/Views/TipAnchorView.h"

#include "Ostrel/Model/ShelfModel.h"

#include <QGraphicsScene>
#include <QGraphicsView>

namespace ostrel {

TipAnchorView::TipAnchorView(QGraphicsItem* parent) : QGraphicsObject(parent) {
    setFlag(ItemHasNoContents);
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
}

void TipAnchorView::setTip(Tip tip) {
    tip_ = std::move(tip);
    emit tipChanged();
}

bool TipAnchorView::wantsTip() const {
    return tip_.enabled && (!tip_.cut || *tip_.cut);
}

void TipAnchorView::setSize(QSizeF size) {
    if (size == size_) {
        return;
    }
    prepareGeometryChange();
    size_ = size;
}

std::optional<QRectF> TipAnchorView::globalFrame() const {
    if (scene() == nullptr || !isVisible()) {
        return std::nullopt;
    }
    const QRectF inScene = mapRectToScene(boundingRect());
    for (QGraphicsView* view : scene()->views()) {
        if (!view->isVisible()) {
            continue;
        }
        const QRect inView = view->mapFromScene(inScene).boundingRect();
        const QPoint topLeft = view->viewport()->mapToGlobal(inView.topLeft());
        return QRectF(topLeft, QSizeF(inScene.size()) * view->transform().m11());
    }
    return std::nullopt;
}

AnchorView::AnchorView(ShelfModel* model, const QString& itemID, QGraphicsItem* card)
    : TipAnchorView(card), model_(model), itemID_(itemID) {
    setZValue(-1);
    if (model_) {
        model_->setAnchor(this, itemID_);
    }
}

ShelfModel* AnchorView::model() const {
    return model_;
}

AnchorView::~AnchorView() {
    if (model_) {
        model_->removeAnchor(this, itemID_);
    }
}

void AnchorView::setItemID(const QString& itemID) {
    if (itemID == itemID_) {
        return;
    }
    if (model_) {
        model_->removeAnchor(this, itemID_);
    }
    itemID_ = itemID;
    if (model_) {
        model_->setAnchor(this, itemID_);
    }
}

} // namespace ostrel
