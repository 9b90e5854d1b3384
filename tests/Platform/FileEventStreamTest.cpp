#include "Platform/FileEventStream.h"
#include "support/AsUser.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

using namespace ostrel;
using ostrel::test::TempDir;
using ostrel::test::waitUntil;

namespace {

QString real(const QString& path) {
    char* resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    const QString out = resolved ? QFile::decodeName(resolved) : path;
    std::free(resolved);
    return out;
}

void write(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Gathers what a stream delivers, batch by batch.
struct Sink {
    std::mutex lock;
    std::vector<std::pair<QStringList, QList<quint32>>> batches;

    FileEventStream::Handler handler() {
        return [this](const QStringList& paths, const QList<quint32>& flags) {
            std::lock_guard guard(lock);
            batches.emplace_back(paths, flags);
        };
    }
    bool saw(const QString& path) {
        std::lock_guard guard(lock);
        for (const auto& [paths, flags] : batches) {
            if (paths.contains(path)) {
                return true;
            }
        }
        return false;
    }
    std::optional<quint32> flagsOf(const QString& path) {
        std::lock_guard guard(lock);
        for (const auto& [paths, flags] : batches) {
            if (const qsizetype i = paths.indexOf(path); i >= 0) {
                return flags.at(i);
            }
        }
        return std::nullopt;
    }
    std::size_t count() {
        std::lock_guard guard(lock);
        return batches.size();
    }
    qsizetype reports(const QString& path) {
        std::lock_guard guard(lock);
        qsizetype n = 0;
        for (const auto& [paths, flags] : batches) {
            n += paths.count(path);
        }
        return n;
    }
};

FileEventStream::Options fast() {
    FileEventStream::Options options;
    options.latency = 0.05;
    return options;
}

} // namespace

TEST(FileEventStream, ReportsChangesBelowARootUnderItsRealPath) {
    TempDir tmp;
    QDir().mkpath(tmp.file("real/sub"));
    QDir().mkpath(tmp.file("outside"));
    QFile::link(tmp.file("real"), tmp.file("link"));
    QFile::link(tmp.file("outside"), tmp.file("real/sub/to-outside"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    FileEventStream stream({tmp.file("link")}, queue, sink.handler(), fast());
    ASSERT_TRUE(stream.start());

    const QString base = real(tmp.file("real"));
    write(tmp.file("real/sub/a.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/sub/a.png"); }));
    EXPECT_EQ(sink.flagsOf(base + "/sub/a.png"), 0u);

    // A link to a folder elsewhere is never followed.
    write(tmp.file("outside/b.png"));
    write(tmp.file("real/sub/c.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/sub/c.png"); }));
    EXPECT_FALSE(sink.saw(base + "/sub/to-outside/b.png"));
    EXPECT_FALSE(sink.saw(real(tmp.file("outside/b.png"))));
    stream.stop();
}

TEST(FileEventStream, ListsFoldersThatAppearOrMoveInsideTheRoot) {
    TempDir tmp;
    QDir().mkpath(tmp.file("root"));
    QDir().mkpath(tmp.file("elsewhere/deep"));
    write(tmp.file("elsewhere/deep/old.png"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    FileEventStream stream({tmp.file("root")}, queue, sink.handler(), fast());
    ASSERT_TRUE(stream.start());
    const QString base = real(tmp.file("root"));

    // Made and written into at once: whatever landed before the watch is found by the listing.
    write(tmp.file("root/a/b/c/new.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/a/b/c/new.png"); }));

    // Moved in from outside: its contents are reported under their new paths and watched.
    ASSERT_TRUE(QDir().rename(tmp.file("elsewhere"), tmp.file("root/moved")));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/moved/deep/old.png"); }));
    write(tmp.file("root/moved/deep/later.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/moved/deep/later.png"); }));

    // Renamed within the root: later changes carry the new name.
    ASSERT_TRUE(QDir().rename(tmp.file("root/moved"), tmp.file("root/renamed")));
    write(tmp.file("root/renamed/deep/after.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/renamed/deep/after.png"); }));
    EXPECT_FALSE(sink.saw(base + "/moved/deep/after.png"));

    // Moved out: nothing more is reported from it.
    ASSERT_TRUE(QDir().rename(tmp.file("root/renamed"), tmp.file("gone")));
    write(tmp.file("gone/deep/outside.png"));
    write(tmp.file("root/marker.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/marker.png"); }));
    EXPECT_FALSE(sink.saw(base + "/renamed/deep/outside.png"));
    stream.stop();
}

