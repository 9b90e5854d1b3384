#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace ostrel {

// A serial queue: jobs run one at a time, in the order they were queued, on the queue's thread.
// The engine, its store and every delayed job of theirs run on one such queue.
class SerialQueue {
public:
    using Job = std::function<void()>;

    // Cancels a delayed or repeating job; cancelling after it ran does nothing.
    class Handle {
    public:
        Handle() = default;
        explicit Handle(std::shared_ptr<std::atomic<bool>> cancelled)
            : cancelled_(std::move(cancelled)) {}
        void cancel() const {
            if (cancelled_) {
                cancelled_->store(true);
            }
        }
        bool isCancelled() const { return cancelled_ && cancelled_->load(); }
        bool isValid() const { return cancelled_ != nullptr; }

    private:
        std::shared_ptr<std::atomic<bool>> cancelled_;
    };

    virtual ~SerialQueue() = default;

    virtual QString label() const = 0;
    virtual void async(Job job) = 0;
    // Runs the job `seconds` from now (a monotonic deadline).
    virtual Handle after(double seconds, Job job) = 0;
    // Runs the job every `interval` seconds until the handle is cancelled.
    virtual Handle every(double interval, Job job) = 0;
    // Runs the job and waits for it. Never call it from the queue itself.
    virtual void sync(Job job) = 0;
    virtual bool isCurrent() const = 0;

    // A queue on a thread of its own, named after the label.
    static std::shared_ptr<SerialQueue> make(const QString& label);
};

} // namespace ostrel
