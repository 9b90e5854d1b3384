#include "Ostrel/Model/ShelfModel.h"

#include "Ostrel/Model/ShelfModelParts.h"

// Hide, delete and delete-all: each is held for undo, shown by the toast, and sent to the engine
// when the undo time runs out or another command replaces it.

namespace ostrel {

using namespace shelfModelParts;

void ShelfModel::hide(const ShelfItem& item) {
    perform(PendingUndo::hide(item));
}

void ShelfModel::deleteItems(const QList<ShelfItem>& items) {
    if (items.isEmpty()) {
        return;
    }
    QSet<QString> ids;
    for (const ShelfItem& item : items) {
        ids.insert(item.id);
    }
    perform(PendingUndo::deleteItems(ids));
}

void ShelfModel::deleteAll() {
    QSet<QString> ids;
    for (const ShelfItem& item : visibleSnapshot_.items) {
        ids.insert(item.id);
    }
    for (const ShelfItem& item : visibleSnapshot_.hidden) {
        ids.insert(item.id);
    }
    if (ids.isEmpty()) {
        return;
    }
    perform(PendingUndo::deleteAll(ids));
}

void ShelfModel::perform(const PendingUndo& command) {
    undoTask_.cancel();
    std::optional<EngineCommand> earlier;
    {
        Animating scope(*this, Motion::standard(motionContext(scale_)));
        earlier = state_.hold(command);
        publishVisible();
        setPendingUndoValue(state_.pending());
        rebuild();
    }
    if (earlier) {
        send(*earlier);
    }
    undoClock_.emplace(Motion::undoWindow * scale_, clock_->now(), true);
    updateUndoClock();
}

void ShelfModel::send(const EngineCommand& command) {
    if (const auto* hide = std::get_if<EngineCommand::Hide>(&command.command)) {
        engine_->hide(hide->ids);
    } else if (const auto* del = std::get_if<EngineCommand::Delete>(&command.command)) {
        engine_->deleteItems(del->ids);
    } else if (const auto* all = std::get_if<EngineCommand::DeleteAll>(&command.command)) {
        // What the last snapshot lists beyond what the user deleted survives; so does anything
        // the engine stored since, which the covering set leaves out.
        QSet<QString> sparing;
        for (const ShelfItem& item : state_.snapshot().items) {
            if (!all->covered.contains(item.id)) {
                sparing.insert(item.id);
            }
        }
        for (const ShelfItem& item : state_.snapshot().hidden) {
            if (!all->covered.contains(item.id)) {
                sparing.insert(item.id);
            }
        }
        engine_->deleteAll(sparing, all->covered);
    }
}

void ShelfModel::undo() {
    undoTask_.cancel();
    undoClock_.reset();
    Animating scope(*this, Motion::standard(motionContext(scale_)));
    state_.undo();
    publishVisible();
    setPendingUndoValue(std::nullopt);
    rebuild();
}

void ShelfModel::commit() {
    undoTask_.cancel();
    undoClock_.reset();
    const std::optional<EngineCommand> command = state_.commit();
    publishVisible();
    if (command) {
        setPendingUndoValue(std::nullopt);
        send(*command);
        rebuild();
    }
}

void ShelfModel::unhide(const QList<ShelfItem>& items) {
    QStringList ids;
    for (const ShelfItem& item : items) {
        ids.append(item.id);
    }
    if (ids.isEmpty()) {
        return;
    }
    state_.unhide(ids);
    publishVisible();
    engine_->unhide(ids);
}

void ShelfModel::updateUndoClock() {
    if (!undoClock_) {
        return;
    }
    const double now = clock_->now();
    undoClock_->setPaused(toastHovered_ || !openScreen_, now);
    undoTask_.cancel();
    if (undoClock_->isPaused()) {
        return;
    }
    undoTask_.after(undoClock_->remaining(now), this, [this] {
        Animating scope(*this, Motion::standard(motionContext(scale_)));
        commit();
    });
}

void ShelfModel::setToastHovered(bool hovered) {
    if (hovered == toastHovered_) {
        return;
    }
    toastHovered_ = hovered;
    updateUndoClock();
}

} // namespace ostrel
