// Records, marks, lookups and item files of the store; writes tried again, the unfinished start.
#include "OstrelCore/Records/Store.h"
#include "Platform/ManualSerialQueue.h"
#include "RecordsTestSupport.h"
#include "support/AsUser.h"
#include "support/ItemIds.h"
#include "support/LogCapture.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace ostrel;
using test::makeItem;

namespace {

class StoreRecords : public ::testing::Test {
protected:
    test::TempDir dir;
    double clock = 100.0;
    std::shared_ptr<Store> store =
        Store::make(QUrl::fromLocalFile(dir.file("support")), [this] { return Date(clock); });

    ShelfItem withPath(const QString& id, double created, const QString& path) {
        ShelfItem item = makeItem(id, created);
        item.sourcePath = path;
        return item;
    }
    // Stores an item with a copy and a thumbnail, as capture does.
    ShelfItem stored(const QString& id, double created, const QString& path) {
        ShelfItem item = withPath(id, created, path);
        item.fileURL = std::get<QUrl>(store->copyIn("content of " + id.toUtf8(), id, "png"));
        dir.write("support/thumbs/" + id + ".jpg", "thumb");
        store->upsert(item);
        return item;
    }
    static QStringList ids(const QList<ShelfItem>& items) {
        QStringList out = test::ids(items);
        out.sort();
        return out;
    }
};

// A store whose delayed writes run on a queue driven by hand.
class StoreSaving : public ::testing::Test {
protected:
    test::TempDir dir;
    std::shared_ptr<ManualSerialQueue> queue = std::make_shared<ManualSerialQueue>();
    std::shared_ptr<Store> store = Store::make(
        QUrl::fromLocalFile(dir.file("support")), [] { return Date(100); }, queue);

    QString path(const QString& name) const { return dir.file("support/" + name); }
};

} // namespace

TEST_F(StoreRecords, EqualUpsertsChangeNothingAndAnyFieldIsAChange) {
    ShelfItem item = makeItem("a", 1);
    store->upsert(item);
    EXPECT_EQ(store->revision(), 1);
    store->upsert(item);
    EXPECT_EQ(store->revision(), 1);
    item.title = "renamed";
    store->upsert(item);
    EXPECT_EQ(store->revision(), 2);

    const Session session = test::makeSession("s", 1, 2);
    store->upsert(session);
    store->upsert(session);
    store->upsert(test::makePrompt("p", "s", 1));
    store->upsert(test::makePrompt("p", "s", 1));
    EXPECT_EQ(store->revision(), 4);
}

TEST_F(StoreRecords, LookupsFollowSourcePathAndContentKey) {
    store->upsert(withPath("abc", 1, "/old"));
    store->upsert(withPath("abc", 1, "/new"));
    EXPECT_TRUE(store->items("/old").isEmpty());
    EXPECT_EQ(ids(store->items("/new")), QStringList{"abc"});

    store->upsert(makeItem("abc~0123456789abcdef", 2));
    EXPECT_EQ(ids(store->itemsWithContent("abc")), (QStringList{"abc", "abc~0123456789abcdef"}));
    EXPECT_TRUE(store->itemsWithContent("abc~0123456789abcdef").isEmpty());
    EXPECT_EQ(Store::contentKey("~x"), "");

    ShelfItem artifact = withPath("artifact:1", 3, "/new");
    artifact.kind = ShelfItemKind::artifact;
    store->upsert(artifact);
    EXPECT_EQ(store->artifact("/new")->id, "artifact:1");
    EXPECT_FALSE(store->artifact("/old"));
}

