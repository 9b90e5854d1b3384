#include "Platform/WorkerPool.h"
#include "Platform/Sha256.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace ostrel::test {
namespace {

TEST(WorkerPool, RunsEveryJobOnceOnItsThreadsAndHandsBackResults) {
    WorkerPool pool(3);
    EXPECT_EQ(pool.size(), 3);
    std::vector<std::atomic<int>> runs(200);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    pool.forEach(200, [&](int i) {
        runs[static_cast<size_t>(i)]++;
        const std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
    });
    for (const auto& count : runs) {
        EXPECT_EQ(count.load(), 1);
    }
    EXPECT_FALSE(threads.count(std::this_thread::get_id()));
    EXPECT_LE(threads.size(), 3u);

    auto answer = pool.submit([] { return 6 * 7; });
    EXPECT_EQ(answer.get(), 42);
    EXPECT_GE(WorkerPool::cores(), 1);
    EXPECT_EQ(WorkerPool(0).size(), WorkerPool::cores());
}

TEST(WorkerPool, AFailingJobReachesTheCallerOnlyAfterEveryJobEnded) {
    WorkerPool pool(4);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.forEach(64,
                              [&](int i) {
                                  std::this_thread::yield();
                                  finished++;
                                  if (i == 3) {
                                      throw std::runtime_error("bad");
                                  }
                              }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 64);
}

TEST(WorkerPool, EndingRunsWhatIsQueuedAndLeavesNoThreadBehind) {
    // Hashing leaves OpenSSL state on each thread: the sanitized run checks it is all released.
    std::atomic<int> done{0};
    {
        WorkerPool pool(2);
        for (int i = 0; i < 50; ++i) {
            pool.submit([&done] {
                Sha256 hasher;
                hasher.update(QByteArrayView("abc"));
                hasher.finish();
                done++;
            });
        }
    }
    EXPECT_EQ(done.load(), 50);
    // A pool that never got a job starts no thread.
    WorkerPool idle;
}

} // namespace
} // namespace ostrel::test
