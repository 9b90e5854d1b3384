#include "OstrelCore/Engine/ReadGuard.h"
#include "support/TempDir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>

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
