#include "OstrelCore/Engine/ReadGuard.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

using namespace ostrel;

// An engine started again in one process makes a new guard while the old one's reads go on: the
// new guard leaves their marks where they are, so that a crash in one of them is still marked in
// a file the next start reads.
TEST(ReadGuard, ANewGuardLeavesTheMarksOfReadsUnderWay) {
    test::TempDir dir;
    ReadGuard old(dir.path());
    QStringList during;
    std::unique_ptr<ReadGuard> replacing;
    old.duringRead = [&](const QString&) {
        during = QDir(dir.path() + QStringLiteral("/read-marks")).entryList(QDir::Files);
        replacing = std::make_unique<ReadGuard>(dir.path());
    };
    { const ReadGuard::Mark mark(&old, QString(64, u'a'), QStringLiteral("plot.png")); }
    ASSERT_EQ(during.size(), 1);
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/read-marks")).entryList(QDir::Files), during);
}

// The marks are never written through a link to another folder, nor into a second name of a
// user's file: either is set aside, and the files it leads to stay as they were.
TEST(ReadGuard, MarksAreNeverWrittenThroughALink) {
    test::TempDir dir;
    QDir().mkpath(dir.file("support"));
    const QByteArray notes = "the user's notes";
    for (int slot = 0; slot < ReadGuard::slotCount; ++slot) {
        dir.write("user/" + QString::number(slot), notes);
    }
    ASSERT_TRUE(QFile::link(dir.file("user"), dir.file("support/read-marks")));
    {
        ReadGuard guard(dir.file("support"));
        const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png"));
    }
    // A second name of a user's file in place of the first mark's own.
    QFile::remove(dir.file("support/read-marks/0"));
    ASSERT_EQ(::link(QFile::encodeName(dir.file("user/0")).constData(),
                     QFile::encodeName(dir.file("support/read-marks/0")).constData()),
              0);
    {
        ReadGuard guard(dir.file("support"));
        const ReadGuard::Mark mark(&guard, QString(64, u'b'), QStringLiteral("plot.png"));
    }
    for (int slot = 0; slot < ReadGuard::slotCount; ++slot) {
        EXPECT_EQ(dir.read("user/" + QString::number(slot)), notes) << slot;
    }
    EXPECT_FALSE(QFileInfo(dir.file("support/read-marks")).isSymLink());
    EXPECT_EQ(QDir(dir.file("support"))
                  .entryList({"read-marks.unusable-*"}, QDir::AllEntries | QDir::System)
                  .size(),
              1);
}

// A file system mounted over the run's support folder holds another run's marks: a read marks
// nothing there, and a guard made meanwhile neither takes in its crash marks nor writes beside
// them. Once the mount goes, reads are marked in the run's own folder again.
TEST(ReadGuard, NothingIsMarkedInAFolderMountedOverTheRunsOwn) {
    const test::MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    test::TempDir dir;
    QDir().mkpath(dir.file("drive/Ostrel"));
    const QString support = space.inside(dir.file("drive/Ostrel"));
    OwnFolder::startRun(support);
    const auto endRun = qScopeGuard([] { OwnFolder::endRun(); });
    ReadGuard guard(support);

    ASSERT_TRUE(space.mountTmpfs(dir.file("drive"), "size=1m"));
    const QByteArray crash = 'X' + QByteArray(64, 'c') + "\nthe drive's\n";
    QDir().mkpath(support + "/read-marks");
    for (const QString slot : {"0", "1"}) {
        QFile file(support + "/read-marks/" + slot);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(crash);
    }
    { const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png")); }
    const ReadGuard meanwhile(support);
    for (const QString slot : {"0", "1"}) {
        QFile file(support + "/read-marks/" + slot);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), crash) << slot.toStdString();
    }
    EXPECT_FALSE(QFile::exists(support + "/set-aside.json"));

    ASSERT_TRUE(space.unmount(dir.file("drive")));
    { const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png")); }
    QFile mark(support + "/read-marks/0");
    ASSERT_TRUE(mark.open(QIODevice::ReadOnly));
    EXPECT_TRUE(mark.readAll().startsWith('R'));
}
