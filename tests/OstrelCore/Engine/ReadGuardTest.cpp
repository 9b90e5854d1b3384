#include "OstrelCore/Engine/ReadGuard.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "support/RunOnADrive.h"
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
    const test::RunOnADrive run;
    if (!run.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    ReadGuard guard(run.support());

    ASSERT_TRUE(run.mount());
    const QByteArray crash = 'X' + QByteArray(64, 'c') + "\nthe drive's\n";
    ASSERT_TRUE(run.write("read-marks/0", crash) && run.write("read-marks/1", crash));
    { const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png")); }
    const ReadGuard meanwhile(run.support());
    EXPECT_EQ(run.read("read-marks/0"), crash);
    EXPECT_EQ(run.read("read-marks/1"), crash);
    EXPECT_FALSE(QFile::exists(run.support() + "/set-aside.json"));

    ASSERT_TRUE(run.unmount());
    { const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png")); }
    EXPECT_TRUE(run.read("read-marks/0").startsWith('R'));
}

// The look and the write are one act: a link to a folder of the user's put in place of the marks'
// folder right after the look takes no mark, which goes into the run's own folder.
TEST(ReadGuard, ALinkPutAtTheMarksFolderRightAfterTheLookTakesNoMark) {
    test::TempDir dir;
    const QString support = dir.file("support");
    const QString marks = support + "/read-marks";
    QDir().mkpath(support);
    QDir().mkpath(dir.file("user"));
    OwnFolder::startRun(support);
    ReadGuard guard(support);
    bool armed = true;
    OwnFolder::setAfterLook([&] {
        if (std::exchange(armed, false)) {
            ASSERT_TRUE(QDir().rename(marks, marks + ".moved"));
            ASSERT_TRUE(QFile::link(dir.file("user"), marks));
        }
    });
    const auto endRun = qScopeGuard([] {
        OwnFolder::setAfterLook({});
        OwnFolder::endRun();
    });
    { const ReadGuard::Mark mark(&guard, QString(64, u'a'), QStringLiteral("plot.png")); }
    ASSERT_FALSE(armed);
    EXPECT_EQ(QDir(dir.file("user")).entryList(QDir::Files), QStringList{});
    EXPECT_EQ(QDir(marks + ".moved").entryList(QDir::Files), QStringList{"0"});
}
