#include "Ostrel/Views/DragLift.h"

namespace ostrel {

DragLift& DragLift::shared() {
    static DragLift* instance = new DragLift; // never released: cards may ask while quitting
    return *instance;
}

void DragLift::setLiftedID(const std::optional<QString>& id) {
    if (liftedID_ == id) {
        return;
    }
    liftedID_ = id;
    emit liftedIDChanged();
}

void DragLift::setHover(const QString& itemID, QPointF grab, Render render) {
    hover_ = Hover{itemID, grab, std::move(render)};
}

void DragLift::setPending(const QString& itemID, QPointF grab, QPointF relative, Render render) {
    pending_ = Pending{itemID, grab, relative, std::move(render)};
}

void DragLift::lift(const QString& itemID, QPointF relative) {
    if (hover_ && hover_->itemID == itemID) {
        pending_ = Pending{itemID, hover_->grab, relative, hover_->render};
    } else {
        pending_.reset();
    }
}

std::optional<DragLift::Pending> DragLift::takePending() {
    auto out = std::move(pending_);
    pending_.reset();
    return out;
}

} // namespace ostrel