TEST(FileEventStream, WaitsForAMissingRootWithoutWatchingItsAncestorsDeeply) {
    TempDir tmp;
    QDir().mkpath(tmp.file("a/sibling"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    const QString root = tmp.file("a/b/root");
    FileEventStream stream({root}, queue, sink.handler(), fast());
    ASSERT_TRUE(stream.start());
    const QString base = real(tmp.file("a")) + "/b/root";
    // Only the chain of ancestors up to "/" is watched, one watch per folder.
    EXPECT_EQ(stream.watchCount(), real(tmp.file("a")).count(u'/') + 1);

    write(tmp.file("a/sibling/noise.png"));
    write(tmp.file("a/b/elsewhere.png"));
    write(root + "/session/scratchpad/first.png");
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/session/scratchpad/first.png"); }));
    EXPECT_TRUE(sink.saw(base));
    EXPECT_FALSE(sink.saw(real(tmp.file("a/sibling/noise.png"))));
    EXPECT_FALSE(sink.saw(real(tmp.file("a/b")) + "/elsewhere.png"));

    // Removed and made again: waited for, then watched once more.
    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(
        waitUntil([&] { return stream.watchCount() <= real(tmp.file("a")).count(u'/') + 2; }));
    write(root + "/again.png");
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/again.png"); }));

    // A folder replaced by a file is waited on until a folder stands there again.
    ASSERT_TRUE(QDir(root).removeRecursively());
    write(root, "not a folder");
    ostrel::test::pump(0.1);
    ASSERT_TRUE(QFile::remove(root));
    write(root + "/third.png");
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/third.png"); }));
    stream.stop();
}

TEST(FileEventStream, AFolderThatBecomesReadableIsWatchedAndListedOnce) {
    TempDir tmp;
    write(tmp.file("root/locked/old.png"));
    const QByteArray locked = QFile::encodeName(tmp.file("root/locked"));
    ::chmod(locked.constData(), 0);
    // The reader thread starts below, so it honours the mode even when the test runs as root.
    ostrel::test::ModesApply modes;
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    FileEventStream stream({tmp.file("root")}, queue, sink.handler(), fast());
    ASSERT_TRUE(stream.start());
    ASSERT_EQ(stream.watchCount(), 1);
    const QString base = real(tmp.file("root"));

    ::chmod(locked.constData(), 0700);
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/locked/old.png"); }));
    EXPECT_EQ(stream.watchCount(), 2);

    // Flipping ten times a second adds no second watch and lists it no second time.
    for (int i = 0; i < 10; ++i) {
        ::chmod(locked.constData(), i % 2 == 0 ? 0 : 0700);
        ostrel::test::pump(0.1);
    }
    ::chmod(locked.constData(), 0700);
    write(tmp.file("root/locked/new.png"));
    ASSERT_TRUE(waitUntil([&] { return sink.saw(base + "/locked/new.png"); }));
    EXPECT_EQ(stream.watchCount(), 2);
    EXPECT_EQ(sink.reports(base + "/locked/old.png"), 1);
    stream.stop();
}

TEST(FileEventStream, ShallowRootsWatchOnlyTheAcceptedFoldersOneLevelDeep) {
    TempDir tmp;
    QDir().mkpath(tmp.file("tmp/shots-1/nested"));
    QDir().mkpath(tmp.file("tmp/other"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    FileEventStream::Options options = fast();
    options.subfolders = [](const QString& name) { return name.startsWith("shots-"); };
    FileEventStream stream({tmp.file("tmp")}, queue, sink.handler(), options);
    ASSERT_TRUE(stream.start());
    const QString base = real(tmp.file("tmp"));
    EXPECT_EQ(stream.watchCount(), 2);

    write(tmp.file("tmp/churn.txt"));
    write(tmp.file("tmp/other/x.png"));
    write(tmp.file("tmp/shots-1/nested/deep.png"));
    write(tmp.file("tmp/shots-1/one.jpg"));
    write(tmp.file("tmp/shots-2/two.jpg"));
    ASSERT_TRUE(waitUntil([&] {
        return sink.saw(base + "/shots-1/one.jpg") && sink.saw(base + "/shots-2/two.jpg");
    }));
    EXPECT_FALSE(sink.saw(base + "/churn.txt"));
    EXPECT_FALSE(sink.saw(base + "/other/x.png"));
    EXPECT_FALSE(sink.saw(base + "/shots-1/nested/deep.png"));
    stream.stop();
}

TEST(FileEventStream, AnOverfullBatchBecomesARescanFlagOnTheRoot) {
    TempDir tmp;
    QDir().mkpath(tmp.file("root"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    FileEventStream::Options options;
    options.latency = 0.3;
    options.noDefer = false;
    options.batchLimit = 10;
    FileEventStream stream({tmp.file("root")}, queue, sink.handler(), options);
    ASSERT_TRUE(stream.start());
    for (int i = 0; i < 50; ++i) {
        write(tmp.file(QString("root/f%1.png").arg(i)));
    }
    const QString base = real(tmp.file("root"));
    ASSERT_TRUE(waitUntil([&] { return sink.flagsOf(base).has_value(); }));
    const quint32 flags = *sink.flagsOf(base);
    EXPECT_TRUE(flags & FileEventStream::mustScanSubDirs);
    EXPECT_TRUE(flags & FileEventStream::userDropped);
    stream.stop();
}

TEST(FileEventStream, AKernelQueueOverflowBecomesARescanFlagOnTheRoot) {
    QFile limitFile("/proc/sys/fs/inotify/max_queued_events");
    const int limit =
        limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt() : 0;
    if (limit <= 0 || limit > 200000) {
        GTEST_SKIP() << "kernel queue limit " << limit << " is not practical to overflow";
    }
    TempDir tmp;
    QDir().mkpath(tmp.file("root"));
    auto queue = SerialQueue::make("test.events");
    Sink sink;
    // Hold the reader back while more changes happen than the kernel will queue.
    std::atomic<bool> held{true};
    FileEventStream::Options options;
    options.beforeRead = [&held] {
        while (held.load()) {
            QThread::msleep(1);
        }
    };
    FileEventStream stream({tmp.file("root")}, queue, sink.handler(), options);
    ASSERT_TRUE(stream.start());
    // Each empty file made and closed is two events.
    for (int i = 0; i < limit / 2 + 1000; ++i) {
        QFile f(tmp.file(QString("root/f%1").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    held = false;
    const QString base = real(tmp.file("root"));
    ASSERT_TRUE(waitUntil([&] { return sink.flagsOf(base).has_value(); }, 10.0));
    const quint32 flags = *sink.flagsOf(base);
    EXPECT_TRUE(flags & FileEventStream::mustScanSubDirs);
    EXPECT_TRUE(flags & FileEventStream::kernelDropped);
    stream.stop();
}

TEST(FileEventStream, DeliversTheFirstEventAtOnceAndGathersLaterOnes) {
    TempDir tmp;
    QDir().mkpath(tmp.file("quick"));
    QDir().mkpath(tmp.file("slow"));
    auto queue = SerialQueue::make("test.events");

    // No-defer: the first event after a quiet period goes out well before the latency.
    Sink quick;
    FileEventStream::Options eager;
    eager.latency = 3.0;
    FileEventStream first({tmp.file("quick")}, queue, quick.handler(), eager);
    ASSERT_TRUE(first.start());
    write(tmp.file("quick/a.png"));
    EXPECT_TRUE(waitUntil([&] { return quick.count() > 0; }, 2.0));
    first.stop();

    // Deferred: changes within the latency of the first arrive as one batch.
    Sink slow;
    FileEventStream::Options deferred;
    deferred.latency = 0.6;
    deferred.noDefer = false;
    FileEventStream second({tmp.file("slow")}, queue, slow.handler(), deferred);
    ASSERT_TRUE(second.start());
    write(tmp.file("slow/a.png"));
    ostrel::test::pump(0.05);
    write(tmp.file("slow/b.png"));
    const QString base = real(tmp.file("slow"));
    ASSERT_TRUE(waitUntil([&] { return slow.saw(base + "/b.png"); }));
    std::lock_guard guard(slow.lock);
    ASSERT_EQ(slow.batches.size(), 1u);
    EXPECT_TRUE(slow.batches[0].first.contains(base + "/a.png"));
    second.stop();
}

TEST(FileEventStream, ABatchQueuedBeforeStopNeverReachesTheHandler) {
    TempDir tmp;
    QDir().mkpath(tmp.file("root"));
    auto queue = SerialQueue::make("test.events");
    std::atomic<bool> release{false};
    queue->async([&] {
        while (!release.load()) {
            QThread::msleep(1);
        }
    });
    std::atomic<int> calls{0};
    FileEventStream stream(
        {tmp.file("root")}, queue, [&](const QStringList&, const QList<quint32>&) { ++calls; },
        fast());
    ASSERT_TRUE(stream.start());
    write(tmp.file("root/a.png"));
    ostrel::test::pump(0.3); // the batch is now queued behind the blocking job
    stream.stop();
    release = true;
    queue->sync([] {});
    EXPECT_EQ(calls.load(), 0);

    stream.stop();
    EXPECT_FALSE(stream.start());
    FileEventStream never({tmp.file("root")}, queue, nullptr);
    never.stop();
    EXPECT_FALSE(never.start());
}
