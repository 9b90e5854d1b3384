#include "OstrelCore/Shelf/ShelfState.h"

#include "OstrelCore/Shelf/ShelfGroups.h"
#include "OstrelCore/Shelf/TextOrder.h"

namespace ostrel {

namespace {

template <class... Fs> struct Overloaded : Fs... { using Fs::operator()...; };
template <class... Fs> Overloaded(Fs...) -> Overloaded<Fs...>;

QString deletedMessage(qsizetype count) {
    if (count == 1) {
        return QStringLiteral("Deleted 1 item");
    }
    return QStringLiteral("Deleted %1 items").arg(count);
}

} // namespace

QSet<QString> PendingUndo::excluded() const {
    return std::visit(Overloaded{
                          [](const Hide& hide) { return QSet<QString>{hide.item.id}; },
                          [](const Delete& del) { return del.ids; },
                          [](const DeleteAll& all) { return all.ids; },
                      },
                      command);
}

QString PendingUndo::message() const {
    return std::visit(Overloaded{
                          [](const Hide& hide) {
                              return QStringLiteral("Hidden \u201C") + hide.item.title +
                                     QStringLiteral("\u201D");
                          },
                          [](const Delete& del) { return deletedMessage(del.ids.size()); },
                          [](const DeleteAll& all) { return deletedMessage(all.ids.size()); },
                      },
                      command);
}

QList<ShelfItem> ShelfState::apply(const Snapshot& snapshot) {
    snapshot_ = snapshot;

    if (!committed_.isEmpty()) {
        QSet<QString> live;
        live.reserve(snapshot.items.size() + snapshot.hidden.size());
        for (const ShelfItem& item : snapshot.items) {
            live.insert(item.id);
        }
        for (const ShelfItem& item : snapshot.hidden) {
            live.insert(item.id);
        }
        committed_.intersect(live);
    }

    QSet<QString> fresh;
    for (const ShelfItem& item : snapshot.items) {
        if (item.isUnread() && !known_.contains(item.id)) {
            fresh.insert(item.id);
        }
    }
    for (const ShelfItem& item : snapshot.items) {
        known_.insert(item.id);
    }

    QList<ShelfItem> arrivals;
    if (hasSnapshot_ && !fresh.isEmpty()) {
        QList<ShelfItem> freshItems;
        for (const ShelfItem& item : snapshot.items) {
            if (fresh.contains(item.id)) {
                freshItems.append(item);
            }
        }
        arrivals = ShelfGroups::arrivalOrder(freshItems);
    }
    hasSnapshot_ = true;
    return arrivals;
}

Snapshot ShelfState::visible() const {
    const QSet<QString> held = pending_ ? pending_->excluded() : QSet<QString>();
    if (held.isEmpty() && committed_.isEmpty()) {
        return snapshot_;
    }
    Snapshot shown;
    shown.sessions = snapshot_.sessions;
    shown.prompts = snapshot_.prompts;
    shown.items.reserve(snapshot_.items.size());
    for (const ShelfItem& item : snapshot_.items) {
        if (!held.contains(item.id) && !committed_.contains(item.id)) {
            shown.items.append(item);
        }
    }
    // A committed hide stays listed among the hidden items, where the user can undo it.
    if (held.isEmpty()) {
        shown.hidden = snapshot_.hidden;
    } else {
        for (const ShelfItem& item : snapshot_.hidden) {
            if (!held.contains(item.id)) {
                shown.hidden.append(item);
            }
        }
    }
    return shown;
}

std::optional<EngineCommand> ShelfState::hold(PendingUndo undo) {
    std::optional<EngineCommand> earlier = commit();
    pending_ = std::move(undo);
    return earlier;
}

std::optional<EngineCommand> ShelfState::commit() {
    if (!pending_) {
        return std::nullopt;
    }
    const PendingUndo held = std::move(*pending_);
    pending_.reset();
    committed_.unite(held.excluded());

    return std::visit(Overloaded{
                          [](const PendingUndo::Hide& hide) {
                              return EngineCommand{EngineCommand::Hide{{hide.item.id}}};
                          },
                          [](const PendingUndo::Delete& del) {
                              QStringList ids(del.ids.cbegin(), del.ids.cend());
                              // Any order would do; a fixed one keeps commands comparable.
                              TextOrder::sort(ids);
                              return EngineCommand{EngineCommand::Delete{std::move(ids)}};
                          },
                          [](const PendingUndo::DeleteAll& all) {
                              return EngineCommand{EngineCommand::DeleteAll{all.ids}};
                          },
                      },
                      held.command);
}

void ShelfState::unhide(const QStringList& ids) {
    for (const QString& id : ids) {
        committed_.remove(id);
    }
}

} // namespace ostrel