TEST_F(StoreRecords, SeenMarksKeepTheFirstDateAndSkipHidden) {
    store->upsert(makeItem("a", 1));
    store->upsert(makeItem("h", 1));
    store->hide("h");
    const qint64 before = store->revision();
    store->markSeen({"a", "h", "missing"}, Date(5));
    EXPECT_EQ(store->revision(), before + 1);
    store->markSeen({"a"}, Date(9));
    EXPECT_EQ(store->items().value("a").seenAt, Date(5));
    EXPECT_EQ(store->revision(), before + 1);
    EXPECT_FALSE(store->hiddenItems().value("h").item.seenAt);
    store->markSeen({}, Date(9));
    EXPECT_EQ(store->revision(), before + 1);
}

TEST_F(StoreRecords, HideAndUnhideRestoreTheItemAsItWas) {
    ShelfItem item = stored("a", 1, "/p");
    store->markSeen({"a"}, Date(2));
    item.seenAt = Date(2);
    clock = 50;
    store->hide("a");
    EXPECT_TRUE(store->isHidden("a"));
    EXPECT_TRUE(store->isHiddenSourcePath("/p"));
    EXPECT_TRUE(store->items("/p").isEmpty());
    EXPECT_EQ(store->hiddenItems().value("a").hiddenAt, Date(50));
    EXPECT_TRUE(QFile::exists(item.fileURL->toLocalFile()));

    EXPECT_TRUE(store->unhide("a"));
    EXPECT_EQ(store->items().value("a"), item);
    EXPECT_EQ(ids(store->items("/p")), QStringList{"a"});
    EXPECT_FALSE(store->isHiddenSourcePath("/p"));

    // An id can be hidden before anything carries it.
    const qint64 before = store->revision();
    store->hide("never");
    EXPECT_TRUE(store->isHidden("never"));
    EXPECT_TRUE(store->hiddenItems().isEmpty());
    EXPECT_EQ(store->revision(), before + 1);
    EXPECT_FALSE(store->unhide("never"));
    EXPECT_FALSE(store->isHidden("never"));
    EXPECT_EQ(store->revision(), before + 2);
}

TEST_F(StoreRecords, DeleteRemovesFilesAndStampsIdAndPath) {
    const ShelfItem a = stored("a", 1, "/p");
    stored("h", 1, "/q");
    store->hide("h");
    clock = 70;
    const qint64 before = store->revision();
    EXPECT_EQ(store->deleteItems({"nope"}), 0);
    EXPECT_EQ(store->revision(), before);
    EXPECT_TRUE(store->deleted().isEmpty());

    EXPECT_EQ(store->deleteItems({"a", "a", "h"}), 2);
    EXPECT_EQ(store->revision(), before + 1);
    store->flush(); // removed files go once an index without them is written
    EXPECT_FALSE(QFile::exists(a.fileURL->toLocalFile()));
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/a.jpg")));
    EXPECT_FALSE(QFile::exists(dir.file("support/items/h.png")));
    EXPECT_EQ(store->deleted().value("a"), Date(70));
    EXPECT_EQ(store->deletedPaths().value("/q"), Date(70));
    EXPECT_TRUE(store->isHidden("h"));
    EXPECT_TRUE(store->hiddenItems().isEmpty());
}

TEST_F(StoreRecords, DeleteAllSparesTheGivenIds) {
    stored("a", 1, "/a");
    stored("b", 1, "/b");
    stored("c", 1, "/c");
    store->hide("c");
    EXPECT_EQ(store->deleteAll({"b"}), 2);
    EXPECT_EQ(store->items().keys(), QStringList{"b"});
    EXPECT_TRUE(store->hiddenItems().isEmpty());
}

TEST_F(StoreRecords, DeletionMarksHoldBackOnlyOlderCaptures) {
    stored("a", 1, "/p");
    clock = 200;
    store->deleteItems({"a"});
    EXPECT_TRUE(store->isDeleted("a", std::nullopt, Date(200)));
    EXPECT_FALSE(store->isDeleted("a", std::nullopt, Date(201)));
    EXPECT_TRUE(store->isDeleted("other", QString("/p"), Date(200)));
    EXPECT_FALSE(store->isDeleted("other", QString("/p"), Date(201)));
    EXPECT_FALSE(store->isDeleted("other", std::nullopt, Date(0)));

    EXPECT_TRUE(store->hasIngested("/p", Date(150)));
    EXPECT_TRUE(store->hasIngested("/p", Date(200)));
    EXPECT_FALSE(store->hasIngested("/p", Date(201)));
}

