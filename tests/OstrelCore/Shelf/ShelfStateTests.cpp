#include "OstrelCore/Shelf/ShelfState.h"

#include "ShelfFixtures.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::fixtures;

namespace {

ShelfItem unread(const QString& id, double at) {
    return item(id, QStringLiteral("s"), std::nullopt, at);
}
ShelfItem read(const QString& id, double at) {
    return item(id, QStringLiteral("s"), std::nullopt, at, false);
}

Snapshot snapshotOf(QList<ShelfItem> items, QList<ShelfItem> hidden = {}) {
    Snapshot snap;
    snap.items = std::move(items);
    snap.hidden = std::move(hidden);
    return snap;
}

QStringList ids(const QList<ShelfItem>& items) {
    QStringList out;
    for (const ShelfItem& i : items) {
        out.append(i.id);
    }
    return out;
}

QSet<QString> idSet(std::initializer_list<const char*> list) {
    QSet<QString> out;
    for (const char* id : list) {
        out.insert(QString::fromUtf8(id));
    }
    return out;
}

} // namespace

TEST(ShelfStateArrivals, FirstSnapshotAndFirstAfterRestartAnnounceNothing) {
    ShelfState state;
    EXPECT_TRUE(state.apply(snapshotOf({unread("a", 1), unread("b", 2)})).isEmpty());
    EXPECT_TRUE(state.hasSnapshot());
    // Known from the first snapshot: never announced later.
    EXPECT_TRUE(state.apply(snapshotOf({unread("a", 1), unread("b", 2)})).isEmpty());

    state.restart();
    EXPECT_TRUE(state.apply(snapshotOf({unread("a", 1), unread("c", 3)})).isEmpty());
    EXPECT_TRUE(state.known().contains(QStringLiteral("c")));
    EXPECT_TRUE(state.apply(snapshotOf({unread("a", 1), unread("c", 3)})).isEmpty());
}

TEST(ShelfStateArrivals, NewUnreadItemsInArrivalOrder) {
    ShelfState state;
    state.apply(snapshotOf({read("a", 1)}));
    // An item merely becoming read is no arrival; a new read item neither.
    EXPECT_TRUE(state.apply(snapshotOf({read("a", 1), read("r", 9)})).isEmpty());
    const auto arrivals = state.apply(snapshotOf({unread("late", 5), unread("early", 3)}));
    EXPECT_EQ(ids(arrivals), (QStringList{"early", "late"}));
}

TEST(ShelfStateArrivals, ItemKnownOnlyAsHiddenArrivesWhenUnhidden) {
    ShelfState state;
    state.apply(snapshotOf({}, {unread("h", 1)}));
    const auto arrivals = state.apply(snapshotOf({unread("h", 1)}));
    EXPECT_EQ(ids(arrivals), QStringList{"h"});
}

TEST(ShelfStateCommands, HoldCommitsTheEarlierCommandAndShowsNeither) {
    ShelfState state;
    state.apply(snapshotOf({unread("a", 1), unread("b", 2), unread("c", 3)}));
    EXPECT_FALSE(state.commit().has_value());
    state.undo();
    EXPECT_FALSE(state.pending().has_value());

    EXPECT_FALSE(state.hold(PendingUndo::hide(unread("a", 1))).has_value());
    const auto earlier = state.hold(PendingUndo::deleteItems(idSet({"c", "b"})));
    EXPECT_EQ(earlier, (EngineCommand{EngineCommand::Hide{{QStringLiteral("a")}}}));
    EXPECT_TRUE(state.visible().items.isEmpty());

    EXPECT_EQ(state.commit(), (EngineCommand{EngineCommand::Delete{{"b", "c"}}}));
    EXPECT_FALSE(state.pending().has_value());
    EXPECT_TRUE(state.visible().items.isEmpty());
}

TEST(ShelfStateCommands, UndoBringsItemsBackAndSendsNothing) {
    ShelfState state;
    const Snapshot snap = snapshotOf({unread("a", 1)}, {unread("h", 0)});
    state.apply(snap);
    state.hold(PendingUndo::deleteAll(idSet({"a", "h"})));
    EXPECT_TRUE(state.visible().items.isEmpty());
    EXPECT_TRUE(state.visible().hidden.isEmpty());
    state.undo();
    EXPECT_EQ(state.visible(), snap);
    EXPECT_FALSE(state.commit().has_value());
}

