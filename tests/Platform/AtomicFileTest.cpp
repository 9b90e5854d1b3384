#include "Platform/AtomicFile.h"
#include "Platform/Date.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace ostrel;

TEST(AtomicFile, ReplacesWholeAndKeepsTheOldFileOnFailure) {
    test::TempDir dir;
    const QString path = dir.file("a.json");
    ASSERT_FALSE(AtomicFile::write(path, "first"));
    ASSERT_FALSE(AtomicFile::write(path, "second, longer"));
    EXPECT_EQ(dir.read("a.json"), "second, longer");
    struct stat st {};
    ::stat(path.toUtf8().constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1);

    const auto error = AtomicFile::write(dir.file("missing/a.json"), "x");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->domain.isEmpty());
    EXPECT_NE(error->code, 0);
}

// A file just written is known as its name shows it once closed (a network file system dates it
// anew then), while the name leads to that very file: not to another put there meanwhile, even
// of the same size.
TEST(AtomicFile, AFileJustWrittenIsKnownAsItsNameShowsItWhileItIsThatFile) {
    test::TempDir dir;
    const QString path = dir.file("index.json");
    std::optional<FileIdentity> placed;
    ASSERT_FALSE(AtomicFile::write(path, "ours", 0600, AtomicFile::Links::setAside, &placed));
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed, FileIdentity::at(path));
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    EXPECT_EQ(AtomicFile::asClosed(path, *placed), FileIdentity::at(path));
    ASSERT_EQ(::rename(QFile::encodeName(dir.write("other", "them")).constData(),
                       QFile::encodeName(path).constData()),
              0);
    EXPECT_EQ(AtomicFile::asClosed(path, *placed), *placed);
}

TEST(AtomicFile, AWriteThatFailsPartWayLeavesNoTemporaryFile) {
    // The file size limit fails a write part way, as a full disk does.
    test::TempDir dir;
    const QByteArray big(16384, 'x');
    std::optional<Error> replaced, unsynced;
    {
        const test::FileSizeLimit limit(4096);
        replaced = AtomicFile::write(dir.file("a.json"), big);
        unsynced = AtomicFile::writeUnsynced(dir.file("b.json"), big);
    }
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->code, EFBIG);
    EXPECT_TRUE(unsynced);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