TEST_F(StoreRecords, HasIngestedCountsCapturesButNotArtifacts) {
    ShelfItem artifact = withPath("artifact:x", 500, "/f");
    artifact.kind = ShelfItemKind::artifact;
    store->upsert(artifact);
    EXPECT_FALSE(store->hasIngested("/f", Date(10)));

    store->upsert(withPath("h", 300, "/f"));
    store->hide("h");
    EXPECT_TRUE(store->hasIngested("/f", Date(300)));
    EXPECT_FALSE(store->hasIngested("/f", Date(300.5)));
}

TEST_F(StoreRecords, HasIngestedCountsAFileCheckedSinceItsItemWhileTheItemIsHeld) {
    store->upsert(withPath("a", 100, "/f"));
    // Touched: the same bytes found again at a later date, and a second file of them.
    store->setSourceChecked("/f", Date(250), "a");
    store->setSourceChecked("/copy", Date(260), "a");
    EXPECT_TRUE(store->hasIngested("/f", Date(250)));
    EXPECT_FALSE(store->hasIngested("/f", Date(250.5)));
    EXPECT_TRUE(store->hasIngested("/copy", Date(260)));
    const qint64 revision = store->revision();
    store->setSourceChecked("/f", Date(250), "a");
    EXPECT_EQ(store->revision(), revision);

    store->hide("a");
    EXPECT_TRUE(store->hasIngested("/copy", Date(260)));
    store->deleteItems({"a"});
    EXPECT_FALSE(store->hasIngested("/copy", Date(260)));
    store->purge(Date(0));
    EXPECT_TRUE(store->sourceChecks().isEmpty());
}

TEST_F(StoreRecords, CopyInKeepsAnExistingCopyOnlyWhenItHoldsTheBytes) {
    const auto first = store->copyIn("one", "id", "png");
    ASSERT_TRUE(std::holds_alternative<QUrl>(first));
    const QString copy = dir.file("support/items/id.png");
    const QDateTime written = QFileInfo(copy).lastModified();
    QFile::setPermissions(copy, QFile::ReadOwner); // a rewrite would replace it with 0600
    EXPECT_EQ(std::get<QUrl>(store->copyIn("one", "id", "png")), std::get<QUrl>(first));
    EXPECT_EQ(QFileInfo(copy).permissions() & QFile::WriteOwner, 0);
    EXPECT_EQ(QFileInfo(copy).lastModified(), written);
    // A copy left empty or cut short by a power loss is written again.
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    QFile(copy).resize(0);
    EXPECT_EQ(std::get<QUrl>(store->copyIn("one", "id", "png")), std::get<QUrl>(first));
    EXPECT_EQ(dir.read("support/items/id.png"), "one");
    dir.write("support/items/id.png", "on");
    store->copyIn("one", "id", "png");
    EXPECT_EQ(dir.read("support/items/id.png"), "one");
    EXPECT_EQ(store->copyURL("id", "").toLocalFile(), dir.file("support/items/id."));

    // An unwritable items folder is reported, not hidden.
    QDir(dir.file("support/items")).removeRecursively();
    dir.write("support/items", "a file where the folder was");
    EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("x", "other", "png")));
}

