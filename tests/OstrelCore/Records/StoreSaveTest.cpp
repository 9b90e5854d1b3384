// Delayed saving: when the index and offsets are written, by whom, and what a failed write does.
#include "StoreFilesFixture.h"
#include "support/AsUser.h"
#include "support/FileSizeLimit.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace ostrel;
using namespace ostrel::test;

TEST_F(StoreFiles, IndexWritesAreCoalescedFromTheFirstChange) {
    auto store = open();
    for (int i = 0; i < 10; ++i) {
        clock = 1000 + i * 0.1;
        store->upsert(makeItem(QString::number(i), i));
        queue->advance(0.1);
    }
    // Ten changes within one second: nothing yet, one write two seconds after the first.
    EXPECT_FALSE(writtenAt());
    queue->advance(1.0 - 1e-9);
    EXPECT_FALSE(writtenAt());
    clock = 1500;
    queue->advance(1e-6);
    EXPECT_EQ(writtenAt(), 1500);
    EXPECT_EQ(test::parseObject(read("index.json")).value("items").toArray().size(), 10);

    // A later change schedules a new write, again 2 s after it.
    clock = 1600;
    store->upsert(makeItem("late", 1));
    queue->advance(1.999);
    EXPECT_EQ(writtenAt(), 1500);
    queue->advance(0.002);
    EXPECT_EQ(writtenAt(), 1600);
}

// With a writer of its own, a delayed write takes the tables as they stood when it began, while
// the queue goes on changing them: what changed meanwhile keeps the index (and the offsets that
// lines read meanwhile reached) behind until the next write, and only the files that the written
// index no longer names, and that nothing wanted again, are removed.
TEST_F(StoreFiles, AWriterBesideTheQueueWritesTheTablesAsTheyStoodWhenItBegan) {
    auto store = open();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    const auto withCopy = [&](const QString& id) { return StoreFiles::withCopy(*store, id); };
    const auto indexIDs = [&] {
        QStringList ids;
        for (const QJsonValue& item :
             test::parseObject(read("index.json")).value("items").toArray()) {
            ids.append(item.toObject().value("id").toString());
        }
        ids.sort();
        return ids;
    };
    withCopy("kept");
    const QString spared = withCopy("spared");
    const QString later = withCopy("later");
    store->flush();
    store->remove("spared");
    queue->advance(2.1); // the first write begins: its job waits on the writer
    withCopy("spared");
    store->remove("later");
    store->upsert(makeItem("new", 1));
    store->setOffset(10, "/t.jsonl");
    queue->advance(2.1); // the change's own delayed write comes due while the first is under way
    writer->runUntilIdle();
    queue->runUntilIdle();
    EXPECT_EQ(indexIDs(), QStringList({"kept", "later"}));
    EXPECT_TRUE(QFile::exists(spared));
    EXPECT_TRUE(QFile::exists(later));

    queue->advance(2.1); // the second write begins
    store->setOffset(20, "/t.jsonl");
    store->upsert(makeItem("newer", 1));
    writer->runUntilIdle();
    queue->runUntilIdle();
    EXPECT_EQ(indexIDs(), QStringList({"kept", "new", "spared"}));
    EXPECT_TRUE(QFile::exists(spared));
    EXPECT_FALSE(QFile::exists(later));
    queue->advance(1.0); // the offsets go out while "newer" is not written yet
    EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":10})");
    store->flush();
    EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":20})");
}

// A long job (a first start) holds the queue, and with it the end of each background write: the
// next write still begins when it is due, and takes along the files written since the last one.
TEST_F(StoreFiles, AWriteThatEndedWhileTheQueueIsHeldLetsTheNextOneBegin) {
    auto store = open();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    withCopy(*store, "first");
    store->saveIfOverdue(0);
    writer->runUntilIdle(); // its end now waits for the queue
    withCopy(*store, "second");
    store->saveIfOverdue(0);
    EXPECT_EQ(store->unsyncedCount(), 0);
    writer->runUntilIdle();
    EXPECT_EQ(test::parseObject(read("index.json")).value("items").toArray().size(), 2);
}

TEST_F(StoreFiles, OffsetsHaveTheirOwnLongerDelayAndTakeADirtyIndexAlong) {
    auto store = open();
    store->setOffset(10, "/a");
    store->setOffset(10, "/a");
    EXPECT_EQ(store->revision(), 0);
    queue->advance(4.9);
    EXPECT_FALSE(QFile::exists(path("offsets.json")));
    queue->advance(0.2);
    EXPECT_EQ(read("offsets.json"), R"({"/a":10})");
    EXPECT_FALSE(QFile::exists(path("index.json")));

    // Title checks save the index without a new revision.
    store->setTitleChecked("s", Date(3));
    EXPECT_EQ(store->revision(), 0);
    store->setOffset(11, "/a");
    queue->advance(2.0 + 1e-6); // the index task
    EXPECT_TRUE(QFile::exists(path("index.json")));
}

