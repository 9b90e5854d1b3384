// The support folder: made private, left as the user made it, and used once it can be written.
#include "OstrelCore/Records/OwnFolder.h"
#include "Platform/AtomicFile.h"
#include "StoreFilesFixture.h"
#include "support/AsUser.h"
#include "support/LogCapture.h"
#include "support/MountNamespace.h"

#include <QFile>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

TEST_F(StoreFiles, NewFolderIsAFirstRunAndWritesNothingUntilFlush) {
    auto store = open();
    EXPECT_TRUE(QDir(path("items")).exists());
    EXPECT_TRUE(QDir(path("thumbs")).exists());
    EXPECT_TRUE(store->isFirstRun());
    EXPECT_FALSE(store->previousRunAt());
    EXPECT_EQ(store->launchedAt(), Date(1000));
    EXPECT_FALSE(QFile::exists(path("index.json")));

    store->flush();
    EXPECT_EQ(read("index.json"),
              R"({"deleted":{},"deletedPaths":{},"hidden":[],"hiddenItems":[],"items":[],)"
              R"("lastRunAt":1000,"prompts":[],"sessions":[],"titleChecks":{},"version":1})");
    EXPECT_EQ(read("offsets.json"), "{}");
}

TEST_F(StoreFiles, FilesAKilledRunLeftHalfWrittenAreRemovedAndNothingElse) {
    {
        auto store = open();
        ASSERT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes", "a", "png")));
        store->flush();
    }
    dir.write("support/items/.incoming-Ab12Cd", "half a copy");
    dir.write("support/thumbs/.incoming-Ef34Gh", "half a thumbnail");
    dir.write("support/items/incoming-kept.png", "not ours to judge");
    const QStringList before = QDir(path("items")).entryList(QDir::Files | QDir::Hidden);
    // Left by another process: the folder is this one's alone.
    Store::setFolderHeld([](const QString&) { return true; });
    const auto heldNoMore = qScopeGuard([] { Store::setFolderHeld({}); });
    auto store = open();
    store->tidyFolders();
    EXPECT_FALSE(QFile::exists(path("items/.incoming-Ab12Cd")));
    EXPECT_FALSE(QFile::exists(path("thumbs/.incoming-Ef34Gh")));
    EXPECT_EQ(QDir(path("items")).entryList(QDir::Files | QDir::Hidden).size(), before.size() - 1);
    EXPECT_TRUE(QFile::exists(path("items/incoming-kept.png")));
}

TEST_F(StoreFiles, SupportFolderIsPrivate) {
    auto store = open();
    ShelfItem item = makeItem("a", 1);
    const auto copied = store->copyIn("bytes", "a", "png");
    ASSERT_TRUE(std::holds_alternative<QUrl>(copied));
    store->flush();
    EXPECT_EQ(modeOf(path("")), 0700u);
    EXPECT_EQ(modeOf(path("items")), 0700u);
    EXPECT_EQ(modeOf(path("thumbs")), 0700u);
    EXPECT_EQ(modeOf(path("index.json")), 0600u);
    EXPECT_EQ(modeOf(path("offsets.json")), 0600u);
    EXPECT_EQ(modeOf(std::get<QUrl>(copied).toLocalFile()), 0600u);
}

TEST_F(StoreFiles, AFolderTheUserNamedKeepsItsModesAndOurFilesStayPrivate) {
    QDir().mkpath(path(""));
    ::chmod(path("").toUtf8().constData(), 0755);
    test::LogCapture log;
    auto store = open();
    store->flush();
    EXPECT_EQ(modeOf(path("")), 0755u);
    EXPECT_EQ(modeOf(path("items")), 0700u);
    EXPECT_EQ(modeOf(path("index.json")), 0600u);
    const QStringList said = log.matching("is open to others");
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].contains(dir.file("support")));
    EXPECT_TRUE(said[0].contains("0755"));

    // A file in place of the folder is no folder open to others: the store goes on without one.
    dir.write("plain", "notes");
    Store::make(QUrl::fromLocalFile(dir.file("plain")), [] { return Date(1); })->flush();
    EXPECT_EQ(log.matching("is open to others").size(), 1);
    EXPECT_EQ(dir.read("plain"), "notes");

    // Folders we make, parents included, are private.
    Store::make(QUrl::fromLocalFile(dir.file("new/deeper/support")), [] { return Date(1); });
    EXPECT_EQ(modeOf(dir.file("new")), 0700u);
    EXPECT_EQ(modeOf(dir.file("new/deeper/support")), 0700u);
}

