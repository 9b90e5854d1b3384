#include "Ostrel/Views/Thumbnailer.h"

#include "OstrelCore/Engine/ImageProbe.h"
#include "Platform/FileStat.h"
#include "Platform/HandOff.h"

#include "Platform/BoxScaler.h"

#include <QFile>
#include <QGuiApplication>
#include <QMutex>
#include <QPointer>
#include <QScreen>
#include <QStringList>
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

// The card a picture was decoded for, kept in the picture itself so that it travels with it
// through the cache: a card of another display may need more of it.
const QString fillText = QStringLiteral("ostrel-fill");

bool covers(QSize picture, QSize card) {
    return picture.width() >= card.width() && picture.height() >= card.height();
}

std::optional<QImage> decodeFor(const ImageSource& source, QSize size, const Fill& fill,
                                double side) {
    auto picture = ImageProbe::thumbnail(source, fillSide(size, fill, side), 0);
    if (picture) {
        const QSize card = fill.pixels();
        picture->setText(fillText, QStringLiteral("%1x%2").arg(card.width()).arg(card.height()));
    }
    return picture;
}

// A picture item's card: its stored JPEG when that stands in by its longer side and covers the
// card as drawn, else its own file decoded to cover the card, else (the file gone or unreadable)
// the stored JPEG that stands in by its longer side, enlarged on the card as before.
std::optional<QImage> forCard(const ShelfItem& item, const QUrl& thumbURL, double side,
                              const Fill& fill) {
    const auto stored = ImageProbe::source(thumbURL);
    const auto storedSize = stored ? stored->pixelSize() : std::nullopt;
    const bool standsIn =
        storedSize && std::max(storedSize->width(), storedSize->height()) >= minimumSide(side);
    const bool covering = standsIn && covers(*storedSize, fill.pixels());
    if (covering) {
        if (auto picture = decodeFor(*stored, *storedSize, fill, side)) {
            return picture;
        }
    }
    if (item.fileURL) {
        const auto own = ImageProbe::source(*item.fileURL);
        if (const auto size = own ? own->pixelSize() : std::nullopt) {
            if (auto picture = decodeFor(*own, *size, fill, side)) {
                return picture;
            }
        }
    }
    if (standsIn && !covering) {
        return decodeFor(*stored, *storedSize, fill, side);
    }
    return std::nullopt;
}

// The picture from disk alone: the stored JPEG, then a picture's own file.
std::optional<QImage> fromDisk(const ShelfItem& item, const QUrl& thumbURL, double side,
                               const std::optional<Fill>& fill) {
    if (item.kind == ShelfItemKind::image && fill && !fill->pixels().isEmpty()) {
        return forCard(item, thumbURL, side, *fill);
    }
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
             const std::optional<Fill>& fill, const std::shared_ptr<Delivery>& delivery) {
    // The card left the view before its turn came: a fast wheel passes many, and decoding what
    // it passed would keep the cards where it stops waiting.
    if (delivery->cancelled->load()) {
        give(delivery, std::nullopt);
        return;
    }
    if (auto picture = fromDisk(item, thumbURL, side, fill)) {
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

QSize Fill::pixels() const {
    const double w = size.width() * pixelRatio;
    const double h = size.height() * pixelRatio;
    if (!(w >= 1 && h >= 1 && w <= largestSide && h <= largestSide)) {
        return {};
    }
    return QSize(static_cast<int>(std::ceil(w - 1e-6)), static_cast<int>(std::ceil(h - 1e-6)));
}

int fillSide(QSize picture, const Fill& fill, double side) {
    const int least = usableSide(side) ? static_cast<int>(side) : 1;
    const QSize card = fill.pixels();
    if (picture.isEmpty() || card.isEmpty()) {
        return least;
    }
    const double w = picture.width();
    const double h = picture.height();
    const double limit = double(fillPixelsLimit) * card.width() * card.height();
    const double scale =
        std::min({1.0, std::max(card.width() / w, card.height() / h), std::sqrt(limit / (w * h))});
    int longer = static_cast<int>(std::ceil(std::max(w, h) * scale - 1e-6));
    // A shorter side that rounds up to a whole pixel would carry a picture of extreme shape past
    // the limit: its longer side is cut instead.
    const QSize target = BoxScaler::bounded(picture, longer);
    if (double(target.width()) * target.height() > limit) {
        longer = static_cast<int>(limit / std::min(target.width(), target.height()));
    }
    return std::max(least, longer);
}

bool fills(const QImage& picture, const Fill& fill) {
    const QSize card = fill.pixels();
    if (picture.isNull() || card.isEmpty() || covers(picture.size(), card)) {
        return !picture.isNull();
    }
    const QStringList madeFor = picture.text(fillText).split(QLatin1Char('x'));
    return madeFor.size() == 2 && covers(QSize(madeFor[0].toInt(), madeFor[1].toInt()), card);
}

double screenPixelRatio() {
    double ratio = 0;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            ratio = std::max(ratio, screen->devicePixelRatio());
        }
    }
    return ratio > 0 ? ratio : 2;
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
                std::function<void(std::optional<QImage>)> done, std::optional<Fill> fill) {
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
        [item, thumbURL, side, fill, delivery] { runLoad(item, thumbURL, side, fill, delivery); },
        priority);
    return handle;
}

void prefetch(const QList<ShelfItem>& items, const std::function<QUrl(const QString&)>& thumbURL,
              QSizeF size) {
    const double s = side(size);
    const Fill fill{size, screenPixelRatio()};
    for (const ShelfItem& item : items) {
        if (cache().contains(cacheKey(item.id, s))) {
            continue;
        }
        const QUrl thumb = thumbURL(item.id);
        if (!thumb.isLocalFile() || !FileStat::exists(thumb.toLocalFile())) {
            continue;
        }
        load(item, thumb, s, nullptr, {}, fill);
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

std::optional<QImage> loadNow(const ShelfItem& item, const QUrl& thumbURL, double side,
                              std::optional<Fill> fill) {
    if (yieldsNone(item, side)) {
        return std::nullopt;
    }
    if (auto picture = fromDisk(item, thumbURL, side, fill)) {
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