TEST_F(StoreRecords, RemovingAnItemNeverTouchesFilesOutsideTheStore) {
    // A damaged or edited index can name any file; only our own copies go.
    const QString userFile = dir.write("user/precious.png", "mine");
    ShelfItem forged = makeItem("forged", 1);
    forged.fileURL = QUrl::fromLocalFile(userFile);
    store->upsert(forged);
    ShelfItem climbing = makeItem("climb", 1);
    climbing.fileURL = QUrl::fromLocalFile(dir.file("support/items/../../user/precious.png"));
    store->upsert(climbing);
    // Ids from transcripts may hold "/" and "..": their thumbnails stay inside "thumbs".
    const QString victim = dir.write("support/victim.jpg", "x");
    store->upsert(makeItem("../victim", 1));
    store->upsert(makeItem("a/../../../user/precious", 1));

    EXPECT_EQ(store->deleteItems({"forged", "climb", "../victim", "a/../../../user/precious"}), 4);
    EXPECT_EQ(dir.read("user/precious.png"), "mine");
    EXPECT_TRUE(QFile::exists(victim));

    for (const QString& id :
         QStringList{"../x", "a/b", ".", "..", "", QString(300, u'z'), "ü/..%"}) {
        const QString name = Store::safeFileName(id);
        EXPECT_FALSE(name.contains(u'/')) << id.toStdString();
        EXPECT_FALSE(name.startsWith(u'.')) << id.toStdString();
        EXPECT_LT(name.toUtf8().size(), 250);
        EXPECT_EQ(QFileInfo(store->thumbURL(id).toLocalFile()).absolutePath(),
                  dir.file("support/thumbs"));
    }
    EXPECT_EQ(Store::safeFileName("0123abcdef~ff"), "0123abcdef~ff");
    EXPECT_EQ(Store::safeFileName("artifact:xy"), "artifact:xy");
    EXPECT_NE(Store::safeFileName("a/b"), Store::safeFileName("a%2Fb"));
}

TEST_F(StoreRecords, RemovingAnItemTakesOnlyTheFilesNamedAfterItsOwnId) {
    const ShelfItem other = stored("other", 1, "/o");
    // A damaged record that names another item's copy, or a copy under a longer name.
    ShelfItem damaged = makeItem("dam", 1);
    damaged.fileURL = other.fileURL;
    store->upsert(damaged);
    const QString longer = dir.write("support/items/dam.x.png", "not dam's");
    ShelfItem dotted = makeItem("dam2", 1);
    dotted.fileURL = QUrl::fromLocalFile(dir.file("support/items/dam2.x.png"));
    dir.write("support/items/dam2.x.png", "not dam2's");
    store->upsert(dotted);
    EXPECT_EQ(store->deleteItems({"dam", "dam2"}), 2);
    EXPECT_TRUE(QFile::exists(other.fileURL->toLocalFile()));
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/other.jpg")));
    EXPECT_TRUE(QFile::exists(longer));
    EXPECT_TRUE(QFile::exists(dir.file("support/items/dam2.x.png")));

    // Its own copy and thumbnail still go.
    const ShelfItem own = stored("own", 1, "/w");
    store->remove("own");
    store->flush();
    EXPECT_FALSE(QFile::exists(own.fileURL->toLocalFile()));
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/own.jpg")));
    EXPECT_TRUE(QFile::exists(other.fileURL->toLocalFile()));
}

TEST_F(StoreRecords, RemovedFilesStayUntilAnIndexWithoutThemIsWritten) {
    // A power loss before the next index finds the old one, which still names these files.
    const ShelfItem a = stored("a", 1, "/p");
    store->flush();
    store->remove("a");
    EXPECT_TRUE(QFile::exists(a.fileURL->toLocalFile()));
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/a.jpg")));
    EXPECT_EQ(store->pendingRemovalCount(), 2);
    store->flush();
    EXPECT_FALSE(QFile::exists(a.fileURL->toLocalFile()));
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/a.jpg")));

    // An item removed and captured again before the next index keeps its new copy.
    const ShelfItem b = stored("b", 1, "/q");
    store->remove("b");
    ASSERT_TRUE(std::holds_alternative<QUrl>(store->copyIn("b bytes", "b", "png")));
    store->writeThumbnail("b", "jpeg bytes");
    store->flush();
    EXPECT_TRUE(QFile::exists(dir.file("support/items/b.png")));
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/b.jpg")));
}