// A write that fails after its file is in place (a close() or a sync of the folder that fails,
// as on a network file system) leaves an index that is still this run's: the next write
// replaces it. With a writer beside the queue too.
TEST_F(StoreFiles, AFailedWriteIsTriedAgainWithoutWaitingForAChange) {
    for (const bool onWriter : {false, true}) {
        SCOPED_TRACE(onWriter ? "on the writer" : "on the queue");
        auto store = open();
        const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
        if (onWriter) {
            store->setWriter(writer);
        }
        const auto advance = [&](double seconds) {
            queue->advance(seconds);
            writer->runUntilIdle();
            queue->runUntilIdle();
        };
        const auto items = [&] {
            return test::parseObject(read("index.json")).value("items").toArray().size();
        };
        const QByteArray folder = QFile::encodeName(path(""));
        store->upsert(makeItem("a", 1));
        // A folder that takes no new file: the write fails.
        ::chmod(folder.constData(), 0500);
        {
            const test::ModesApply modes;
            advance(2.1);
        }
        EXPECT_FALSE(QFile::exists(path("index.json")));
        ::chmod(folder.constData(), 0700);
        advance(5);
        EXPECT_EQ(items(), 1);

        // A folder that cannot be read, and so not synced: the write fails once its file is in
        // place.
        store->upsert(makeItem("b", 1));
        ::chmod(folder.constData(), 0300);
        {
            const test::ModesApply modes;
            advance(2.1);
        }
        ::chmod(folder.constData(), 0700);
        ASSERT_EQ(items(), 2);
        store->upsert(makeItem("c", 1));
        advance(Store::saveRetryMost);
        EXPECT_EQ(items(), 3);
        QDir(path("")).removeRecursively();
    }
}

TEST_F(StoreFiles, OffsetsNeverGoAheadOfTheIndexThatHoldsWhatTheirLinesBrought) {
    auto store = open();
    store->setOffset(10, "/t.jsonl");
    store->flush();
    // While the index cannot be written, a capture from later lines lives only in memory: the
    // offsets on disk stay where the index on disk left off.
    // No file may grow to the index's size; the offsets' own writes can be made.
    QFile::remove(path("index.json"));
    store->upsert(makeItem("from-line-two", 1));
    store->setOffset(20, "/t.jsonl");
    {
        const test::FileSizeLimit full(64);
        queue->advance(20);
    }
    EXPECT_FALSE(QFile::exists(path("index.json")));
    EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":10})");
    // Once the index is written, by its own retry, the offsets follow.
    queue->advance(60);
    EXPECT_EQ(test::parseObject(read("index.json")).value("items").toArray().size(), 1);
    EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":20})");
}

TEST_F(StoreFiles, WithoutAQueueOnlyFlushWritesAndAReleasedStoreWritesNothing) {
    {
        auto store = open(false);
        store->upsert(makeItem("a", 1));
        EXPECT_FALSE(QFile::exists(path("index.json")));
        store->flush();
        EXPECT_TRUE(QFile::exists(path("index.json")));
    }
    QFile::remove(path("index.json"));
    {
        auto store = open();
        store->upsert(makeItem("a", 2));
    }
    queue->advance(10);
    EXPECT_FALSE(QFile::exists(path("index.json")));
}

TEST(StoreErrors, AFailureIsDescribedInWordsWithItsNumber) {
    EXPECT_EQ(Error::describe(Error::posix(ENOSPC)), "no space left on device");
    EXPECT_EQ(Error::describe(Error{"QFileDevice", 5, {}}), "error 5");
}

// A copy is synced through the items folder it was written into: while another folder stands at
// its path, no index naming it is written (the copy cannot be known to be on the disk), and once
// the run's own folder is back, one is.
TEST_F(StoreFiles, NoIndexNamesACopyThatCouldNotBeSyncedWhereItWasWritten) {
    auto store = open(false);
    store->flush();
    withCopy(*store, "a");
    const QString items = path("items");
    ASSERT_TRUE(QDir().rename(items, items + ".moved"));
    ASSERT_TRUE(QDir().mkpath(items));
    store->flush();
    EXPECT_FALSE(read("index.json").contains("\"a\""));
    ASSERT_TRUE(QDir(items).removeRecursively());
    ASSERT_TRUE(QDir().rename(items + ".moved", items));
    clock += 2;
    store->flush();
    EXPECT_TRUE(read("index.json").contains("\"a\""));
}
