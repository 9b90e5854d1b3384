// Files of the store left behind: temporary files at a start (only in a folder this process holds),
// the files an index recorded it was about to remove (and no other), removals cut short.
#include "OstrelCore/Records/Store.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/ManualSerialQueue.h"
#include "RecordsTestSupport.h"
#include "support/AsUser.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;
using test::makeItem;

namespace {

class StoreSweep : public ::testing::Test {
protected:
    test::TempDir dir;
    // The support folder may be a link of the user's.
    QUrl root = [this] {
        QDir().mkpath(dir.file("support"));
        QFile::link(dir.file("support"), dir.file("linked"));
        return QUrl::fromLocalFile(dir.file("linked"));
    }();
    std::shared_ptr<Store> store = Store::make(root, [] { return Date(100.0); });

    ~StoreSweep() override { Store::setFolderHeld({}); }
    void startAgain() {
        store = Store::make(root, [] { return Date(100.0); });
        store->tidyFolders();
    }
    // The index on disk with `key` set to `value`.
    void setInIndex(const QString& key, const QJsonValue& value) {
        QJsonObject index = test::parseObject(dir.read("support/index.json"));
        index[key] = value;
        dir.write("support/index.json", QJsonDocument(index).toJson(QJsonDocument::Compact));
    }

    // What a run records of a file it is about to remove: its name, and the file as it is now.
    QJsonObject recorded(const QString& name) const {
        struct stat st {};
        ::lstat(QFile::encodeName(dir.file("support/" + name)).constData(), &st);
        const FileIdentity file = FileIdentity::of(st);
        return {{"name", name},
                {"device", qint64(file.device)},
                {"inode", qint64(file.inode)},
                {"size", file.size},
                {"modified", file.modified}};
    }
    QJsonArray recorded(const QStringList& names) const {
        QJsonArray out;
        for (const QString& name : names) {
            out.append(recorded(name));
        }
        return out;
    }
    // Killed right after an index that no longer holds `id` was written, before its files went.
    void removeAndKill(const QString& id) {
        const auto queue = std::make_shared<ManualSerialQueue>();
        const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
        store = Store::make(
            root, [] { return Date(100.0); }, queue);
        store->setWriter(writer);
        store->remove(id);
        queue->advance(2.1);
        writer->runUntilIdle();
        store.reset();
    }

    // An item with a copy and a thumbnail, as capture stores it.
    ShelfItem stored(Store& into, const QString& id) {
        ShelfItem item = makeItem(id, 1);
        item.fileURL = std::get<QUrl>(into.copyIn("content of " + id.toUtf8(), id, "png"));
        into.writeThumbnail(id, "thumb");
        into.upsert(item);
        return item;
    }
    // Dates a file (never a link's target) an hour back, as one from an earlier run.
    void age(const QString& relative, time_t seconds = 3600) {
        const timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(dir.file(relative)).constData(), times,
                    AT_SYMLINK_NOFOLLOW);
    }
    void ageAll() {
        for (const QString folder : {"support/items", "support/thumbs"}) {
            for (const QString& name : QDir(dir.file(folder)).entryList(QDir::Files)) {
                age(folder + '/' + name);
            }
        }
    }
    qsizetype files() const {
        return QDir(dir.file("support/items")).entryList(QDir::Files).size() +
               QDir(dir.file("support/thumbs")).entryList(QDir::Files).size();
    }
};

} // namespace

