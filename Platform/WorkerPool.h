#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace ostrel {

// A fixed set of worker threads for work that shares nothing: decoding, hashing, thumbnails,
// syncing files. Jobs start in the order they were submitted, on whichever thread is free.
// The threads start with the first job and end in the destructor, which first runs every job
// still queued; no thread outlives its pool, and each releases its OpenSSL state as its last act.
class WorkerPool {
public:
    // `threads` below 1 means the number of cores.
    explicit WorkerPool(int threads = 0);
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return size_; }
    // The number of cores the process may use, at least 1.
    static int cores();

    // Queues `job`; its result (or exception) comes through the future. Never call get() on a
    // future of this pool from one of its own jobs: with every thread waiting, nothing runs.
    template <typename Job> auto submit(Job job) -> std::future<std::invoke_result_t<Job>> {
        using Result = std::invoke_result_t<Job>;
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(job));
        std::future<Result> result = task->get_future();
        post([task] { (*task)(); });
        return result;
    }

    // The same for several jobs at once, queued together: the workers are woken once, not once a
    // job (each wake-up costs the caller a system call).
    template <typename Job>
    auto submitAll(std::vector<Job> jobs) -> std::vector<std::future<std::invoke_result_t<Job>>> {
        using Result = std::invoke_result_t<Job>;
        std::vector<std::future<Result>> results;
        std::vector<std::function<void()>> posted;
        results.reserve(jobs.size());
        posted.reserve(jobs.size());
        for (Job& job : jobs) {
            auto task = std::make_shared<std::packaged_task<Result()>>(std::move(job));
            results.push_back(task->get_future());
            posted.emplace_back([task] { (*task)(); });
        }
        post(std::move(posted));
        return results;
    }

    // Runs `job(i)` for every i in [0, count) on the pool and waits for all of them.
    void forEach(int count, const std::function<void(int)>& job);

private:
    void post(std::function<void()> job);
    void post(std::vector<std::function<void()>> jobs);
    void work();

    const int size_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

} // namespace ostrel
