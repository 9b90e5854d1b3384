#include "Platform/MemoryBudget.h"

#include "Platform/Saturating.h"

#include <algorithm>

namespace ostrel {

MemoryBudget::Hold& MemoryBudget::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        release();
        budget_ = other.budget_;
        bytes_ = other.bytes_;
        other.budget_ = nullptr;
    }
    return *this;
}

void MemoryBudget::Hold::release() {
    if (budget_ != nullptr) {
        budget_->giveBack(bytes_);
        budget_ = nullptr;
    }
}

MemoryBudget::Hold MemoryBudget::acquire(qint64 bytes) {
    bytes = std::max<qint64>(bytes, 0);
    std::unique_lock lock(mutex_);
    const quint64 ticket = nextTicket_++;
    changed_.wait(lock, [&] {
        return ticket == serving_ && (held_ == 0 || Saturating::add(held_, bytes) <= limit_);
    });
    held_ += bytes; // alone, or within the limit
    peak_ = std::max(peak_, held_);
    ++serving_;
    lock.unlock();
    // The next in line may fit beside this one.
    changed_.notify_all();
    return Hold(this, bytes);
}

void MemoryBudget::giveBack(qint64 bytes) {
    {
        const std::lock_guard lock(mutex_);
        held_ -= bytes;
    }
    changed_.notify_all();
}

qint64 MemoryBudget::held() const {
    const std::lock_guard lock(mutex_);
    return held_;
}

qint64 MemoryBudget::peak() const {
    const std::lock_guard lock(mutex_);
    return peak_;
}

} // namespace ostrel