TEST_F(StoreRecords, RemoveLeavesNoMark) {
    stored("a", 1, "/p");
    store->remove("a");
    EXPECT_TRUE(store->items().isEmpty());
    EXPECT_FALSE(store->isDeleted("a", QString("/p"), Date(0)));
    store->flush();
    EXPECT_FALSE(QFile::exists(dir.file("support/items/a.png")));
    const qint64 before = store->revision();
    store->remove("a");
    EXPECT_EQ(store->revision(), before);
}

// A support folder that cannot be written is said once, where it is opened: nothing is tried in
// it file by file, and a copy fails for the folder's own cause, not for a missing "items".
TEST(StoreFolder, AFolderThatCannotBeWrittenIsNotTriedFileByFile) {
    test::TempDir dir;
    QDir().mkpath(dir.file("support"));
    ::chmod(QFile::encodeName(dir.file("support")).constData(), 0500);
    const test::ModesApply modes;
    const test::LogCapture log;
    const auto store =
        Store::make(QUrl::fromLocalFile(dir.file("support")), [] { return Date(1); });
    store->beginStart(Date(1));
    store->upsert(makeItem("a", 1));
    store->setOffset(10, "/t.jsonl");
    store->flush();
    const auto copied = store->copyIn("bytes", "a", "png");
    ASSERT_TRUE(std::holds_alternative<Error>(copied));
    EXPECT_EQ(std::get<Error>(copied).code, EACCES);
    EXPECT_EQ(log.matching("not saved"), QStringList());
}

TEST_F(StoreSaving, AFailedWriteIsTriedAgainAtWaitsThatDoubleUpToAMinuteUntilOneIsWritten) {
    test::LogCapture log;
    // When each attempt came, counted from the call, until `seconds` have passed.
    const auto attempts = [&](double seconds) {
        const double from = queue->now();
        std::vector<double> at;
        for (qsizetype seen = log.matching("index not saved").size();
             queue->now() < from + seconds;) {
            queue->advance(1);
            if (const qsizetype now = log.matching("index not saved").size(); now > seen) {
                seen = now;
                at.push_back(queue->now() - from);
            }
        }
        return at;
    };
    store->upsert(makeItem("a", 1));
    {
        const test::FileSizeLimit full(64);
        EXPECT_EQ(attempts(260), (std::vector<double>{2, 7, 17, 37, 77, 137, 197, 257}));
    }
    queue->advance(60);
    EXPECT_TRUE(QFile::exists(path("index.json")));
    // Once written, the next failure waits the first wait again.
    store->upsert(makeItem("b", 1));
    const test::FileSizeLimit full(64);
    EXPECT_EQ(attempts(10), (std::vector<double>{2, 7}));
    // A store that stops leaves no retry behind.
    store->flush();
    EXPECT_FALSE(queue->nextDeadline());
}

TEST_F(StoreSaving, TheOffsetsAndTheStartMomentAreTriedAgainToo) {
    // A folder that takes no new file: both writes fail, and their first retry.
    ::chmod(QFile::encodeName(path("")).constData(), 0500);
    {
        const test::ModesApply modes;
        store->beginStart(Date(50));
        store->setOffset(10, "/t.jsonl");
        queue->advance(5.1);
    }
    ::chmod(QFile::encodeName(path("")).constData(), 0700);
    EXPECT_FALSE(QFile::exists(path("offsets.json")));
    queue->advance(10);
    EXPECT_EQ(Store::decodeUnfinishedStart(dir.read("support/unfinished-start.json")), Date(50));
    EXPECT_EQ(dir.read("support/offsets.json"), R"({"/t.jsonl":10})");
}

