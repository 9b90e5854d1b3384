#pragma once

#include "OstrelCore/Records/ShelfItem.h"
#include "OstrelCore/Records/Snapshot.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>
#include <variant>

namespace ostrel {

// A hide, delete or delete-all that the user asked for and may still undo.
struct PendingUndo {
    struct Hide {
        ShelfItem item;
        friend bool operator==(const Hide&, const Hide&) = default;
    };
    struct Delete {
        QSet<QString> ids;
        friend bool operator==(const Delete&, const Delete&) = default;
    };
    // The ids of every item and hidden item the shelf showed when the user chose to delete all.
    struct DeleteAll {
        QSet<QString> ids;
        friend bool operator==(const DeleteAll&, const DeleteAll&) = default;
    };

    std::variant<Hide, Delete, DeleteAll> command;

    static PendingUndo hide(ShelfItem item) { return {Hide{std::move(item)}}; }
    static PendingUndo deleteItems(QSet<QString> ids) { return {Delete{std::move(ids)}}; }
    static PendingUndo deleteAll(QSet<QString> ids) { return {DeleteAll{std::move(ids)}}; }

    // The ids the shelf leaves out while the command is held.
    QSet<QString> excluded() const;
    // The undo toast's text.
    QString message() const;

    friend bool operator==(const PendingUndo&, const PendingUndo&) = default;
};

// What a held command becomes once its undo window is over; sent to the engine at once.
struct EngineCommand {
    // For the engine's hide: always one id.
    struct Hide {
        QStringList ids;
        friend bool operator==(const Hide&, const Hide&) = default;
    };
    // For the engine's delete.
    struct Delete {
        QStringList ids;
        friend bool operator==(const Delete&, const Delete&) = default;
    };
    // For the engine's delete-all. `covered` is exactly what the user deleted: the ids of the items
    // and hidden items the shelf showed when the user chose it. The engine deletes these ids (as a
    // delete does, whether they are items or hidden items) and nothing else. Everything it holds
    // beyond them survives: items that arrived during the undo window, items stored after the
    // snapshot the shelf last received was built, items beyond the snapshot's size limit. A set of
    // ids to spare could not express this: it can only name what the shelf has heard of, so an item
    // the engine stored later would be deleted without ever having been shown.
    struct DeleteAll {
        QSet<QString> covered;
        friend bool operator==(const DeleteAll&, const DeleteAll&) = default;
    };

    std::variant<Hide, Delete, DeleteAll> command;

    friend bool operator==(const EngineCommand&, const EngineCommand&) = default;
};

// The last snapshot the engine published with the user's held command laid on top, and the
// arrivals of each new snapshot.
class ShelfState {
public:
    // Stores the snapshot and returns its arrivals, in announcement order: unread items that no
    // snapshot applied before listed among its items. None for the first snapshot after creation
    // or a restart.
    QList<ShelfItem> apply(const Snapshot& snapshot);
    // A new engine's first snapshot will announce nothing.
    void restart() { hasSnapshot_ = false; }

    // What the shelf shows: the stored snapshot without the held command's items and without items
    // of committed commands that the engine's snapshots have not caught up with yet.
    Snapshot visible() const;

    // Commits the command held so far (returned, to be sent at once) and holds the new one.
    std::optional<EngineCommand> hold(PendingUndo undo);
    // Ends the undo window: the held command, to be sent at once; none when nothing is held.
    std::optional<EngineCommand> commit();
    // Drops the held command; nothing goes to the engine.
    void undo() { pending_.reset(); }
    // Hidden items the user brings back leave the committed ids.
    void unhide(const QStringList& ids);

    const Snapshot& snapshot() const { return snapshot_; }
    const std::optional<PendingUndo>& pending() const { return pending_; }
    // Every id ever listed among the items of an applied snapshot.
    const QSet<QString>& known() const { return known_; }
    bool hasSnapshot() const { return hasSnapshot_; }
    // Ids of committed commands that the stored snapshot still lists.
    const QSet<QString>& committed() const { return committed_; }

private:
    Snapshot snapshot_;
    std::optional<PendingUndo> pending_;
    QSet<QString> known_;
    bool hasSnapshot_ = false;
    QSet<QString> committed_;
};

} // namespace ostrel
