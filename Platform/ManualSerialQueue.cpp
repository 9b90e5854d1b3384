#include "Platform/ManualSerialQueue.h"

#include <optional>

namespace ostrel {

void ManualSerialQueue::async(Job job) {
    timed_.emplace(std::make_pair(now_, sequence_++), Timed{now_, std::move(job), nullptr, 0});
}

SerialQueue::Handle ManualSerialQueue::after(double seconds, Job job) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    const double deadline = now_ + std::max(0.0, seconds);
    timed_.emplace(std::make_pair(deadline, sequence_++), Timed{deadline, std::move(job), flag, 0});
    return Handle(flag);
}

SerialQueue::Handle ManualSerialQueue::every(double interval, Job job) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    const double deadline = now_ + interval;
    timed_.emplace(std::make_pair(deadline, sequence_++),
                   Timed{deadline, std::move(job), flag, interval});
    return Handle(flag);
}

void ManualSerialQueue::sync(Job job) {
    const bool was = running_;
    running_ = true;
    job();
    running_ = was;
}

int ManualSerialQueue::runUntilIdle() {
    int ran = 0;
    while (!timed_.empty() && timed_.begin()->first.first <= now_) {
        auto node = timed_.extract(timed_.begin());
        Timed& timed = node.mapped();
        if (timed.cancelled && timed.cancelled->load()) {
            continue;
        }
        if (timed.repeat > 0) {
            const double next = timed.deadline + timed.repeat;
            timed_.emplace(std::make_pair(next, sequence_++),
                           Timed{next, timed.job, timed.cancelled, timed.repeat});
        }
        const bool was = running_;
        running_ = true;
        timed.job();
        running_ = was;
        ++ran;
    }
    return ran;
}

int ManualSerialQueue::advance(double seconds) {
    const double target = now_ + seconds;
    int ran = runUntilIdle();
    while (!timed_.empty() && timed_.begin()->first.first <= target) {
        now_ = std::max(now_, timed_.begin()->first.first);
        ran += runUntilIdle();
    }
    now_ = target;
    ran += runUntilIdle();
    return ran;
}

std::optional<double> ManualSerialQueue::nextDeadline() const {
    for (const auto& [key, timed] : timed_) {
        if (!timed.cancelled || !timed.cancelled->load()) {
            return key.first;
        }
    }
    return std::nullopt;
}

} // namespace ostrel