TEST_F(StoreSaving, AnIndexHeldBackByACopyThatCouldNotBeSyncedIsTriedAgain) {
    // Written here and on a writer of its own: no index names the copy, through its retries and
    // later changes, until the copy is on the disk.
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    const auto other = Store::make(
        QUrl::fromLocalFile(dir.file("other")), [] { return Date(100); }, queue);
    other->setWriter(writer);
    for (const auto& [one, name] : {std::pair{store, "support"}, std::pair{other, "other"}}) {
        const QString copy = dir.file(QString(name) + "/items/a.png");
        const QString index = dir.file(QString(name) + "/index.json");
        dir.write(QString(name) + "/items/a.png", "bytes");
        ::chmod(QFile::encodeName(copy).constData(), 0);
        one->noteUnsynced(copy);
        one->upsert(makeItem("a", 1));
        const auto run = [&](int seconds) {
            for (int i = 0; i < seconds; ++i) {
                queue->advance(1);
                writer->runUntilIdle();
                queue->runUntilIdle();
            }
        };
        {
            const test::ModesApply modes;
            run(10);
            one->upsert(makeItem("b", 1));
            run(30);
        }
        EXPECT_FALSE(QFile::exists(index)) << name;
        ::chmod(QFile::encodeName(copy).constData(), 0600);
        run(60);
        EXPECT_TRUE(QFile::exists(index)) << name;
    }
}

// The moment a start began stays on the disk until an index holding all its pass took is
// written: a kill or a full disk before that must not lose the pass's last captures.
TEST_F(StoreSaving, TheStartMomentGoesOnlyWithAnIndexHoldingAllThePassTook) {
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    const auto kept = [&] {
        return Store::decodeUnfinishedStart(dir.read("support/unfinished-start.json")).has_value();
    };
    const auto writeEnds = [&] {
        writer->runUntilIdle();
        queue->runUntilIdle();
    };
    store->beginStart(Date(50));
    store->upsert(makeItem("first", 1));
    queue->advance(2.1); // a write begins before the pass is through
    store->upsert(makeItem("last", 1));
    store->finishStart();
    EXPECT_TRUE(kept());
    writeEnds(); // without "last"
    EXPECT_TRUE(kept());
    {
        const test::FileSizeLimit full(64);
        queue->advance(2.1);
        writeEnds();
    }
    EXPECT_TRUE(kept());
    queue->advance(5); // tried again, with room
    writeEnds();
    EXPECT_FALSE(kept());
}

// A capture held because the store could not keep it (a full disk) keeps a moment no later than
// itself on the disk, for a start after a kill or a quit to look back from, until nothing is held
// and an index begun after what was held was taken is written. It never makes a start look back
// less far.
TEST_F(StoreSaving, HeldCapturesKeepTheMomentUntilNoneIsHeldAndTheIndexHoldsThem) {
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    const auto moment = [&] {
        return Store::decodeUnfinishedStart(dir.read("support/unfinished-start.json"));
    };
    const auto write = [&] {
        queue->advance(2.1);
        writer->runUntilIdle();
        queue->runUntilIdle();
    };
    // Held during the pass: the earlier of the two.
    store->beginStart(Date(50));
    store->holdFrom(Date(70));
    EXPECT_EQ(moment(), Date(50));
    store->finishStart();
    store->setNeedsSave();
    write();
    EXPECT_EQ(moment(), Date(50));
    store->holdFrom(Date(30));
    EXPECT_EQ(moment(), Date(30));
    // The oldest went through, another is held: the moment stays.
    store->holdFrom(Date(40));
    EXPECT_EQ(moment(), Date(30));
    // An earlier one while no room is left: tried every few seconds however long that lasts.
    {
        const test::FileSizeLimit full(8);
        store->holdFrom(Date(20));
        queue->advance(100);
    }
    EXPECT_EQ(moment(), Date(30));
    queue->advance(5.1);
    EXPECT_EQ(moment(), Date(20));
    // A kill: a store over the same folder looks back from there.
    EXPECT_EQ(Store::make(QUrl::fromLocalFile(dir.file("support")), [] { return Date(100); })
                  ->unfinishedStart(),
              Date(20));

    // Nothing held: the moment goes with the first index holding what was taken.
    store->upsert(makeItem("taken", 20));
    store->holdFrom(std::nullopt);
    EXPECT_TRUE(moment().has_value());
    write();
    EXPECT_TRUE(dir.read("support/index.json").contains("taken"));
    EXPECT_FALSE(moment().has_value());

    // Held while a write begun before is under way, and taken before it ends: that write does
    // not let the moment go.
    store->upsert(makeItem("other", 1));
    queue->advance(2.1);
    store->holdFrom(Date(10));
    store->upsert(makeItem("late", 10));
    store->holdFrom(std::nullopt);
    writer->runUntilIdle();
    queue->runUntilIdle();
    EXPECT_EQ(moment(), Date(10));
    write();
    EXPECT_TRUE(dir.read("support/index.json").contains("late"));
    EXPECT_FALSE(moment().has_value());

    // A stop writes a moment still due.
    {
        const test::FileSizeLimit full(8);
        store->holdFrom(Date(5));
    }
    store->flush();
    EXPECT_EQ(moment(), Date(5));
    // A start begun again while they are held looks back from them, not from itself.
    store->beginStart(Date(60));
    EXPECT_EQ(moment(), Date(5));
}

