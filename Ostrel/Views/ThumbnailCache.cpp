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

void ThumbnailCache::insert(const QString& key, const QImage& image, qint64 cost) {
    QMutexLocker lock(&mutex_);
    if (const auto found = index_.constFind(key); found != index_.cend()) {
        total_ -= (*found)->cost;
        order_.erase(*found);
        index_.erase(found);
    }
    order_.push_front(Entry{key, image, cost});
    index_.insert(key, order_.begin());
    total_ += cost;
    evictLocked();
}

void ThumbnailCache::evictLocked() {
    while (!order_.empty() &&
           (static_cast<qsizetype>(order_.size()) > countLimit_ || total_ > costLimit_)) {
        total_ -= order_.back().cost;
        index_.remove(order_.back().key);
        order_.pop_back();
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