TEST(AtomicFile, AStagedFileIsPlacedWholeOverAnyOldOneAndLeavesNothingWhenDropped) {
    test::TempDir dir;
    const auto files = [&] {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    };
    {
        auto staged = AtomicFile::stage(dir.path(), "new", 0644);
        ASSERT_TRUE(std::holds_alternative<AtomicFile::Staged>(staged));
        ASSERT_TRUE(std::get<AtomicFile::Staged>(staged).place(dir.file("a")));
        EXPECT_TRUE(std::get<AtomicFile::Staged>(staged).isEmpty());
    }
    EXPECT_EQ(dir.read("a"), "new");
    struct stat st {};
    ::stat(dir.file("a").toUtf8().constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    {
        auto staged = AtomicFile::stage(dir.path(), "replaced");
        ASSERT_TRUE(std::get<AtomicFile::Staged>(staged).place(dir.file("a")));
        auto dropped = AtomicFile::stage(dir.path(), "never placed");
        ASSERT_TRUE(std::holds_alternative<AtomicFile::Staged>(dropped));
    }
    EXPECT_EQ(dir.read("a"), "replaced");
    EXPECT_EQ(files(), QStringList{"a"});
    // No folder to take it: nothing placed, and the staged file still goes when dropped.
    {
        auto staged = AtomicFile::stage(dir.path(), "x");
        EXPECT_FALSE(std::get<AtomicFile::Staged>(staged).place(dir.file("b/c")));
        EXPECT_FALSE(std::get<AtomicFile::Staged>(staged).isEmpty());
    }
    EXPECT_EQ(files(), QStringList{"a"});
    EXPECT_TRUE(std::holds_alternative<Error>(AtomicFile::stage(dir.file("missing"), "x")));
}

TEST(AtomicFile, MakeFolderCreatesPrivateFoldersOnly) {
    test::TempDir dir;
    ASSERT_TRUE(AtomicFile::makeFolder(dir.file("a/b/c"), 0700));
    for (const char* f : {"a", "a/b", "a/b/c"}) {
        struct stat st {};
        ::stat(dir.file(f).toUtf8().constData(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << f;
    }
    dir.write("file", "x");
    EXPECT_FALSE(AtomicFile::makeFolder(dir.file("file"), 0700));
    EXPECT_FALSE(AtomicFile::makeFolder(dir.file("file/sub"), 0700));
}

// Every write of ours replaces the name itself: a link there, or a second name of another file,
// is set aside beside it and what it leads to stays; so is a file where a folder of ours goes. A
// user's settings behind a link are the one place a write follows it.
TEST(AtomicFile, NothingIsWrittenThroughALinkOrASecondName) {
    test::TempDir dir;
    QDir().mkpath(dir.file("ours"));
    const QString theirs = dir.write("theirs", "theirs");
    const auto aside = [&](const QString& name) {
        return QDir(dir.file("ours"))
            .entryList({name + ".unusable-*"}, QDir::AllEntries | QDir::System);
    };
    QFile::link(theirs, dir.file("ours/link"));
    ASSERT_FALSE(AtomicFile::write(dir.file("ours/link"), "ours"));
    ASSERT_EQ(::link(QFile::encodeName(theirs).constData(),
                     QFile::encodeName(dir.file("ours/second")).constData()),
              0);
    auto staged = AtomicFile::stage(dir.file("ours"), "ours");
    ASSERT_TRUE(std::get<AtomicFile::Staged>(staged).place(dir.file("ours/second")));
    QDir().mkpath(dir.file("their folder"));
    QFile::link(dir.file("their folder"), dir.file("ours/folder"));
    ASSERT_TRUE(AtomicFile::makeOwnFolder(dir.file("ours/folder")));
    EXPECT_FALSE(QFileInfo(dir.file("ours/folder")).isSymLink());
    // A plain file where a folder of ours goes would fail every write into it for good.
    dir.write("ours/items", "a file");
    ASSERT_TRUE(AtomicFile::makeOwnFolder(dir.file("ours/items")));
    for (const char* name : {"link", "second", "folder", "items"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(aside(name).size(), 1);
    }
    EXPECT_EQ(dir.read("ours/link"), "ours");
    EXPECT_EQ(dir.read("ours/second"), "ours");
    EXPECT_EQ(dir.read("theirs"), "theirs");

    QFile::link(theirs, dir.file("ours/settings"));
    ASSERT_FALSE(
        AtomicFile::write(dir.file("ours/settings"), "settings", 0600, AtomicFile::Links::follow));
    EXPECT_TRUE(QFileInfo(dir.file("ours/settings")).isSymLink());
    EXPECT_EQ(dir.read("theirs"), "settings");
}

TEST(Date, FileTimesKeepTheirNanoseconds) {
    const timespec ts{978307200 + 5, 123456789};
    EXPECT_NEAR(Date::fromTimespec(ts).seconds, 5.123456789, 1e-12);
    const timespec before{978307200 - 1, 999999999};
    EXPECT_NEAR(Date::fromTimespec(before).seconds, -1e-9, 1e-15);
    // Two reads of one file time give the very same date.
    EXPECT_EQ(Date::fromTimespec(ts), Date::fromTimespec(timespec{ts.tv_sec, ts.tv_nsec}));
    EXPECT_EQ(Date(0).toDateTime().toString(Qt::ISODateWithMs), "2001-01-01T00:00:00.000Z");
    EXPECT_LT(std::abs(Date::now().toUnix() - QDateTime::currentMSecsSinceEpoch() / 1000.0), 5);
}
