#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>

#include <list>
#include <optional>

namespace ostrel {

// A memory cache of pictures bounded both by entry count and by total cost, evicting the least
// recently used entries first. Safe to use from any thread.
class ThumbnailCache {
public:
    ThumbnailCache(qsizetype countLimit, qint64 costLimit);

    // The picture under `key`, which then counts as the most recently used.
    std::optional<QImage> object(const QString& key);
    // Stores the picture (replacing any under the same key) and evicts until both limits hold.
    // An entry that alone exceeds the cost limit is not kept.
    void insert(const QString& key, const QImage& image, qint64 cost);
    void clear();

    qsizetype count() const;
    qint64 totalCost() const;
    bool contains(const QString& key) const;

    qsizetype countLimit() const { return countLimit_; }
    qint64 costLimit() const { return costLimit_; }

private:
    struct Entry {
        QString key;
        QImage image;
        qint64 cost = 0;
    };
    using Order = std::list<Entry>;

    void evictLocked();

    const qsizetype countLimit_;
    const qint64 costLimit_;
    mutable QMutex mutex_;
    // Most recently used at the front.
    Order order_;
    QHash<QString, Order::iterator> index_;
    qint64 total_ = 0;
};

} // namespace ostrel