// A support folder that cannot be written at load is looked at again before a copy (not more
// than once a second, by a clock that going back never holds up) and at the stop. Once it can be
// written the run goes on as any other: the moment its start began goes there at once, and what
// it held meanwhile (a hide) reaches the index; an index it could not read at load, or one that
// appeared meanwhile, stays as it was, with its offsets.
TEST_F(StoreFiles, AFolderThatCouldNotBeWrittenAtLoadIsUsedOnceItCanBe) {
    const QByteArray folder = QFile::encodeName(path(""));
    const auto hiddenOnDisk = [&] { return test::parseObject(read("index.json")).value("hidden"); };
    // Found by a copy a second after the last look, by one after the clock was set back an hour,
    // or at the stop.
    for (const double later : {1.0, -3600.0, 0.0}) {
        SCOPED_TRACE(later);
        {
            auto earlier = open();
            earlier->upsert(makeItem("a", 1));
            earlier->flush();
        }
        ::chmod(folder.constData(), 0500);
        const test::ModesApply modes;
        const test::LogCapture log;
        auto store = open();
        store->beginStart(Date(900));
        store->hide("a");
        queue->advance(2.1);
        ::chmod(folder.constData(), 0700);
        // Within a second of the last look, no other is taken.
        EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes", "b", "png")));
        if (later != 0) {
            clock += later;
            EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes", "b", "png")));
            EXPECT_EQ(Store::decodeUnfinishedStart(read("unfinished-start.json")), Date(900));
            queue->advance(2.1);
        } else {
            store->flush();
        }
        EXPECT_EQ(hiddenOnDisk(), QJsonArray{"a"});
        EXPECT_EQ(log.matching("can be written again").size(), 1);
        store->flush();
        QDir(path("")).removeRecursively();
        clock = 1000;
    }

    // Not readable at load, or written by another process while this one could not look.
    for (const bool appeared : {false, true}) {
        SCOPED_TRACE(appeared ? "an index that appeared" : "an index not read");
        QDir().mkpath(path(""));
        const auto otherIndex = [&] {
            dir.write("support/index.json", "not read");
            dir.write("support/offsets.json", R"({"/t.jsonl":10})");
        };
        if (!appeared) {
            otherIndex();
        }
        ::chmod(folder.constData(), appeared ? 0500 : 0);
        std::shared_ptr<Store> store;
        {
            const test::ModesApply modes;
            store = open();
        }
        if (appeared) {
            otherIndex();
        }
        ::chmod(folder.constData(), 0700);
        store->setOffset(20, "/t.jsonl");
        store->upsert(makeItem("b", 1));
        store->flush();
        EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes", "b", "png")));
        EXPECT_EQ(read("index.json"), "not read");
        EXPECT_EQ(read("offsets.json"), R"({"/t.jsonl":10})");
        QDir(path("")).removeRecursively();
    }
}

