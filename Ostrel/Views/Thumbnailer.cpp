#include "Ostrel/Views/Thumbnailer.h"

#include "OstrelCore/Engine/ImageProbe.h"
#include "Platform/FileStat.h"
#include "Platform/HandOff.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ostrel::Thumbnailer {

namespace {

// Card loads ahead of prefetches, write-backs last.
constexpr int loadPriority = 1;
constexpr int prefetchPriority = 0;
constexpr int writeBackPriority = -1;

// Sides beyond this are no card's and would overflow the cost.
constexpr double largestSide = 1'000'000;

struct Shared {
    QThreadPool decoders;
    // Renders run apart from decoding, so a slow or stuck render never holds a decoder.
    QThreadPool renderers;
    QMutex mutex;
    std::shared_ptr<ThumbnailGenerator> generator;
    std::atomic<int> generatorTimeoutMs{20'000};

    Shared() {
        decoders.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 2, 4));
        decoders.setObjectName(QStringLiteral("thumbnails"));
        renderers.setMaxThreadCount(2);
        renderers.setObjectName(QStringLiteral("thumbnail renders"));
    }

    std::shared_ptr<ThumbnailGenerator> currentGenerator() {
        QMutexLocker lock(&mutex);
        if (!generator) {
            generator = std::make_shared<DesktopThumbnailGenerator>();
        }
        return generator;
    }
};

Shared& shared() {
    static Shared* instance = new Shared; // lives to the end of the process, like the cache
    return *instance;
}

void start(QThreadPool& pool, std::function<void()> job, int priority) {
    handOver(std::move(job), [&pool, priority](std::function<void()> wrapped) {
        pool.start(std::move(wrapped), priority);
    });
}

bool usableSide(double side) {
    return std::isfinite(side) && side >= 1 && side <= largestSide;
}

// Published artifacts have no local picture, and an item of another kind without its file shows
// its symbol rather than a stored JPEG of what is gone: nothing is read or cached for them.
bool yieldsNone(const ShelfItem& item, double side) {
    return item.kind == ShelfItemKind::artifact ||
           (item.kind != ShelfItemKind::image && !item.fileURL) || !usableSide(side);
}

// One load's answer, given once: by the render, the decode or the render's timeout.
struct Delivery {
    std::atomic<bool> given{false};
    bool hasContext = false;
    QPointer<QObject> context;
    std::function<void(std::optional<QImage>)> done;
    std::shared_ptr<std::atomic<bool>> cancelled;
};

void give(const std::shared_ptr<Delivery>& delivery, std::optional<QImage> image) {
    if (delivery->given.exchange(true) || !delivery->done ||
        QCoreApplication::instance() == nullptr) {
        return;
    }
    postToMain([delivery, image = std::move(image)] {
        if (delivery->cancelled->load() || (delivery->hasContext && !delivery->context)) {
            return;
        }
        delivery->done(image);
    });
}

void store(const ShelfItem& item, double side, const QImage& image) {
    cache().insert(cacheKey(item.id, side), image, cost(side, image));
}

std::optional<QImage> fromStoredJPEG(const QUrl& thumbURL, double side) {
    return image(thumbURL, side, 0.8 * side);
}

// The picture from disk alone: the stored JPEG, then a picture's own file.
std::optional<QImage> fromDisk(const ShelfItem& item, const QUrl& thumbURL, double side) {
    if (auto picture = fromStoredJPEG(thumbURL, side)) {
        return picture;
    }
    if (item.kind == ShelfItemKind::image && item.fileURL) {
        return image(*item.fileURL, side, 0);
    }
    return std::nullopt;
}

bool wantsRender(const ShelfItem& item) {
    return item.kind != ShelfItemKind::image && item.kind != ShelfItemKind::artifact &&
           item.fileURL && item.fileURL->isLocalFile();
}

ThumbnailRequest renderRequest(const ShelfItem& item, double side) {
    return ThumbnailRequest{item.fileURL->toLocalFile(), QSizeF(side / 2, side / 2), 2.0};
}

// A rendered picture is cached and written back as the item's JPEG, without waiting for the write.
void keepRender(const ShelfItem& item, const QUrl& thumbURL, double side, const QImage& picture) {
    const QUrl itemFile = *item.fileURL;
    start(
        shared().decoders,
        [itemFile, picture, thumbURL] { writeBack(itemFile, picture, thumbURL); },
        writeBackPriority);
    store(item, side, picture);
}

void runLoad(const ShelfItem& item, const QUrl& thumbURL, double side,
             const std::shared_ptr<Delivery>& delivery) {
    // The card left the view before its turn came: a fast wheel passes many, and decoding what
    // it passed would keep the cards where it stops waiting.
    if (delivery->cancelled->load()) {
        give(delivery, std::nullopt);
        return;
    }
    if (auto picture = fromDisk(item, thumbURL, side)) {
        store(item, side, *picture);
        give(delivery, picture);
        return;
    }
    if (!wantsRender(item) || delivery->cancelled->load()) {
        give(delivery, std::nullopt);
        return;
    }
    auto generator = shared().currentGenerator();
    start(
        shared().renderers,
        [item, thumbURL, side, delivery, generator] {
            std::optional<QImage> picture;
            if (!delivery->cancelled->load()) {
                picture = generator->generate(renderRequest(item, side));
            }
            if (picture && !picture->isNull()) {
                keepRender(item, thumbURL, side, *picture);
                give(delivery, picture);
            } else {
                give(delivery, std::nullopt);
            }
        },
        loadPriority);
    if (delivery->done && QCoreApplication::instance() != nullptr) {
        const int timeout = shared().generatorTimeoutMs.load();
        postToMain([delivery, timeout] {
            QTimer::singleShot(timeout, QCoreApplication::instance(),
                               [delivery] { give(delivery, std::nullopt); });
        });
    }
}

} // namespace

