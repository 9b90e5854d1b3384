#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

namespace ostrel {

// Bytes that the threads sharing it may hold at once, handed out first come, first served. A
// request for more than the whole is granted once nothing else is held: it waits, but is never
// refused. A thread must not wait for a second hold while it keeps one.
class MemoryBudget {
public:
    // What one acquire() was granted; given back when it is destroyed.
    class Hold {
    public:
        Hold() = default;
        ~Hold() { release(); }
        Hold(Hold&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
            other.budget_ = nullptr;
        }
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        qint64 bytes() const { return budget_ != nullptr ? bytes_ : 0; }
        void release();

    private:
        friend class MemoryBudget;
        Hold(MemoryBudget* budget, qint64 bytes) : budget_(budget), bytes_(bytes) {}
        MemoryBudget* budget_ = nullptr;
        qint64 bytes_ = 0;
    };

    explicit MemoryBudget(qint64 limit) : limit_(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    qint64 limit() const { return limit_; }
    // Waits until the bytes fit (or nothing else is held), then holds them.
    Hold acquire(qint64 bytes);
    qint64 held() const;
    // The most ever held at once.
    qint64 peak() const;

private:
    void giveBack(qint64 bytes);

    const qint64 limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    qint64 held_ = 0;
    qint64 peak_ = 0;
    // Tickets in arrival order: only the oldest waiting request may be granted.
    quint64 nextTicket_ = 0;
    quint64 serving_ = 0;
};

} // namespace ostrel