// On a read-only file system the folder is unusable from load like one without write
// permission: no file is tried there, nothing is said file by file, no retry is armed; and it is
// used once the file system takes writes again.
TEST_F(StoreFiles, AFolderOnAReadOnlyFileSystemIsNotTriedUntilItTakesWrites) {
    const QString mount = dir.file("mount");
    QDir().mkpath(mount);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const QByteArray at = QFile::encodeName(mount);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", at.constData(), "tmpfs", 0, "size=1m") != 0) {
            ::_exit(77);
        }
        const QUrl support = QUrl::fromLocalFile(mount + "/support");
        Store::make(support, [] { return Date(5); })->flush();
        if (::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            ::_exit(77);
        }
        int failed = 0;
        {
            const test::LogCapture log;
            auto store = Store::make(
                support, [] { return Date(5); }, queue);
            store->upsert(makeItem("a", 1));
            store->setOffset(10, "/t.jsonl");
            const auto copied = store->copyIn("bytes", "a", "png");
            failed |= store->folderUnusable() && store->folderUnusable()->code == EROFS ? 0 : 1;
            failed |= std::holds_alternative<Error>(copied) && std::get<Error>(copied).code == EROFS
                          ? 0
                          : 2;
            store->flush();
            queue->advance(600);
            failed |= log.messages().isEmpty() && !queue->nextDeadline() ? 0 : 4;
            if (::mount(nullptr, at.constData(), nullptr, MS_REMOUNT, nullptr) != 0) {
                ::_exit(77);
            }
            store->flush();
        }
        QFile index(mount + "/support/index.json");
        failed |= index.open(QIODevice::ReadOnly) &&
                          test::parseObject(index.readAll()).value("items").toArray().size() == 1
                      ? 0
                      : 8;
        ::_exit(failed);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not unusable, 2: a copy tried, 4: said or retried, "
                                         "8: not written once writable";
}

// An index put at the index's name by another hand (a backup put back, a second shelf that runs
// unguarded) is not this run's: it is never replaced, the offsets that go with it neither, and no
// file it may name is removed; said once. Looked at by the writer too, right before it writes.
TEST_F(StoreFiles, AnIndexThisRunNeitherReadNorWroteIsNeverReplaced) {
    for (const bool onWriter : {false, true}) {
        SCOPED_TRACE(onWriter ? "on the writer" : "on the queue");
        QString copy;
        {
            auto earlier = open();
            copy = withCopy(*earlier, "a");
            earlier->flush();
        }
        auto store = open();
        const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
        if (onWriter) {
            store->setWriter(writer);
        }
        const test::LogCapture log;
        const auto putBack = [&] {
            dir.write("support/index.json.kept", "put back");
            QFile::remove(path("index.json"));
            QFile::rename(path("index.json.kept"), path("index.json"));
        };
        store->deleteItems({"a"});
        store->setOffset(10, "/t.jsonl");
        if (!onWriter) {
            putBack();
        }
        queue->advance(2.1);
        if (onWriter) {
            putBack(); // after the queue looked, before the writer writes
            writer->runUntilIdle();
            queue->runUntilIdle();
        }
        queue->advance(3);
        store->flush();
        EXPECT_EQ(read("index.json"), "put back");
        EXPECT_EQ(read("offsets.json"), "{}");
        EXPECT_TRUE(QFile::exists(copy));
        EXPECT_EQ(log.matching("is not the index this run read or wrote").size(), 1);
        QDir(path("")).removeRecursively();
    }
}

// An older index copied over the run's own at its name, as `cp` does it (in place: the same
// inode), and of the same size, is not this run's: it is not replaced, and the file of an item
// removed meanwhile, which it may name, stays. So too when its modification time is set back to
// the one the run's write had (only its change time moved).
TEST_F(StoreFiles, AnIndexRewrittenInPlaceWithTheSameSizeIsNotThisRuns) {
    for (const bool dateSetBack : {false, true}) {
        SCOPED_TRACE(dateSetBack ? "its modification time set back" : "as cp leaves it");
        auto store = open();
        const QString copy = withCopy(*store, "a");
        store->flush();
        const QByteArray written = read("index.json");
        struct stat before {};
        ::stat(QFile::encodeName(path("index.json")).constData(), &before);
        QByteArray older = written;
        older.replace("\"lastRunAt\":1", "\"lastRunAt\":2");
        ASSERT_NE(older, written);
        store->deleteItems({"a"});
        // The file system's clock moves in ticks of a few milliseconds.
        QThread::msleep(30);
        dir.write("support/index.json", older);
        if (dateSetBack) {
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, QFile::encodeName(path("index.json")).constData(), times, 0);
        }
        store->flush();
        EXPECT_EQ(read("index.json"), older);
        EXPECT_TRUE(QFile::exists(copy));
        QDir(path("")).removeRecursively();
    }
}

