#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>

#include <list>
#include <optional>

namespace ostrel {

// A memory cache of pictures bounded both by entry count and by total cost, evicting the least
// recently used entries first, and among them those that are cheap to make again before those
// that are dear. Safe to use from any thread.
class ThumbnailCache {
public:
    // What making a picture again would take: reading a small file (cheap), or decoding a large
    // one (dear: a long page's own file takes a hundred times as long as its stored thumbnail).
    enum class Remake { cheap, dear };

    ThumbnailCache(qsizetype countLimit, qint64 costLimit);

    // The picture under `key`, which then counts as the most recently used.
    std::optional<QImage> object(const QString& key);
    // Stores the picture (replacing any under the same key) and evicts until both limits hold:
    // the least recently used cheap entry while there is one besides this, else the least
    // recently used. An entry that alone exceeds the cost limit is not kept.
    void insert(const QString& key, const QImage& image, qint64 cost,
                Remake remake = Remake::cheap);
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
        Remake remake = Remake::cheap;
    };
    using Order = std::list<Entry>;

    void evictLocked();
    void eraseLocked(Order::iterator entry);

    const qsizetype countLimit_;
    const qint64 costLimit_;
    mutable QMutex mutex_;
    // Most recently used at the front.
    Order order_;
    QHash<QString, Order::iterator> index_;
    qint64 total_ = 0;
};

} // namespace ostrel