TEST(ShelfStateCommands, CommittedHideStaysHiddenUntilUnhidden) {
    ShelfState state;
    state.apply(snapshotOf({unread("a", 1), unread("b", 2)}));
    state.hold(PendingUndo::hide(unread("a", 1)));
    state.commit();
    // A stale snapshot still lists it among the items.
    state.apply(snapshotOf({unread("a", 1), unread("b", 2)}));
    EXPECT_EQ(ids(state.visible().items), QStringList{"b"});
    // The engine caught up: it is listed among the hidden items, and stays there in view.
    state.apply(snapshotOf({unread("b", 2)}, {unread("a", 1)}));
    EXPECT_EQ(ids(state.visible().items), QStringList{"b"});
    EXPECT_EQ(ids(state.visible().hidden), QStringList{"a"});

    state.unhide({QStringLiteral("a")});
    state.apply(snapshotOf({unread("a", 1), unread("b", 2)}));
    EXPECT_EQ(ids(state.visible().items), (QStringList{"a", "b"}));
}

TEST(ShelfStateCommands, CommittedDeleteLeavesOnceNoSnapshotListsIt) {
    ShelfState state;
    state.apply(snapshotOf({unread("a", 1), unread("b", 2)}));
    state.hold(PendingUndo::deleteItems(idSet({"a"})));
    state.commit();
    state.apply(snapshotOf({unread("a", 1), unread("b", 2)}));
    EXPECT_EQ(ids(state.visible().items), QStringList{"b"});
    EXPECT_EQ(state.committed(), idSet({"a"}));
    state.apply(snapshotOf({unread("b", 2)}));
    EXPECT_TRUE(state.committed().isEmpty());
}

// A delete-all goes to the engine as the ids it covers, so nothing the user never saw is deleted.
TEST(ShelfStateDeleteAll, CoversExactlyWhatWasShown) {
    ShelfState state;
    state.apply(snapshotOf({unread("a", 2), read("b", 1)}, {unread("h", 0)}));
    state.hold(PendingUndo::deleteAll(idSet({"a", "b", "h"})));

    // Stored by the engine while the command was held: shown at once, and not covered.
    state.apply(snapshotOf({unread("new", 3), unread("a", 2), read("b", 1)}, {unread("h", 0)}));
    EXPECT_EQ(ids(state.visible().items), QStringList{"new"});

    const auto command = state.commit();
    EXPECT_EQ(command, (EngineCommand{EngineCommand::DeleteAll{idSet({"a", "b", "h"})}}));
    EXPECT_EQ(ids(state.visible().items), QStringList{"new"});
}

TEST(ShelfStateDeleteAll, ShownItemThatLeftTheLatestSnapshotIsStillCovered) {
    // "old" dropped out of the latest snapshot (its size limit); sparing by the latest snapshot
    // would have let it come back once the newer items go.
    ShelfState state;
    state.apply(snapshotOf({unread("old", 1)}));
    state.hold(PendingUndo::deleteAll(idSet({"old"})));
    state.apply(snapshotOf({unread("newer", 2)}));
    EXPECT_EQ(state.commit(), (EngineCommand{EngineCommand::DeleteAll{idSet({"old"})}}));
}

TEST(ShelfStateMessages, ToastTexts) {
    ShelfItem untitled = unread("x", 1);
    untitled.title.clear();
    EXPECT_EQ(PendingUndo::hide(untitled).message(), QStringLiteral("Hidden \u201C\u201D"));
    ShelfItem titled = unread("x", 1);
    titled.title = QStringLiteral("chart.png");
    EXPECT_EQ(PendingUndo::hide(titled).message(), QStringLiteral("Hidden \u201Cchart.png\u201D"));
    EXPECT_EQ(PendingUndo::deleteAll(idSet({"a"})).message(), QStringLiteral("Deleted 1 item"));
    EXPECT_EQ(PendingUndo::deleteItems(idSet({"a", "b", "c"})).message(),
              QStringLiteral("Deleted 3 items"));
    EXPECT_EQ(PendingUndo::deleteItems({}).message(), QStringLiteral("Deleted 0 items"));
}
