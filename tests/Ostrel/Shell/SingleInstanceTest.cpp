#include "Ostrel/Shell/SingleInstance.h"
#include "support/TempDir.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <future>
#include <sys/stat.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

struct Instance : ::testing::Test {
    TempDir dir;
    QString folder = dir.file("runtime");
    Instance() {
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }

    // A later launch runs in a process of its own; a thread stands in for it here, so that
    // this one can answer while the other waits.
    SingleInstance::Role launchAnother() {
        auto later = std::async(std::launch::async, [&] { return SingleInstance(folder).claim(); });
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return later.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            15000));
        return later.get();
    }
};

TEST_F(Instance, LaterLaunchReachesTheFirstWhichReopens) {
    SingleInstance first(folder);
    int reopened = 0;
    first.onReopen = [&] { ++reopened; };
    ASSERT_EQ(first.claim(), SingleInstance::Role::first);
    EXPECT_TRUE(first.error().isEmpty());

    EXPECT_EQ(launchAnother(), SingleInstance::Role::second);
    EXPECT_TRUE(QTest::qWaitFor([&] { return reopened == 1; }, 3000));
    EXPECT_EQ(launchAnother(), SingleInstance::Role::second);
    EXPECT_TRUE(QTest::qWaitFor([&] { return reopened == 2; }, 3000));

    // The socket is the user's alone.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder + "/ostrel.socket").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(Instance, FirstAgainOnceTheRunningOneHasGone) {
    {
        SingleInstance first(folder);
        ASSERT_EQ(first.claim(), SingleInstance::Role::first);
    }
    // A socket left behind by a process that died does not stand in the way.
    QFile leftover(folder + "/ostrel.socket");
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    SingleInstance next(folder);
    EXPECT_EQ(next.claim(), SingleInstance::Role::first);
    EXPECT_TRUE(next.error().isEmpty());
}

// Others who may only read the folder still see the names, and may watch the socket come and go.
TEST_F(Instance, FolderOthersCanReadIsNotTrusted) {
    for (const mode_t mode : {0740, 0704}) {
        ::chmod(QFile::encodeName(folder).constData(), mode);
        SingleInstance first(folder);
        EXPECT_EQ(first.claim(), SingleInstance::Role::first);
        EXPECT_FALSE(first.error().isEmpty()) << mode;
        EXPECT_FALSE(QFile::exists(folder + "/ostrel.lock"));
    }
}

TEST(SingleInstanceDisplay, OneDisplayWhateverItsSpelling) {
    const QString key = SingleInstance::displayKey(":0");
    EXPECT_EQ(SingleInstance::displayKey(":0.0"), key);
    EXPECT_EQ(SingleInstance::displayKey("unix:0"), key);
    EXPECT_NE(SingleInstance::displayKey(":1"), key);
}

TEST_F(Instance, FolderOthersCanWriteIsNotTrusted) {
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    SingleInstance first(folder);
    EXPECT_EQ(first.claim(), SingleInstance::Role::first);
    EXPECT_FALSE(first.error().isEmpty());
    EXPECT_FALSE(QFile::exists(folder + "/ostrel.lock"));
    EXPECT_FALSE(QFile::exists(folder + "/ostrel.socket"));
}

} // namespace
