#include "Ostrel/Shell/SupportFolderLock.h"
#include "support/TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(SupportFolderLock, OneHolderAtATimeNamedByItsDisplayAndNoChildKeepsIt) {
    TempDir dir;
    const QString folder = dir.file("data/Ostrel");
    auto first = std::make_unique<SupportFolderLock>(folder);
    ASSERT_EQ(first->claim(":7"), SupportFolderLock::Claim::held);

    // A program started meanwhile (a viewer, the updater's script) does not inherit the lock.
    QProcess child;
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());

    SupportFolderLock second(folder);
    EXPECT_EQ(second.claim(":9"), SupportFolderLock::Claim::taken);
    EXPECT_EQ(second.holder(), ":7");

    first.reset();
    SupportFolderLock third(folder);
    EXPECT_EQ(third.claim(":9"), SupportFolderLock::Claim::held);
    child.kill();
    child.waitForFinished();
}
