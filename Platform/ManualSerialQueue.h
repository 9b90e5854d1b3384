#pragma once

#include "Platform/SerialQueue.h"

#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace ostrel {

// A serial queue driven by hand, with a virtual clock: jobs run only inside `runUntilIdle()` and
// `advance()`, on the calling thread. Lets tests check delays exactly without sleeping.
class ManualSerialQueue final : public SerialQueue {
public:
    explicit ManualSerialQueue(QString label = QStringLiteral("manual"))
        : label_(std::move(label)) {}

    QString label() const override { return label_; }
    void async(Job job) override;
    Handle after(double seconds, Job job) override;
    Handle every(double interval, Job job) override;
    void sync(Job job) override;
    bool isCurrent() const override { return running_; }

    // Virtual seconds since the queue was made.
    double now() const { return now_; }
    // Runs every job that is due now, including the ones they queue, and returns how many ran.
    int runUntilIdle();
    // Moves the clock forward in steps, running each delayed job at its own deadline.
    int advance(double seconds);
    // Deadline of the next delayed job, if any.
    std::optional<double> nextDeadline() const;

private:
    struct Timed {
        double deadline;
        Job job;
        std::shared_ptr<std::atomic<bool>> cancelled;
        double repeat = 0; // seconds; 0 for a single shot
    };

    QString label_;
    double now_ = 0;
    bool running_ = false;
    unsigned long long sequence_ = 0;
    std::multimap<std::pair<double, unsigned long long>, Timed> timed_;
};

} // namespace ostrel