// A mode set on the run's own index (even the mode it has), or a second name made for it and
// removed again (a backup by hard links), moves its change time alone: the index read, or the one
// written, is still this run's, and the run goes on writing it and removing what it no longer
// names.
TEST_F(StoreFiles, AModeSetOrASecondNameMadeAndRemovedLeavesTheIndexThisRuns) {
    for (const bool written : {false, true}) {
        for (const bool secondName : {false, true}) {
            SCOPED_TRACE(std::string(written ? "written" : "read") +
                         (secondName ? ", a second name" : ", a mode set"));
            QString copy;
            {
                auto earlier = open();
                copy = withCopy(*earlier, "a");
                earlier->flush();
            }
            auto store = open();
            if (written) {
                withCopy(*store, "b");
                store->flush();
            }
            // The file system's clock moves in ticks of a few milliseconds.
            QThread::msleep(30);
            const QByteArray index = QFile::encodeName(path("index.json"));
            if (secondName) {
                ASSERT_EQ(::link(index.constData(), (index + ".bak").constData()), 0);
                ::unlink((index + ".bak").constData());
            } else {
                ASSERT_EQ(::chmod(index.constData(), 0600), 0);
            }
            expectStillOwn(*store, copy);
            QDir(path("")).removeRecursively();
        }
    }
}

// The index the writer has just put in place is this run's before the queue hears of it: a look
// meanwhile (a copy a second later) finds its own index, and the run goes on writing it.
TEST_F(StoreFiles, AnIndexTheWriterHasJustWrittenIsThisRunsBeforeTheQueueHearsOfIt) {
    auto store = open();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    withCopy(*store, "a");
    queue->advance(2.1);
    writer->runUntilIdle();
    clock += 1;
    withCopy(*store, "b");
    queue->runUntilIdle();
    store->flush();
    EXPECT_EQ(test::parseObject(read("index.json")).value("items").toArray().size(), 2);
}

// A file system that dates a file anew as it is closed (a network share) leaves the index just
// written this run's own: the run goes on writing it.
TEST_F(StoreFiles, AnIndexDatedAnewAsItIsClosedIsStillThisRuns) {
    AtomicFile::setBeforeClose([](int fd) {
        const timespec times[2] = {{0, UTIME_OMIT}, {5000, 0}};
        ::futimens(fd, times);
    });
    const auto noHook = qScopeGuard([] { AtomicFile::setBeforeClose(nullptr); });
    auto store = open();
    store->upsert(makeItem("a", 1));
    store->flush();
    store->upsert(makeItem("b", 1));
    store->flush();
    EXPECT_EQ(test::parseObject(read("index.json")).value("items").toArray().size(), 2);
}

// While the items folder alone is lost (a link in its place), a capture tried again adds no
// second note of itself: the journal bounds what a start reads back.
TEST_F(StoreFiles, ACaptureTriedAgainWhileOnlyTheItemsFolderIsLostIsNotedOnce) {
    auto store = open();
    ASSERT_TRUE(QDir().rename(path("items"), path("items.aside")));
    ASSERT_TRUE(QFile::link(path("items.aside"), path("items")));
    ShelfItem item = makeItem("a", 1);
    item.fileURL = store->copyURL("a", "png");
    for (int attempt = 0; attempt < 3; ++attempt) {
        store->noteCapture(item);
        EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes", "a", "png")));
    }
    EXPECT_EQ(read("captures.jsonl").count('\n'), 1);
}

// A file system mounted over the items folder takes nothing of the run's removals: one carried
// out right after an index was written keeps its record, which the next index written names for
// a later start, and a tidying neither lists it nor removes anything there, even what looks left
// half written by another process.
TEST_F(StoreFiles, AFileSystemMountedOverTheItemsFolderLosesNoRemovalAndIsNotTidied) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QString drive = dir.file("drive");
    QDir().mkpath(drive + "/support");
    const QString support = space.inside(drive + "/support");
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    const auto store = withCopyToGo(support, writer);
    ASSERT_TRUE(space.mountTmpfs(drive + "/support/items", "size=1m"));
    queue->runUntilIdle();

    QFile left(support + "/items/.incoming-left");
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.close();
    Store::setFolderHeld([](const QString&) { return true; });
    const auto notHeld = qScopeGuard([] { Store::setFolderHeld({}); });
    store->tidyFolders();
    while (store->isTidying()) {
        writer->runUntilIdle();
        queue->runUntilIdle();
    }
    EXPECT_TRUE(QFile::exists(left.fileName()));

    ASSERT_TRUE(space.unmount(drive + "/support/items"));
    store->upsert(makeItem("b", 1));
    store->flush();
    QFile index(support + "/index.json");
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QJsonArray removing = test::parseObject(index.readAll()).value("removing").toArray();
    EXPECT_TRUE(std::any_of(removing.begin(), removing.end(), [](const QJsonValue& removal) {
        return removal["name"].toString() == "items/a.png";
    }));
}

