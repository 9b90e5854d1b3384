#include "OstrelCore/Engine/DirectoryWatcher.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace ostrel;
using ostrel::test::TempDir;
using ostrel::test::waitUntil;

TEST(DirectoryWatcher, MustRescanLooksAtTheLowestThreeBitsOnly) {
    for (quint32 flags : {1u, 2u, 4u, 5u, 7u, 0x10001u}) {
        EXPECT_TRUE(DirectoryWatcher::mustRescan(flags)) << flags;
    }
    for (quint32 flags : {0u, 8u, 0x100u, 0x10000u}) {
        EXPECT_FALSE(DirectoryWatcher::mustRescan(flags)) << flags;
    }
}

TEST(DirectoryWatcher, DeliversOnItsQueueUntilStoppedAndIsNotRevived) {
    TempDir tmp;
    QDir().mkpath(tmp.file("root"));
    auto queue = SerialQueue::make("test.watcher");
    std::mutex lock;
    QStringList seen;
    std::atomic<bool> onQueue{true};
    DirectoryWatcher watcher({tmp.file("root")}, 0.02, true, queue,
                             [&](const QStringList& paths, const QList<quint32>& flags) {
                                 onQueue = onQueue && queue->isCurrent();
                                 EXPECT_EQ(paths.size(), flags.size());
                                 std::lock_guard guard(lock);
                                 seen += paths;
                             });
    watcher.start();
    watcher.start();
    EXPECT_TRUE(watcher.isRunning());
    tmp.write("root/a.png", "a");
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(lock);
        return !seen.isEmpty();
    }));
    EXPECT_TRUE(onQueue);

    watcher.stop();
    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    const qsizetype before = [&] {
        std::lock_guard guard(lock);
        return seen.size();
    }();
    // Started again after stop: a stream runs, but its batches find no handler.
    watcher.start();
    tmp.write("root/b.png", "b");
    ostrel::test::pump(0.2);
    queue->sync([] {});
    std::lock_guard guard(lock);
    EXPECT_EQ(seen.size(), before);
}

TEST(DirectoryWatcher, WithoutAQueueItMakesItsOwn) {
    DirectoryWatcher watcher({"/nonexistent-root-for-test"});
    EXPECT_EQ(watcher.queue()->label(), "app.ostrel.fsevents");
    EXPECT_EQ(watcher.latency(), 0.25);
    EXPECT_TRUE(watcher.noDefer());
}
