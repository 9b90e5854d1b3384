#include "Platform/SerialQueue.h"
#include "Platform/ManualSerialQueue.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using namespace ostrel;

TEST(SerialQueue, RunsJobsInOrderOnItsOwnNamedThread) {
    auto queue = SerialQueue::make("app.ostrel.engine");
    std::vector<int> order;
    std::mutex lock;
    QString threadName;
    for (int i = 0; i < 100; ++i) {
        queue->async([&, i] {
            std::lock_guard guard(lock);
            order.push_back(i);
            threadName = QThread::currentThread()->objectName();
        });
    }
    bool onQueue = false;
    queue->sync([&] { onQueue = queue->isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue->isCurrent());
    std::lock_guard guard(lock);
    ASSERT_EQ(order.size(), 100u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(threadName, "p.ostrel.engine");
}

TEST(SerialQueue, DelayedJobsRunAfterTheirDelayUnlessCancelled) {
    auto queue = SerialQueue::make("test.delays");
    std::atomic<int> ran{0};
    std::atomic<int> cancelledRan{0};
    QElapsedTimer timer;
    timer.start();
    std::atomic<qint64> ranAfter{0};
    queue->after(0.05, [&] {
        ranAfter = timer.elapsed();
        ++ran;
    });
    const auto handle = queue->after(0.02, [&] { ++cancelledRan; });
    handle.cancel();
    std::atomic<int> ticks{0};
    const auto repeating = queue->every(0.01, [&] { ++ticks; });
    EXPECT_TRUE(test::waitUntil([&] { return ran == 1 && ticks >= 3; }));
    repeating.cancel();
    EXPECT_GE(ranAfter, 49);
    EXPECT_EQ(cancelledRan, 0);
    const int ticksAtCancel = ticks;
    test::pump(0.05);
    EXPECT_LE(ticks, ticksAtCancel + 1);
}

TEST(SerialQueue, DestroyingDropsPendingWork) {
    std::atomic<int> ran{0};
    {
        auto queue = SerialQueue::make("test.drop");
        queue->after(10, [&] { ++ran; });
        queue->every(10, [&] { ++ran; });
    }
    EXPECT_EQ(ran, 0);
}

TEST(ManualSerialQueue, RunsDelayedJobsAtTheirDeadlinesInOrder) {
    ManualSerialQueue queue;
    std::vector<std::pair<double, int>> log;
    queue.after(2, [&] { log.emplace_back(queue.now(), 2); });
    queue.after(1, [&] {
        log.emplace_back(queue.now(), 1);
        queue.after(0.5, [&] { log.emplace_back(queue.now(), 3); });
    });
    queue.async([&] { log.emplace_back(queue.now(), 0); });
    queue.advance(5);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], std::make_pair(0.0, 0));
    EXPECT_EQ(log[1], std::make_pair(1.0, 1));
    EXPECT_EQ(log[2], std::make_pair(1.5, 3));
    EXPECT_EQ(log[3], std::make_pair(2.0, 2));
    EXPECT_EQ(queue.now(), 5.0);
}