// The start moment, tried again a while after a failed write, goes only into the folder this run
// read: another folder put in its place meanwhile keeps its own.
TEST_F(StoreFiles, AStartMomentTriedAgainGoesOnlyIntoTheFolderThisRunRead) {
    auto store = open();
    const QByteArray folder = QFile::encodeName(path(""));
    ::chmod(folder.constData(), 0500);
    {
        const test::ModesApply modes;
        store->beginStart(Date(900));
    }
    ::chmod(folder.constData(), 0700);
    ASSERT_TRUE(QDir(dir.path()).rename("support", "read"));
    dir.write("support/unfinished-start.json", "the other's");
    clock += Store::saveRetryMost;
    queue->advance(Store::saveRetryMost);
    EXPECT_EQ(read("unfinished-start.json"), "the other's");
}

// The run's support folder is written down at its start: a store made later over its path (an
// engine started again) takes that folder, and the folders within that the first store used, not
// others put in their place since, and the writers beside the store ask after the same ones.
// Where none stood at the start, the first a store comes to use is the run's.
TEST_F(StoreFiles, EveryStoreAndWriterOfTheRunTakeTheFolderItStartedWith) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QString drive = dir.file("drive");
    QDir().mkpath(drive);
    const QString support = space.inside(drive + "/support");
    const QString thumb = support + "/thumbs/a.jpg";
    const auto make = [&] {
        return Store::make(
            QUrl::fromLocalFile(support), [this] { return Date(clock); }, queue);
    };
    OwnFolder::startRun(support);
    const auto endRun = qScopeGuard([] { OwnFolder::endRun(); });
    EXPECT_FALSE(OwnFolder::mayWriteInto(thumb));
    EXPECT_TRUE(OwnFolder::mayWriteInto(dir.file("elsewhere/a.jpg")));
    make();
    EXPECT_TRUE(OwnFolder::mayWriteInto(thumb));

    // So are the folders within: a link put in place of the thumbnails folder (to that very
    // folder, moved aside) is neither written through nor set aside by a later store.
    const QString thumbs = support + "/thumbs";
    ASSERT_TRUE(QDir().rename(thumbs, thumbs + ".aside"));
    ASSERT_TRUE(QFile::link(thumbs + ".aside", thumbs));
    EXPECT_FALSE(OwnFolder::mayWriteInto(thumb));
    EXPECT_TRUE(make()->writeThumbnail("a", "thumb of a"));
    EXPECT_TRUE(QFileInfo(thumbs).isSymLink());
    EXPECT_TRUE(QDir(thumbs + ".aside").isEmpty());
    ASSERT_TRUE(QFile::remove(thumbs));
    ASSERT_TRUE(QDir().rename(thumbs + ".aside", thumbs));
    EXPECT_TRUE(OwnFolder::mayWriteInto(thumb));

    ASSERT_TRUE(space.mountTmpfs(drive, "size=1m"));
    EXPECT_FALSE(OwnFolder::mayWriteInto(thumb));
    {
        const auto later = make();
        later->upsert(makeItem("b", 1));
        later->flush();
    }
    EXPECT_FALSE(QFile::exists(support + "/index.json"));

    OwnFolder::endRun();
    EXPECT_TRUE(OwnFolder::mayWriteInto(thumb));
}