// On a disk wholly full, where no new file can be made, the moment still goes into the file kept
// for it: written over it in place as soon as a capture is held, read by a start after a kill,
// kept through a quit, and then made to say "no moment" in the same room, never removed. A file
// an earlier version wrote, shorter, reads, and is written over too.
TEST_F(StoreSaving, TheMomentIsWrittenInTheRoomItKeepsOnADiskWhollyFull) {
    const test::MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    QDir().mkpath(dir.file("small"));
    ASSERT_TRUE(space.mountTmpfs(dir.file("small"), "size=256k"));
    const QString support = space.inside(dir.file("small/support"));
    ASSERT_TRUE(QDir().mkpath(support));
    ::chmod(QFile::encodeName(support).constData(), 0700);
    QFile file(support + "/unfinished-start.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"startedAt":40})");
    file.close();
    const auto moment = [&] {
        QFile kept(support + "/unfinished-start.json");
        return kept.open(QIODevice::ReadOnly) ? Store::decodeUnfinishedStart(kept.readAll())
                                              : std::nullopt;
    };
    const auto open = [&] {
        return Store::make(
            QUrl::fromLocalFile(support), [] { return Date(100); }, queue);
    };
    const auto fill = [&] {
        QFile filler(support + "/filler");
        filler.open(QIODevice::WriteOnly);
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    };
    const auto held = open();
    EXPECT_EQ(held->unfinishedStart(), Date(40));
    held->beginStart(Date(40));
    fill();
    held->holdFrom(Date(30));
    EXPECT_EQ(moment(), Date(30));
    EXPECT_EQ(open()->unfinishedStart(), Date(30)); // a start after a kill
    held->finishStart();
    held->flush(); // a quit while full
    EXPECT_EQ(moment(), Date(30));

    // Held on: what is held is woken within a few seconds of the disk taking new files again.
    int woken = 0;
    held->setOnWritten([&woken] { ++woken; });
    held->holdFrom(Date(25));
    queue->advance(5.1);
    EXPECT_EQ(woken, 0);
    QFile::remove(support + "/filler");
    queue->advance(5.1);
    EXPECT_GT(woken, 0);
    held->holdFrom(std::nullopt);
    held->setNeedsSave();
    queue->advance(2.1);
    EXPECT_TRUE(QFile::exists(support + "/index.json"));
    EXPECT_FALSE(moment());
    EXPECT_EQ(QFileInfo(support + "/unfinished-start.json").size(), 64); // the room it keeps
    fill();
    held->holdFrom(Date(20));
    EXPECT_EQ(moment(), Date(20));
}