TEST_F(StoreSweep, AStartRemovesWhatOtherProcessesLeftHalfWrittenOnlyInAFolderItHolds) {
    dir.write("support/.incoming-Ab12Cd", QByteArray(1000, 'i'));
    dir.write("support/.incoming-dir/inside", "x");
    const QString target = dir.write("theirs", "x");
    QFile::link(target, dir.file("support/.incoming-link"));
    dir.write("support/notes.json", "{}");
    dir.write("support/thumbs/.incoming-Ef34Gh", "half a thumbnail");
    // Whatever their dates: this one was begun after this process was.
    dir.write("support/items/.incoming-Gh56Ij", "half a copy");
    age("support/.incoming-Ab12Cd");
    // A write of this process under way while a store loads (an engine restarted): the thumbnail
    // cache's, under the name every write of ours takes, however long it has taken.
    const QString own =
        "support/thumbs/" + QString::fromLatin1(AtomicFile::temporaryPrefix()) + "x";
    dir.write(own, "a thumbnail rendered");
    age(own);
    const QStringList leftovers{"support/.incoming-Ab12Cd", "support/thumbs/.incoming-Ef34Gh",
                                "support/items/.incoming-Gh56Ij"};
    // Not held (another shelf may be writing them): nothing goes.
    startAgain();
    for (const QString& file : leftovers) {
        EXPECT_TRUE(QFile::exists(dir.file(file))) << file.toStdString();
    }
    Store::setFolderHeld([this](const QString& at) { return at == root.toLocalFile(); });
    store = Store::make(root, [] { return Date(100.0); });
    EXPECT_FALSE(QFile::exists(dir.file("support/.incoming-Ab12Cd")));
    // The folders of copies and thumbnails with the start's one listing of them.
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/.incoming-Ef34Gh")));
    store->tidyFolders();
    for (const QString& file : leftovers) {
        EXPECT_FALSE(QFile::exists(dir.file(file))) << file.toStdString();
    }
    EXPECT_TRUE(QFile::exists(dir.file("support/.incoming-dir/inside")));
    EXPECT_TRUE(QFileInfo(dir.file("support/.incoming-link")).isSymLink());
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_TRUE(QFile::exists(dir.file("support/notes.json")));
    EXPECT_TRUE(QFile::exists(dir.file(own)));
}