// A file system mounted over the support folder after load (a late drive, a network share) puts
// another folder, with an index of its own, at the folder's path: nothing of this run is copied,
// written or removed there (not even the files an index written just before was to let go), its
// lock is claimed, and it is said once. Once the mount goes, the run saves in its own folder again
// what it held meanwhile.
TEST_F(StoreFiles, AFolderMountedOverTheOneReadTakesNothingOfThisRunUntilItGoes) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QString drive = dir.file("drive");
    QDir().mkpath(drive);
    const QString support = space.inside(drive + "/support");
    const auto index = [&] {
        QFile file(support + "/index.json");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    // An index without "a" is written; the drive comes before its copy goes.
    const auto store = withCopyToGo(support, writer);

    ASSERT_TRUE(space.mountTmpfs(drive, "size=1m"));
    QDir().mkpath(support + "/items");
    for (const QString name : {"index.json", "items/a.png", "items/d.png"}) {
        QFile file(support + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the drive's");
    }
    QStringList claims;
    Store::setFolderClaim([&claims](const QString& root) {
        claims.append(root);
        return true;
    });
    const auto noClaim = qScopeGuard([] { Store::setFolderClaim({}); });
    const test::LogCapture log;
    queue->runUntilIdle();
    store->setOffset(10, "/t.jsonl");
    clock += 1;
    EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes of b", "b", "png")));
    store->upsert(makeItem("b", 1));
    queue->advance(5.1);
    writer->runUntilIdle();
    queue->runUntilIdle();
    store->flush();
    EXPECT_EQ(index(), "the drive's");
    EXPECT_EQ(QDir(support + "/items").entryList(QDir::Files), (QStringList{"a.png", "d.png"}));
    EXPECT_FALSE(QFile::exists(support + "/offsets.json"));
    EXPECT_EQ(log.matching("is not the folder this shelf read").size(), 1);
    ASSERT_FALSE(claims.isEmpty());
    EXPECT_EQ(claims.first(), support);

    ASSERT_TRUE(space.unmount(drive));
    clock += 1;
    EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes of b", "b", "png")));
    queue->advance(2.1);
    writer->runUntilIdle();
    queue->runUntilIdle();
    const QJsonArray items = test::parseObject(index()).value("items").toArray();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first()["id"].toString(), "b");
}

// The folders within the support folder are looked at as it is, right before each write: a link
// put in place of the items folder (to that very folder, moved aside) and a file system mounted
// over the thumbnails folder take no copy, note of one, or thumbnail, and no file is removed
// through them: those an index written just before was to let go stay recorded; each is said
// once. Once both are back, writing goes on there, and a later start removes what was to go.
TEST_F(StoreFiles, AFolderWithinPutInPlaceOfTheOneUsedTakesNothingUntilItIsBack) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QString drive = dir.file("drive");
    QDir().mkpath(drive + "/support");
    const QString support = space.inside(drive + "/support");
    const QString aside = support + "/items.aside";
    const auto make = [&] {
        return Store::make(
            QUrl::fromLocalFile(support), [this] { return Date(clock); }, queue);
    };
    auto store = make();
    const auto writer = std::make_shared<ManualSerialQueue>(QStringLiteral("writer"));
    store->setWriter(writer);
    withCopy(*store, "a");
    ASSERT_FALSE(store->writeThumbnail("a", "thumb of a"));
    store->flush();
    // An index without "a" is written; the link and the drive come before its files go.
    store->deleteItems({"a"});
    queue->advance(2.1);
    writer->runUntilIdle();

    ASSERT_TRUE(QDir().rename(support + "/items", aside));
    ASSERT_TRUE(QFile::link(aside, support + "/items"));
    ASSERT_TRUE(space.mountTmpfs(drive + "/support/thumbs", "size=1m"));
    const test::LogCapture log;
    queue->runUntilIdle();
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes of b", "b", "png")));
        EXPECT_TRUE(store->writeThumbnail("b", "thumb of b"));
    }
    // A capture held meanwhile notes nothing each time it is tried again.
    ShelfItem c = makeItem("c", 1);
    c.fileURL = store->copyURL("c", "png");
    EXPECT_TRUE(store->noteCapture(c));
    // Nor does a tidying remove anything there, even what looks left half written by another.
    Store::setFolderHeld([](const QString&) { return true; });
    const auto notHeld = qScopeGuard([] { Store::setFolderHeld({}); });
    QFile left(support + "/thumbs/.incoming-left");
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.close();
    store->tidyFolders();
    while (store->isTidying()) {
        writer->runUntilIdle();
        queue->runUntilIdle();
    }
    EXPECT_EQ(QDir(aside).entryList(QDir::Files), QStringList{"a.png"});
    EXPECT_EQ(QDir(support + "/thumbs").entryList(QDir::Files | QDir::Hidden),
              QStringList{".incoming-left"});
    EXPECT_EQ(log.matching("is not the folder this shelf uses").size(), 2);

    ASSERT_TRUE(space.unmount(drive + "/support/thumbs"));
    ASSERT_TRUE(QFile::remove(support + "/items"));
    ASSERT_TRUE(QDir().rename(aside, support + "/items"));
    EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes of b", "b", "png")));
    EXPECT_FALSE(store->writeThumbnail("b", "thumb of b"));
    EXPECT_EQ(log.matching("is this shelf's folder again").size(), 2);
    store->upsert(makeItem("b", 1));
    store->flush();
    store.reset();
    make()->tidyFolders();
    EXPECT_EQ(QDir(support + "/items").entryList(QDir::Files), QStringList{"b.png"});
    EXPECT_EQ(QDir(support + "/thumbs").entryList(QDir::Files), QStringList{"b.jpg"});
}