ThumbnailCache& cache() {
    static ThumbnailCache* instance = new ThumbnailCache(countLimit, costLimit);
    return *instance;
}

QString cacheKey(const QString& itemID, double side) {
    const double whole = std::trunc(side);
    return itemID + QLatin1Char('@') + QString::number(static_cast<qint64>(std::abs(whole)));
}

qint64 cost(double side, const QImage& image) {
    const auto s = static_cast<qint64>(side * side);
    const qint64 p = image.isNull() ? 0 : static_cast<qint64>(image.width()) * image.height();
    return 4 * std::max(s, p);
}

int minimumSide(double side) {
    return static_cast<int>(std::ceil(0.8 * side));
}

double side(QSizeF size) {
    return 2 * std::max(size.width(), size.height());
}

std::optional<QImage> cachedImage(const ShelfItem& item, double side) {
    return cache().object(cacheKey(item.id, side));
}

void LoadHandle::cancel() const {
    if (cancelled_) {
        cancelled_->store(true);
    }
}

bool LoadHandle::isCancelled() const {
    return cancelled_ && cancelled_->load();
}

LoadHandle load(const ShelfItem& item, const QUrl& thumbURL, double side, QObject* context,
                std::function<void(std::optional<QImage>)> done) {
    LoadHandle handle;
    handle.cancelled_ = std::make_shared<std::atomic<bool>>(false);
    auto delivery = std::make_shared<Delivery>();
    delivery->hasContext = context != nullptr;
    delivery->context = context;
    delivery->done = std::move(done);
    delivery->cancelled = handle.cancelled_;

    if (yieldsNone(item, side)) {
        give(delivery, std::nullopt);
        return handle;
    }
    const int priority = delivery->done ? loadPriority : prefetchPriority;
    start(
        shared().decoders,
        [item, thumbURL, side, delivery] { runLoad(item, thumbURL, side, delivery); }, priority);
    return handle;
}

void prefetch(const QList<ShelfItem>& items, const std::function<QUrl(const QString&)>& thumbURL,
              QSizeF size) {
    const double s = side(size);
    for (const ShelfItem& item : items) {
        if (cache().contains(cacheKey(item.id, s))) {
            continue;
        }
        const QUrl thumb = thumbURL(item.id);
        if (!thumb.isLocalFile() || !FileStat::exists(thumb.toLocalFile())) {
            continue;
        }
        load(item, thumb, s, nullptr, {});
    }
}

std::optional<QImage> image(const QUrl& at, double side, double minimumSide) {
    if (!usableSide(side)) {
        return std::nullopt;
    }
    const int minimum = minimumSide > 0 ? static_cast<int>(std::ceil(minimumSide)) : 0;
    return ImageProbe::thumbnail(at, static_cast<int>(side), minimum);
}

void writeBack(const QUrl& itemFile, const QImage& image, const QUrl& thumbURL) {
    if (!itemFile.isLocalFile() || !thumbURL.isLocalFile()) {
        return;
    }
    const QString itemPath = itemFile.toLocalFile();
    if (!FileStat::exists(itemPath)) {
        return;
    }
    if (!ImageProbe::writeJPEG(image, thumbURL)) {
        return;
    }
    // The item may have been deleted while the JPEG was written: leave no orphan behind.
    if (!FileStat::exists(itemPath)) {
        QFile::remove(thumbURL.toLocalFile());
    }
}

std::optional<QImage> loadNow(const ShelfItem& item, const QUrl& thumbURL, double side) {
    if (yieldsNone(item, side)) {
        return std::nullopt;
    }
    if (auto picture = fromDisk(item, thumbURL, side)) {
        store(item, side, *picture);
        return picture;
    }
    if (!wantsRender(item)) {
        return std::nullopt;
    }
    auto picture = shared().currentGenerator()->generate(renderRequest(item, side));
    if (!picture || picture->isNull()) {
        return std::nullopt;
    }
    keepRender(item, thumbURL, side, *picture);
    return picture;
}

void setGenerator(std::shared_ptr<ThumbnailGenerator> generator) {
    QMutexLocker lock(&shared().mutex);
    shared().generator = std::move(generator);
}

void setGeneratorTimeout(int milliseconds) {
    shared().generatorTimeoutMs.store(std::max(1, milliseconds));
}

void waitForIdle() {
    // A render starts a write-back on the decoders, so the decoders are drained last.
    shared().decoders.waitForDone();
    shared().renderers.waitForDone();
    shared().decoders.waitForDone();
}

} // namespace ostrel::Thumbnailer
