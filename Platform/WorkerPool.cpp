#include "Platform/WorkerPool.h"

#include "Platform/OpenSsl.h"

#include <exception>

#include <pthread.h>
#include <sched.h>

namespace ostrel {

WorkerPool::WorkerPool(int threads) : size_(threads >= 1 ? threads : cores()) {}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

int WorkerPool::cores() {
    // The affinity mask, not the machine: a process limited to some cores gets that many.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return count;
        }
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

void WorkerPool::post(std::function<void()> job) {
    std::vector<std::function<void()>> one;
    one.push_back(std::move(job));
    post(std::move(one));
}

void WorkerPool::post(std::vector<std::function<void()>> jobs) {
    if (jobs.empty()) {
        return;
    }
    const bool several = jobs.size() > 1;
    {
        const std::lock_guard lock(mutex_);
        for (std::function<void()>& job : jobs) {
            jobs_.push_back(std::move(job));
        }
        // Threads start with the first job: an engine that never ingests keeps none.
        if (threads_.empty()) {
            threads_.reserve(static_cast<size_t>(size_));
            for (int i = 0; i < size_; ++i) {
                threads_.emplace_back([this] { work(); });
            }
        }
    }
    if (several) {
        wake_.notify_all();
    } else {
        wake_.notify_one();
    }
}

void WorkerPool::work() {
    ::pthread_setname_np(::pthread_self(), "ostrel-worker");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                break; // ending, and nothing left to run
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
    // Hashing leaves per-thread state in OpenSSL; it must go before the thread does.
    OpenSsl::releaseThread();
}

void WorkerPool::forEach(int count, const std::function<void(int)>& job) {
    std::vector<std::future<void>> done;
    done.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        done.push_back(submit([&job, i] { job(i); }));
    }
    // Every job refers to `job`: all of them must have ended before a failure goes up.
    std::exception_ptr failure;
    for (std::future<void>& one : done) {
        try {
            one.get();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace ostrel