// The run's own index with only its dates moved: touched, dated back to the microsecond as a
// copying tool leaves it, or its very bytes written again in place. Read and found to hold the
// bytes the run wrote, it is still the run's: the run goes on writing it and removing what it no
// longer names.
TEST_F(StoreFiles, TheRunsOwnIndexWithOnlyItsDatesMovedStaysItsOwn) {
    for (const QByteArray change : {"touched", "dated back", "written again"}) {
        SCOPED_TRACE(change.constData());
        auto store = open();
        const QString copy = withCopy(*store, "a");
        store->flush();
        // The file system's clock moves in ticks of a few milliseconds.
        QThread::msleep(30);
        const QByteArray index = QFile::encodeName(path("index.json"));
        struct stat st {};
        ASSERT_EQ(::stat(index.constData(), &st), 0);
        if (change == "touched") {
            ASSERT_EQ(::utimensat(AT_FDCWD, index.constData(), nullptr, 0), 0);
        } else if (change == "dated back") {
            const auto micro = [](timespec at) {
                return timespec{at.tv_sec - 60, at.tv_nsec / 1000 * 1000};
            };
            const timespec back[2] = {micro(st.st_atim), micro(st.st_mtim)};
            ASSERT_EQ(::utimensat(AT_FDCWD, index.constData(), back, 0), 0);
        } else {
            dir.write("support/index.json", read("index.json"));
        }
        expectStillOwn(*store, copy);
        QDir(path("")).removeRecursively();
    }
}

// The copies moved to a bigger disk, with a link of the user's left at the items folder before
// the start: the run follows it, and writes and removes there, as do the writers beside the
// store. A link put in while the run goes on (at the thumbnails folder, to that very folder moved
// along), or the first one turned to another folder, takes nothing.
TEST_F(StoreFiles, ALinkOfTheUsersAtAFolderWithinIsFollowedOnlyWhenItStoodAtTheStart) {
    QString copy;
    {
        auto earlier = open();
        copy = withCopy(*earlier, "a");
        earlier->flush();
    }
    const QString items = dir.file("disk/items");
    const QString thumbs = dir.file("disk/thumbs");
    QDir().mkpath(dir.file("disk"));
    ASSERT_TRUE(QDir().rename(path("items"), items));
    ASSERT_TRUE(QFile::link(items, path("items")));
    OwnFolder::startRun(dir.file("support"));
    const auto endRun = qScopeGuard([] { OwnFolder::endRun(); });
    auto store = open();
    withCopy(*store, "b");
    store->deleteItems({"a"});
    store->flush();
    EXPECT_TRUE(QFileInfo(path("items")).isSymLink());
    EXPECT_EQ(QDir(items).entryList(QDir::Files), QStringList{"b.png"});
    EXPECT_TRUE(OwnFolder::mayWriteInto(path("items/b.webloc")));

    ASSERT_TRUE(QDir().rename(path("thumbs"), thumbs));
    ASSERT_TRUE(QFile::link(thumbs, path("thumbs")));
    EXPECT_TRUE(store->writeThumbnail("b", "thumb of b"));
    EXPECT_FALSE(OwnFolder::mayWriteInto(path("thumbs/b.jpg")));
    EXPECT_TRUE(QDir(thumbs).isEmpty());

    const QString other = dir.file("other");
    QDir().mkpath(other);
    ASSERT_TRUE(QFile::remove(path("items")));
    ASSERT_TRUE(QFile::link(other, path("items")));
    EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes of c", "c", "png")));
    EXPECT_FALSE(OwnFolder::mayWriteInto(path("items/c.webloc")));
    EXPECT_TRUE(QDir(other).isEmpty());
}

