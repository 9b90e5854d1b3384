// The retention purge and snapshots.
#include "OstrelCore/Records/Store.h"
#include "Platform/ManualSerialQueue.h"
#include "RecordsTestSupport.h"
#include "support/ItemIds.h"
#include "support/TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace ostrel;
using test::makeItem;
using test::makePrompt;
using test::makeSession;

namespace {

class StoreRetention : public ::testing::Test {
protected:
    test::TempDir dir;
    double clock = 0;
    std::shared_ptr<ManualSerialQueue> queue = std::make_shared<ManualSerialQueue>();
    std::shared_ptr<Store> store = Store::make(
        QUrl::fromLocalFile(dir.file("support")), [this] { return Date(clock); }, queue);

    void hideAt(const ShelfItem& item, double at) {
        store->upsert(item);
        clock = at;
        store->hide(item.id);
    }
    static QStringList ids(const QList<ShelfItem>& items) { return test::ids(items); }
};

} // namespace

TEST_F(StoreRetention, CutoffIsExclusiveForItemsHiddenRecordsAndStamps) {
    const double cutoff = 1000;
    ShelfItem old = makeItem("old", cutoff - 1);
    old.fileURL = std::get<QUrl>(store->copyIn("x", "old", "png"));
    dir.write("support/thumbs/old.jpg", "t");
    store->upsert(old);
    store->upsert(makeItem("edge", cutoff));
    hideAt(makeItem("hiddenLong", 1), cutoff); // item ancient, hidden at the cutoff
    hideAt(makeItem("hiddenOld", 1), cutoff - 1);
    store->upsert(makeItem("d1", 1));
    store->upsert(makeItem("d2", 1));
    clock = cutoff;
    store->deleteItems({"d1"});
    clock = cutoff - 1;
    store->deleteItems({"d2"});

    const QStringList expired = store->purge(Date(cutoff));
    EXPECT_EQ(expired, QStringList{"old"});
    EXPECT_TRUE(store->items().contains("edge"));
    store->flush(); // removed files go once an index without them is written
    EXPECT_FALSE(QFile::exists(old.fileURL->toLocalFile()));
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/old.jpg")));
    EXPECT_TRUE(store->hiddenItems().contains("hiddenLong"));
    EXPECT_FALSE(store->hiddenItems().contains("hiddenOld"));
    EXPECT_TRUE(store->isHidden("hiddenOld"));
    EXPECT_TRUE(store->deleted().contains("d1"));
    EXPECT_FALSE(store->deleted().contains("d2"));
    EXPECT_FALSE(store->isDeleted("d2", std::nullopt, Date(0)));
}

TEST_F(StoreRetention, SessionsAndPromptsStayWhileAnItemOfTheirSessionDoes) {
    const double cutoff = 1000;
    store->upsert(makeSession("kept", 1, 2));
    store->upsert(makeItem("i", 1500, "kept"));
    store->upsert(makePrompt("keptOldPrompt", "kept", 5));
    store->upsert(makeSession("idle", 1, 999));
    store->setTitleChecked("idle", Date(3));
    store->upsert(makePrompt("idleOld", "idle", 999));
    store->upsert(makePrompt("idleNew", "idle", 1000));
    store->upsert(makeSession("onlyHidden", 1, 999));
    hideAt(makeItem("h", 1500, "onlyHidden"), 1500);
    store->upsert(makeSession("recent", 1, 1000));

    store->purge(Date(cutoff));
    EXPECT_EQ(QSet<QString>(store->sessions().keyBegin(), store->sessions().keyEnd()),
              (QSet<QString>{"kept", "recent"}));
    EXPECT_TRUE(store->prompts().contains("keptOldPrompt"));
    EXPECT_FALSE(store->prompts().contains("idleOld"));
    EXPECT_TRUE(store->prompts().contains("idleNew"));
    EXPECT_FALSE(store->titleChecks().contains("idle"));
    EXPECT_EQ(store->hiddenItems().value("h").item.sessionID, "onlyHidden");
}

TEST_F(StoreRetention, SavesOnlyWhatThePurgeChanged) {
    store->upsert(makeItem("fresh", 5000));
    const QString transcript = dir.write("t.jsonl", "{}\n");
    store->setOffset(3, transcript);
    store->setOffset(9, dir.file("gone.jsonl"));
    queue->advance(10);
    const qint64 revision = store->revision();

    // Nothing to drop but a vanished transcript: offsets are saved, the index is not.
    QFile::remove(dir.file("support/index.json"));
    store->purge(Date(1000));
    EXPECT_EQ(store->revision(), revision);
    EXPECT_EQ(store->offsets().keys(), QStringList{transcript});
    queue->advance(10);
    EXPECT_FALSE(QFile::exists(dir.file("support/index.json")));
    EXPECT_EQ(test::parseObject(dir.read("support/offsets.json")).keys(), QStringList{transcript});

    // A second run with the same cutoff drops nothing and schedules nothing.
    QFile::remove(dir.file("support/offsets.json"));
    store->purge(Date(1000));
    EXPECT_FALSE(queue->nextDeadline());
    EXPECT_EQ(store->revision(), revision);
}

