// The support folder: made private, left as the user made it, and used once it can be written.
#include "StoreFilesFixture.h"
#include "support/AsUser.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

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
    store->sweepOrphans();
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
// than once a second) and at the stop. Once it can be written the run goes on as any other, and
// what it held meanwhile (a hide) reaches the index; an index it could not read at load, or one
// that appeared meanwhile, stays as it was, with its offsets.
TEST_F(StoreFiles, AFolderThatCouldNotBeWrittenAtLoadIsUsedOnceItCanBe) {
    const QByteArray folder = QFile::encodeName(path(""));
    const auto hiddenOnDisk = [&] { return test::parseObject(read("index.json")).value("hidden"); };
    for (const bool byCopy : {true, false}) {
        SCOPED_TRACE(byCopy ? "found by a copy" : "found at the stop");
        {
            auto earlier = open();
            earlier->upsert(makeItem("a", 1));
            earlier->flush();
        }
        ::chmod(folder.constData(), 0500);
        const test::ModesApply modes;
        const test::LogCapture log;
        auto store = open();
        store->hide("a");
        queue->advance(2.1);
        ::chmod(folder.constData(), 0700);
        // Within a second of the last look, no other is taken.
        EXPECT_TRUE(std::holds_alternative<Error>(store->copyIn("bytes", "b", "png")));
        if (byCopy) {
            clock += 1;
            EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyIn("bytes", "b", "png")));
            queue->advance(2.1);
        } else {
            store->flush();
        }
        EXPECT_EQ(hiddenOnDisk(), QJsonArray{"a"});
        EXPECT_EQ(log.matching("can be written again").size(), 1);
        store->flush();
        QDir(path("")).removeRecursively();
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
