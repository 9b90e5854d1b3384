// What the store may write and remove in its support folder, fact by fact.
#include "OstrelCore/Records/StoreRights.h"
#include "Platform/Sha256.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

using namespace ostrel;

namespace {

using File = StoreRights::File;
using May = StoreRights::May;

// Puts `bytes` at `path` as a new file, as any writer that replaces a file does.
void replace(const test::TempDir& dir, const QString& path, const QByteArray& bytes) {
    const QString fresh = dir.write("fresh", bytes);
    ASSERT_EQ(
        std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()), 0);
}

} // namespace

// An index that load could not read, set aside or keep the bytes of is never replaced, and so no
// file this run removes is ever to go. Its offsets still go to the folder read at load; once a
// folder that could not be used at load can be, they stay as they are too.
TEST(StoreRights, AnIndexKeptAtLoadIsNeverWrittenAndNothingThisRunRemovesGoes) {
    const test::TempDir dir;
    StoreRights rights;
    rights.loadFolder(dir.path(), std::nullopt, Date(0));
    rights.keepIndex();
    EXPECT_EQ(rights.mayWrite(File::index), May::never);
    EXPECT_FALSE(rights.mayMarkForRemoval());
    EXPECT_FALSE(rights.mayRemove());
    EXPECT_EQ(rights.mayWrite(File::offsets), May::now);

    StoreRights later;
    later.loadFolder(dir.path(), Error::posix(EACCES), Date(0));
    later.keepIndex();
    EXPECT_EQ(later.mayWrite(File::offsets), May::later);
    later.usableAgain(dir.path());
    EXPECT_EQ(later.mayWrite(File::offsets), May::never);
    EXPECT_EQ(later.mayWrite(File::index), May::never);
}

// Another folder at the path takes nothing of this run, said once, until the one read is back. A
// folder that load found none of is this run's from the first look that finds it usable.
TEST(StoreRights, AnotherFolderAtThePathTakesNothingUntilTheOneReadIsBack) {
    const test::TempDir dir;
    const QString root = dir.file("support");
    const QString index = root + "/index.json";
    QDir().mkpath(root);
    StoreRights rights;
    rights.loadFolder(root, std::nullopt, Date(0));
    ASSERT_TRUE(QDir().rename(root, dir.file("read")));
    QDir().mkpath(root);
    ASSERT_EQ(rights.look(root, index), OwnFolder::Look::otherFolder);
    EXPECT_TRUE(rights.leaveFolder());
    EXPECT_FALSE(rights.leaveFolder());
    EXPECT_FALSE(rights.mayPlace());
    EXPECT_FALSE(rights.mayTidy());
    EXPECT_FALSE(rights.mayRemove());
    EXPECT_EQ(rights.mayWrite(File::index), May::later);

    QDir(root).removeRecursively();
    ASSERT_TRUE(QDir().rename(dir.file("read"), root));
    ASSERT_EQ(rights.look(root, index), OwnFolder::Look::own);
    rights.usableAgain(root);
    EXPECT_TRUE(rights.mayRemove());
    EXPECT_EQ(rights.mayWrite(File::offsets), May::now);

    const QString absent = dir.file("absent");
    StoreRights none;
    none.loadFolder(absent, Error::posix(ENOTDIR), Date(0));
    QDir().mkpath(absent);
    none.usableAgain(absent);
    ASSERT_TRUE(QDir().rename(absent, dir.file("found")));
    QDir().mkpath(absent);
    EXPECT_EQ(none.look(absent, absent + "/index.json"), OwnFolder::Look::otherFolder);
}

// The index at its name is the one read, or the last one this run wrote; any other is never
// replaced, nor the offsets that go with it, and nothing is removed beside it. Said once.
TEST(StoreRights, AnIndexThisRunNeitherReadNorWroteIsLeftWithItsOffsets) {
    const test::TempDir dir;
    const QString index = dir.write("index.json", "read");
    StoreRights rights;
    rights.loadFolder(dir.path(), std::nullopt, Date(0));
    rights.takeIndex(index);
    ASSERT_EQ(rights.look(dir.path(), index), OwnFolder::Look::own);
    replace(dir, index, "written");
    rights.wroteIndex(*FileIdentity::at(index), Sha256::digest("written"));
    EXPECT_EQ(rights.look(dir.path(), index), OwnFolder::Look::own);

    replace(dir, index, "put back");
    ASSERT_EQ(rights.look(dir.path(), index), OwnFolder::Look::otherIndex);
    EXPECT_TRUE(rights.leaveIndex());
    EXPECT_FALSE(rights.leaveIndex());
    EXPECT_EQ(rights.mayWrite(File::index), May::never);
    EXPECT_EQ(rights.mayWrite(File::offsets), May::never);
    EXPECT_FALSE(rights.mayMarkForRemoval());
    EXPECT_FALSE(rights.mayRemove());
}

// While the index on disk lacks a change, or its write failed, "offsets.json" goes no further in
// any transcript than that index holds, and names none it does not know. A write during which a
// change came holds what it took, and the index is still behind.
TEST(StoreRights, OffsetsGoNoFurtherThanTheIndexOnDiskHolds) {
    StoreRights rights;
    rights.takeOffsets({{"/a", 10}});
    const QHash<QString, quint64> read{{"/a", 30}, {"/b", 5}};
    EXPECT_EQ(rights.offsetsToWrite(read), read);
    rights.changed();
    EXPECT_EQ(rights.offsetsToWrite(read), (QHash<QString, quint64>{{"/a", 10}}));

    const QHash<QString, quint64> ofWrite{{"/a", 20}, {"/b", 5}};
    EXPECT_TRUE(rights.indexWritten(ofWrite, true));
    EXPECT_EQ(rights.offsetsToWrite(read), ofWrite);
    EXPECT_FALSE(rights.indexWritten(ofWrite, false));
    EXPECT_EQ(rights.offsetsToWrite(read), read);
}

// A look is due a second after the last one, at once when asked, and whenever the clock went back.
TEST(StoreRights, TheFolderIsLookedAtASecondAfterTheLastLookOrAtOnce) {
    StoreRights rights;
    rights.loadFolder(QString(), std::nullopt, Date(100));
    EXPECT_FALSE(rights.lookDue(Date(100.5), false));
    EXPECT_TRUE(rights.lookDue(Date(100.5), true));
    EXPECT_FALSE(rights.lookDue(Date(101.25), false));
    EXPECT_TRUE(rights.lookDue(Date(101.5), false));
    EXPECT_TRUE(rights.lookDue(Date(50), false));
}