TEST_F(StoreRetention, SnapshotIsCachedPerRevisionAndLimit) {
    store->upsert(makeItem("a", 1));
    const Snapshot first = store->snapshot(10);
    const Snapshot same = store->snapshot(10);
    EXPECT_EQ(first, same);
    EXPECT_EQ(store->snapshotBuilds(), 1);
    store->snapshot(5);
    EXPECT_EQ(store->snapshotBuilds(), 2);
    store->setOffset(4, "/x");
    store->setTitleChecked("s", Date(1));
    store->snapshot(5);
    EXPECT_EQ(store->snapshotBuilds(), 2);
    store->upsert(makeItem("b", 2));
    EXPECT_EQ(ids(store->snapshot(5).items), (QStringList{"b", "a"}));
    EXPECT_EQ(store->snapshotBuilds(), 3);
}

TEST_F(StoreRetention, SnapshotOrdersLimitsAndKeepsHiddenWhole) {
    for (int i = 0; i < 5; ++i) {
        store->upsert(makeItem(QString("i%1").arg(i), i));
    }
    store->upsert(makeItem("tieB", 10));
    store->upsert(makeItem("tieA", 10));
    hideAt(makeItem("h1", 0), 1);
    hideAt(makeItem("h2", 0), 2);
    store->upsert(makeSession("s1", 0, 1));
    store->upsert(makeSession("s2", 0, 5));

    const Snapshot snap = store->snapshot(3);
    EXPECT_EQ(ids(snap.items), (QStringList{"tieA", "tieB", "i4"}));
    EXPECT_EQ(ids(snap.hidden), (QStringList{"h2", "h1"}));
    ASSERT_EQ(snap.sessions.size(), 2);
    EXPECT_EQ(snap.sessions[0].id, "s2");

    const Snapshot none = store->snapshot(0);
    EXPECT_TRUE(none.items.isEmpty());
    EXPECT_TRUE(none.prompts.isEmpty());
    EXPECT_EQ(none.sessions.size(), 2);
    EXPECT_EQ(none.hidden.size(), 2);
    EXPECT_EQ(store->snapshot(100).items.size(), 7);
    EXPECT_EQ(store->snapshot().items.size(), 7);
}

TEST_F(StoreRetention, ItemsWithoutAPromptBelongToTheLastEarlierPrompt) {
    store->upsert(makePrompt("p1", "s1", 100));
    store->upsert(makePrompt("p2", "s1", 200));
    store->upsert(makePrompt("later", "s1", 301));
    store->upsert(makePrompt("other", "s2", 150));
    store->upsert(makeItem("atPrompt", 200, "s1"));
    store->upsert(makeItem("between", 300, "s1"));
    store->upsert(makeItem("beforeAll", 50, "s1"));
    ShelfItem given = makeItem("given", 400, "s1");
    given.promptID = "p1";
    store->upsert(given);
    store->upsert(makeItem("noPrompts", 400, "s3"));
    store->upsert(makeItem("dangling", 401, "s3"));

    const Snapshot snap = store->snapshot();
    QHash<QString, std::optional<QString>> prompt;
    for (const ShelfItem& item : snap.items) {
        prompt.insert(item.id, item.promptID);
    }
    EXPECT_EQ(prompt.value("atPrompt"), "p2");
    EXPECT_EQ(prompt.value("between"), "p2");
    EXPECT_EQ(prompt.value("beforeAll"), std::nullopt);
    EXPECT_EQ(prompt.value("given"), "p1");
    EXPECT_EQ(prompt.value("noPrompts"), std::nullopt);
    // The stored item keeps no attribution of its own.
    EXPECT_FALSE(store->items().value("between").promptID);

    QStringList promptIDs;
    for (const Prompt& p : snap.prompts) {
        promptIDs.append(p.id);
    }
    EXPECT_EQ(promptIDs, (QStringList{"p1", "p2"}));

    // Cut off by the limit: its prompt is not carried.
    const Snapshot cut = store->snapshot(1);
    EXPECT_EQ(ids(cut.items), QStringList{"dangling"});
    EXPECT_TRUE(cut.prompts.isEmpty());
}
