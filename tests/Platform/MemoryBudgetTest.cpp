#include "Platform/MemoryBudget.h"
#include "Platform/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ostrel::test {
namespace {

TEST(MemoryBudget, ThreadsNeverHoldMoreThanTheBudgetAndAnOversizedRequestWaitsItsTurn) {
    MemoryBudget budget(100);
    std::atomic<qint64> inUse{0};
    std::atomic<qint64> most{0};
    WorkerPool pool(6);
    pool.forEach(300, [&](int i) {
        // One request in fifty wants more than the whole budget.
        const qint64 bytes = i % 50 == 7 ? 250 : 10 + (i * 13) % 50;
        const MemoryBudget::Hold hold = budget.acquire(bytes);
        const qint64 now = inUse += bytes;
        qint64 seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        if (bytes > budget.limit()) {
            EXPECT_EQ(now, bytes); // alone
        }
        std::this_thread::yield();
        inUse -= bytes;
    });
    EXPECT_EQ(budget.held(), 0);
    EXPECT_EQ(most.load(), 250);
    EXPECT_LE(budget.peak(), 250);
    // Without the oversized ones, never beyond the limit.
    MemoryBudget tight(100);
    pool.forEach(300, [&](int i) {
        const MemoryBudget::Hold hold = tight.acquire(10 + (i * 13) % 50);
        std::this_thread::yield();
    });
    EXPECT_LE(tight.peak(), 100);
}

} // namespace
} // namespace ostrel::test