TEST_F(StoreSweep, ACopyThatFailsPartWayLeavesNoTemporaryFile) {
    const QString source = dir.write("big.png", QByteArray(16384, 'b'));
    std::optional<Store::CopyResult> copied;
    {
        const test::FileSizeLimit limit(4096);
        copied = store->copyInFile(source, "big", "png", QString(64, u'0'));
    }
    ASSERT_TRUE(std::holds_alternative<Error>(*copied));
    EXPECT_EQ(QDir(dir.file("support/items"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

TEST_F(StoreSweep, AStartRemovesOnlyRecordedFilesOfOursThatNoHeldOrHiddenItemNames) {
    const ShelfItem held = stored(*store, "held");
    stored(*store, "hid");
    store->hide("hid");
    store->flush();
    for (const QString name : {"items/gone.png", "thumbs/gone.jpg", "items/orphan.png"}) {
        dir.write("support/" + name, "o");
    }
    dir.write("support/items/my picture.png", "u");
    const QString target = dir.write("theirs.png", "t");
    QFile::link(target, dir.file("support/items/link.png"));
    dir.write("support/items/bare.png", "b");
    dir.write("support/items/second.png", "s");
    ::link(QFile::encodeName(dir.file("support/items/second.png")).constData(),
           QFile::encodeName(dir.file("support/second name.png")).constData());
    ageAll();
    // Recorded by the index, beside the files of an item removed: those of an item held and of
    // one hidden, a link, a file with a second name, and names that are no files of ours; and a
    // name alone, as an earlier version recorded it, which may lead to a later capture by now.
    QJsonArray removing =
        recorded({"items/gone.png", "thumbs/gone.jpg", "items/held.png", "thumbs/held.jpg",
                  "items/hid.png", "thumbs/hid.jpg", "items/link.png", "items/my picture.png",
                  "items/second.png", "items/../../theirs.png", "index.json"});
    removing.append("items/bare.png");
    setInIndex("removing", removing);
    startAgain();
    EXPECT_FALSE(QFile::exists(dir.file("support/items/gone.png")));
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/gone.jpg")));
    // Named by no item, but recorded by no write either, or by its name alone.
    EXPECT_TRUE(QFile::exists(dir.file("support/items/orphan.png")));
    EXPECT_TRUE(QFile::exists(dir.file("support/items/bare.png")));
    EXPECT_TRUE(QFile::exists(dir.file("support/items/second.png")));
    EXPECT_TRUE(QFile::exists(held.fileURL->toLocalFile()));
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/held.jpg")));
    EXPECT_TRUE(QFile::exists(dir.file("support/items/hid.png")));
    EXPECT_TRUE(QFile::exists(dir.file("support/thumbs/hid.jpg")));
    EXPECT_TRUE(QFile::exists(dir.file("support/items/my picture.png")));
    EXPECT_TRUE(QFileInfo(dir.file("support/items/link.png")).isSymLink());
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_FALSE(store->isTidying());
    // Gone, or named again, they leave the record with the next index written.
    store->flush();
    EXPECT_FALSE(test::parseObject(dir.read("support/index.json")).contains("removing"));
}

TEST_F(StoreSweep, AStartThatReadNoIndexSweepsNothing) {
    const auto renames = std::vector<std::pair<const char*, QString>>{
        {"removed", {}}, {"renamed", "support/index.json.bak"}, {"emptied", "support/index.json"}};
    for (const auto& [what, to] : renames) {
        SCOPED_TRACE(what);
        QDir(dir.file("support")).removeRecursively();
        QDir().mkpath(dir.file("support"));
        store = Store::make(root, [] { return Date(100.0); });
        stored(*store, "a");
        store->flush();
        dir.write("support/items/orphan.png", "o");
        ageAll();
        QFile::remove(dir.file("support/index.json"));
        if (!to.isEmpty()) {
            dir.write(to, to.endsWith(".bak") ? "{}" : "");
        }
        store = Store::make(root, [] { return Date(100.0); });
        store->tidyFolders();
        EXPECT_EQ(files(), 3);
    }
}

TEST_F(StoreSweep, AnIndexThatCouldNotBeReadAndWasLeftInPlaceStopsTheSweep) {
    stored(*store, "a");
    store->flush();
    dir.write("support/items/orphan.png", "o");
    ageAll();
    ::chmod(QFile::encodeName(dir.file("support/index.json")).constData(), 0);
    {
        const test::ModesApply modes;
        store = Store::make(root, [] { return Date(100.0); });
        ASSERT_FALSE(store->canWriteIndex());
        store->tidyFolders();
    }
    EXPECT_EQ(files(), 3);
}

TEST_F(StoreSweep, NothingIsSweptForTheBytesOfAnIndexLyingAsideNorOnceTheyAreLetGo) {
    stored(*store, "a");
    store->flush();
    for (const QString aside : {"support/index.unreadable-20260101T000000.json",
                                "support/index.partly-unreadable-20260101T000000.json"}) {
        SCOPED_TRACE(aside.toStdString());
        dir.write("support/items/orphan.png", "o");
        age("support/items/orphan.png");
        dir.write(aside, "{");
        startAgain();
        EXPECT_TRUE(QFile::exists(dir.file("support/items/orphan.png")));
        // The user lets them go: whatever their index named that this one does not stays.
        QFile::remove(dir.file(aside));
        startAgain();
        EXPECT_TRUE(QFile::exists(dir.file("support/items/orphan.png")));
    }
}

TEST_F(StoreSweep, AStartAfterALostIndexNeverSweepsTheFilesOfTheLostOne) {
    stored(*store, "a");
    store->flush();
    const QByteArray older = dir.read("support/index.json");
    stored(*store, "b");
    store->flush();
    // Lost: the start that finds none begins a new index, which the start after it reads whole.
    QFile::remove(dir.file("support/index.json"));
    startAgain();
    stored(*store, "n");
    store->flush();
    startAgain();
    EXPECT_EQ(files(), 6);
    // Nor whatever an earlier version wrote of when such an index was begun, nor the files'
    // dates, nor the clock change that.
    for (const QJsonValue& begun :
         {QJsonValue(Date::now().adding(-1800).seconds),
          QJsonValue(Date::now().adding(86400).seconds), QJsonValue("yesterday")}) {
        setInIndex("begunAt", begun);
        ageAll();
        startAgain();
        EXPECT_TRUE(store->items().contains("n"));
        EXPECT_TRUE(QDir(dir.file("support")).entryList({"index.partly*"}).isEmpty());
        EXPECT_EQ(files(), 6);
    }

    // An older index put back (a backup, a copy kept aside renamed back): the items captured
    // since are off the shelf, and keep every file.
    dir.write("support/index.json", older);
    startAgain();
    EXPECT_EQ(store->items().keys(), QStringList{"a"});
    store->flush();
    startAgain();
    EXPECT_EQ(files(), 6);
}

TEST_F(StoreSweep, FilesTheIndexOnDiskStillNamesWaitForAnIndexWithoutThem) {
    stored(*store, "a");
    store->flush();
    ageAll();
    store = Store::make(root, [] { return Date(100.0); });
    store->remove("a");
    store->tidyFolders();
    EXPECT_EQ(files(), 2);
    store->flush();
    EXPECT_EQ(files(), 0);
}

TEST_F(StoreSweep, FilesOfAnItemRemovedWhileAnIndexIsWrittenStayWhenThatWriteFails) {
    stored(*store, "a");
    store->flush();
    ageAll();
    const auto queue = SerialQueue::make("test.store");
    const auto writer = SerialQueue::make("test.writer");
    store = Store::make(
        root, [] { return Date(100.0); }, queue, 3600);
    store->setWriter(writer);
    // The sweep's listing, then the write of an index without "a", wait on the writer; the
    // listing's names are judged while that write is under way.
    std::promise<void> go;
    writer->async([wait = go.get_future().share()] { wait.wait(); });
    queue->sync([&] {
        store->remove("a");
        store->tidyFolders();
        store->saveIfOverdue(0);
    });
    {
        const test::FileSizeLimit full(16);
        go.set_value();
        bool sweeping = true;
        for (int i = 0; i < 500 && sweeping; ++i) {
            QThread::msleep(10);
            queue->sync([&] { sweeping = store->isTidying(); });
        }
        writer->sync([] {});
        queue->sync([] {});
    }
    queue->sync([&] { store.reset(); });
    // The index on disk still names "a": the next start shows it with its picture.
    store = Store::make(root, [] { return Date(100.0); });
    ASSERT_TRUE(store->items().contains("a"));
    EXPECT_TRUE(QFile::exists(store->items().value("a").fileURL->toLocalFile()));
    EXPECT_TRUE(QFile::exists(store->thumbURL("a").toLocalFile()));
}

TEST_F(StoreSweep, AnItemStoredWhileTheSweepRunsKeepsTheOldCopyItTookUp) {
    // An earlier run's copy of the same bytes, recorded for removal by an index a kill cut
    // short: the capture takes it up as is.
    store->flush();
    dir.write("support/items/back.png", "content of back");
    dir.write("support/items/orphan.png", "o");
    setInIndex("removing", recorded({"items/back.png", "items/orphan.png"}));
    const auto queue = SerialQueue::make("test.store");
    const auto writer = SerialQueue::make("test.writer");
    store = Store::make(
        root, [] { return Date(100.0); }, queue);
    store->setWriter(writer);
    // The listing waits until the capture is in.
    std::promise<void> captured;
    writer->async([wait = captured.get_future().share()] { wait.wait(); });
    queue->sync([&] {
        store->tidyFolders();
        stored(*store, "back");
    });
    captured.set_value();
    bool sweeping = true;
    for (int i = 0; i < 500 && sweeping; ++i) {
        QThread::msleep(10);
        queue->sync([&] { sweeping = store->isTidying(); });
    }
    EXPECT_FALSE(sweeping);
    EXPECT_TRUE(QFile::exists(dir.file("support/items/back.png")));
    EXPECT_FALSE(QFile::exists(dir.file("support/items/orphan.png")));
    queue->sync([&] { store.reset(); });
}

TEST_F(StoreSweep, ARemovalOfManyFilesEndsWithinABatchWhenTheProcessIsToEnd) {
    std::atomic<bool> ending = false;
    store->setHalted([&ending] { return ending.load(); });
    for (int i = 0; i < 300; ++i) {
        stored(*store, QString("i%1").arg(i));
    }
    store->flush();
    for (int i = 0; i < 300; ++i) {
        store->remove(QString("i%1").arg(i));
    }
    ending = true;
    store->flush();
    // The index no longer names them; some went, the rest is the next start's.
    const qsizetype left = files();
    EXPECT_GE(left, 600 - Store::removalBatch);
    EXPECT_LT(left, 600);
    store = Store::make(root, [] { return Date(100.0); });
    EXPECT_TRUE(store->items().isEmpty());
    store->tidyFolders();
    EXPECT_EQ(files(), 0);
}

TEST_F(StoreSweep, AKillRightAfterAnIndexWithoutThousandsOfItemsLeavesNoneOfTheirFilesToTheNext) {
    for (int i = 0; i < 3000; ++i) {
        stored(*store, QString("i%1").arg(i));
    }
    store->flush();
    const auto queue = std::make_shared<ManualSerialQueue>();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store = Store::make(
        root, [] { return Date(100.0); }, queue);
    store->setWriter(writer);
    store->deleteAll({});
    queue->advance(2.1);
    writer->runUntilIdle();
    // Killed once that index was written, before any of their files went.
    store.reset();
    EXPECT_EQ(files(), 6000);
    store = Store::make(root, [] { return Date(100.0); });
    EXPECT_TRUE(store->items().isEmpty());
    stored(*store, "i7"); // the same bytes captured again meanwhile
    store->tidyFolders();
    EXPECT_EQ(files(), 2);
    store->flush();
    EXPECT_FALSE(test::parseObject(dir.read("support/index.json")).contains("removing"));
}

// An older index put back (a backup taken while it recorded the files of a removed item) after
// the same bytes were captured again: the later capture's copy and thumbnail are not the files
// that index recorded, and stay.
TEST_F(StoreSweep, AnIndexPutBackRemovesNoLaterCaptureOfTheBytesItRecorded) {
    stored(*store, "a");
    store->flush();
    ageAll();
    store->remove("a");
    store->flush();
    const QByteArray older = dir.read("support/index.json");
    ASSERT_EQ(files(), 0);
    stored(*store, "a");
    store->flush();
    QFile::remove(dir.file("support/index.json"));
    dir.write("support/index.json", older);
    startAgain();
    EXPECT_EQ(files(), 2);
    // Nor a file at a recorded name that has the inode and size recorded (an inode freed is given
    // to a later file): its modification time tells it apart.
    stored(*store, "b");
    store->flush();
    removeAndKill("b");
    dir.write("support/items/b.png", dir.read("support/items/b.png"));
    age("support/items/b.png");
    startAgain();
    EXPECT_TRUE(QFile::exists(dir.file("support/items/b.png")));
    EXPECT_EQ(files(), 3);
    // While a mode set on it, or a second name made for it and removed again (a backup by hard
    // links), moves its change time alone: it is still the file recorded.
    stored(*store, "c");
    store->flush();
    removeAndKill("c");
    QThread::msleep(30); // the file system's clock moves in ticks of a few milliseconds
    const QByteArray copy = QFile::encodeName(dir.file("support/items/c.png"));
    const QByteArray thumbnail = QFile::encodeName(dir.file("support/thumbs/c.jpg"));
    ASSERT_EQ(::chmod(copy.constData(), 0600), 0);
    ASSERT_EQ(::link(thumbnail.constData(), (thumbnail + ".bak").constData()), 0);
    ::unlink((thumbnail + ".bak").constData());
    startAgain();
    EXPECT_FALSE(QFile::exists(copy));
    EXPECT_FALSE(QFile::exists(thumbnail));
}

// The link file a drag wrote for an item that has only a web address goes with the item, as its
// other files do: recorded by the index that no longer holds the item, so a start after a kill
// removes it. Whatever its artifact's id holds, the name it is written under is one the index
// reads back whole, and never leads out of the folder.
TEST_F(StoreSweep, AnItemsLinkFileGoesWithItsOtherFiles) {
    EXPECT_EQ(Store::linkFileName("artifact:s:1"), "artifact-s-1.webloc");
    for (const QString& id :
         {QString("artifact:my doc"), QString("artifact:a/../b%20c"), QString("artifact:résumé"),
          "artifact:" + QString(300, 'x'), QString("artifact:nul\0")}) {
        SCOPED_TRACE(id.left(40).toStdString());
        ShelfItem item = makeItem(id, 1);
        item.remoteURL = QUrl("https://example.com/a");
        store->upsert(item);
        store->flush();
        const QString name = Store::linkFileName(id);
        ASSERT_FALSE(name.contains('/'));
        const QString link = dir.write("support/items/" + name, "<plist/>");
        ASSERT_TRUE(QFile::exists(link));
        removeAndKill(item.id);
        ASSERT_TRUE(QFile::exists(link));
        startAgain();
        EXPECT_FALSE(QFile::exists(link));
        EXPECT_TRUE(QDir(dir.file("support")).entryList({"index.partly-unreadable-*"}).isEmpty());
    }
}

// A file the index recorded for removal that a start cannot remove (its folder takes no change
// for now) stays recorded by the index that start writes, and a later start removes it.
TEST_F(StoreSweep, ARecordedRemovalThatFailsAtAStartIsTriedAgainByTheNext) {
    stored(*store, "a");
    store->flush();
    removeAndKill("a");
    const QByteArray thumbs = QFile::encodeName(dir.file("support/thumbs"));
    store = Store::make(root, [] { return Date(100.0); });
    ::chmod(thumbs.constData(), 0500);
    {
        const test::ModesApply modes;
        store->tidyFolders();
    }
    ::chmod(thumbs.constData(), 0700);
    EXPECT_FALSE(QFile::exists(dir.file("support/items/a.png")));
    ASSERT_TRUE(QFile::exists(dir.file("support/thumbs/a.jpg")));
    store->flush();
    startAgain();
    EXPECT_FALSE(QFile::exists(dir.file("support/thumbs/a.jpg")));
}

// An index put at the folder's path by another hand after the start takes this run's record of
// removals along: nothing that index may name goes beside it.
TEST_F(StoreSweep, AnIndexPutInPlaceAfterTheStartDropsTheRecordOfRemovals) {
    stored(*store, "a");
    store->flush();
    const QByteArray theirs = dir.read("support/index.json");
    removeAndKill("a");
    store = Store::make(root, [] { return Date(100.0); });
    QFile::remove(dir.file("support/index.json"));
    dir.write("support/index.json", theirs);
    store->tidyFolders();
    EXPECT_EQ(files(), 2);
}

TEST_F(StoreSweep, APurgeEndsWithinABatchWhenTheProcessIsToEnd) {
    std::atomic<bool> ending = true;
    store->setHalted([&ending] { return ending.load(); });
    for (int i = 0; i < 600; ++i) {
        store->upsert(makeItem(QString("i%1").arg(i), 1));
    }
    // What it took is gone from the tables; the rest expires at the next purge.
    const qsizetype taken = store->purge(Date(50.0)).size();
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, 600);
    EXPECT_EQ(store->items().size(), 600 - taken);
    ending = false;
    EXPECT_EQ(store->purge(Date(50.0)).size(), 600 - taken);
}

// The copies and thumbnails moved to another disk, with links of the user's left in their place
// before the start: the start's tidying goes through them, removing what other processes left
// half written there and the files an index recorded for removal, and nothing else.
TEST_F(StoreSweep, AStartTidiesThroughTheUsersLinksAtTheFoldersWithin) {
    stored(*store, "held");
    stored(*store, "gone");
    store->flush();
    removeAndKill("gone");
    QDir().mkpath(dir.file("disk"));
    for (const QString name : {"items", "thumbs"}) {
        ASSERT_TRUE(QDir().rename(dir.file("support/" + name), dir.file("disk/" + name)));
        ASSERT_TRUE(QFile::link(dir.file("disk/" + name), dir.file("support/" + name)));
    }
    dir.write("disk/items/.incoming-Ab12Cd", "half a copy");
    dir.write("disk/thumbs/.incoming-Ef34Gh", "half a thumbnail");
    dir.write("disk/items/mine.png", "the user's");
    Store::setFolderHeld([this](const QString& at) { return at == root.toLocalFile(); });
    startAgain();
    EXPECT_EQ(QDir(dir.file("disk/items")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"held.png", "mine.png"}));
    EXPECT_EQ(QDir(dir.file("disk/thumbs")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"held.jpg"});
    EXPECT_TRUE(QFileInfo(dir.file("support/items")).isSymLink());
}