// The look at the folder and the write are one act: another folder put at the support folder's
// path right after the look (as a mount at that instant would) takes no index, note or copy,
// which go into the run's own folder.
TEST_F(StoreFiles, AFolderPutAtThePathRightAfterTheLookTakesNothing) {
    const QString support = dir.file("support");
    const QString own = dir.file("own");
    auto store = open();
    withCopy(*store, "a");
    store->flush();
    bool armed = false;
    OwnFolder::setAfterLook([&] {
        if (std::exchange(armed, false)) {
            ASSERT_TRUE(QDir().rename(support, own));
            ASSERT_TRUE(QDir().mkpath(support + "/items"));
        }
    });
    const auto unhook = qScopeGuard([] { OwnFolder::setAfterLook({}); });
    ShelfItem noted = makeItem("c", 1);
    noted.fileURL = store->copyURL("c", "png");
    const std::vector<std::pair<const char*, std::function<void()>>> writes{
        {"index",
         [&] {
             store->upsert(makeItem("b", 1));
             store->flush();
         }},
        {"note", [&] { store->noteCapture(noted); }},
        {"copy", [&] { store->copyIn("bytes of d", "d", "png"); }},
    };
    for (const auto& [what, write] : writes) {
        SCOPED_TRACE(what);
        clock += 2; // past the store's own pace of looks
        armed = true;
        write();
        ASSERT_FALSE(armed);
        EXPECT_EQ(QDir(support).entryList(QDir::Files | QDir::Hidden | QDir::System),
                  QStringList{});
        EXPECT_EQ(QDir(support + "/items").entryList(QDir::Files | QDir::Hidden), QStringList{});
        ASSERT_TRUE(QDir(support).removeRecursively());
        ASSERT_TRUE(QDir().rename(own, support));
    }
    EXPECT_TRUE(QFile::exists(support + "/items/d.png"));
    EXPECT_TRUE(read("captures.jsonl").contains("c.png"));
}

// A link to a folder of the user's put in place of the items folder right after the look takes
// no copy: the copy goes into the run's own items folder, where the index names it.
TEST_F(StoreFiles, ALinkPutAtTheItemsFolderRightAfterTheLookTakesNoCopy) {
    const QString items = dir.file("support/items");
    const QString users = dir.file("users");
    ASSERT_TRUE(QDir().mkpath(users));
    auto store = open();
    store->flush();
    bool armed = true;
    OwnFolder::setAfterLook([&] {
        if (std::exchange(armed, false)) {
            ASSERT_TRUE(QDir().rename(items, items + ".moved"));
            ASSERT_TRUE(QFile::link(users, items));
        }
    });
    const auto unhook = qScopeGuard([] { OwnFolder::setAfterLook({}); });
    const auto copied = store->copyIn("bytes of a", "a", "png");
    ASSERT_FALSE(armed);
    EXPECT_EQ(QDir(users).entryList(QDir::Files | QDir::Hidden), QStringList{});
    ASSERT_TRUE(std::holds_alternative<QUrl>(copied));
    EXPECT_EQ(dir.read("support/items.moved/a.png"), "bytes of a");
}
