#include "Ostrel/Views/ThumbnailCache.h"

namespace ostrel {

ThumbnailCache::ThumbnailCache(qsizetype countLimit, qint64 costLimit)
    : countLimit_(countLimit), costLimit_(costLimit) {}

std::optional<QImage> ThumbnailCache::object(const QString& key) {
    QMutexLocker lock(&mutex_);
    const auto found = index_.constFind(key);
    if (found == index_.cend()) {
        return std::nullopt;
    }
    order_.splice(order_.begin(), order_, *found);
    return order_.front().image;
}

void ThumbnailCache::insert(const QString& key, const QImage& image, qint64 cost, Remake remake) {
    QMutexLocker lock(&mutex_);
    if (const auto found = index_.constFind(key); found != index_.cend()) {
        eraseLocked(*found);
    }
    order_.push_front(Entry{key, image, cost, remake});
    index_.insert(key, order_.begin());
    total_ += cost;
    evictLocked();
}

void ThumbnailCache::eraseLocked(Order::iterator entry) {
    total_ -= entry->cost;
    index_.remove(entry->key);
    order_.erase(entry);
}

void ThumbnailCache::evictLocked() {
    // The newest entry is the last to go, whatever it costs to make again.
    while (!order_.empty() &&
           (static_cast<qsizetype>(order_.size()) > countLimit_ || total_ > costLimit_)) {
        auto victim = std::prev(order_.end());
        for (auto it = victim; it != order_.begin(); --it) {
            if (it->remake == Remake::cheap) {
                victim = it;
                break;
            }
        }
        eraseLocked(victim);
    }
}

void ThumbnailCache::clear() {
    QMutexLocker lock(&mutex_);
    order_.clear();
    index_.clear();
    total_ = 0;
}

qsizetype ThumbnailCache::count() const {
    QMutexLocker lock(&mutex_);
    return index_.size();
}

qint64 ThumbnailCache::totalCost() const {
    QMutexLocker lock(&mutex_);
    return total_;
}

bool ThumbnailCache::contains(const QString& key) const {
    QMutexLocker lock(&mutex_);
    return index_.contains(key);
}

} // namespace ostrel
