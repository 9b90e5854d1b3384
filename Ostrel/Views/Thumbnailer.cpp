#include "Ostrel/Views/Thumbnailer.h"

#include "OstrelCore/Engine/ImageProbe.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/HandOff.h"
#include "Platform/MallocArenas.h"

#include "Platform/BoxScaler.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMutex>
#include <QPointer>
#include <QScreen>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include <unistd.h>

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
    // Loads given to the decoders and not yet ended, and whether one of them decoded an item's
    // own file since malloc last gave its free memory back.
    std::atomic<int> loads{0};
    std::atomic<bool> ownFileDecoded{false};

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

// A picture read from disk, and whether it came from the item's own file: a large file's decode
// is kept in the cache while stored thumbnails can go instead.
struct Read {
    QImage picture;
    ThumbnailCache::Remake remake = ThumbnailCache::Remake::cheap;
    // The stored JPEG standing in for an own file that could not be read.
    bool standIn = false;
};

Read ownFile(QImage picture) {
    return {std::move(picture), ThumbnailCache::Remake::dear};
}

void store(const ShelfItem& item, double side, const QImage& image,
           ThumbnailCache::Remake remake = ThumbnailCache::Remake::cheap) {
    cache().insert(cacheKey(item.id, side), image, cost(side, image), remake);
}

// Caches what a load read and gives it back, except a stored JPEG standing in for a file that is
// gone where the cache holds a picture that shows the card sharper: made while the file could
// still be read, it stays, and is what the load gives.
QImage keep(const ShelfItem& item, double side, Read read, const std::optional<Fill>& fill) {
    if (read.standIn && fill) {
        const auto held = cachedImage(item, side);
        if (held && enlargement(held->size(), fill->pixels()) <
                        enlargement(read.picture.size(), fill->pixels())) {
            return *held;
        }
    }
    if (read.remake == ThumbnailCache::Remake::dear) {
        shared().ownFileDecoded.store(true);
    }
    store(item, side, read.picture, read.remake);
    return std::move(read.picture);
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

QImage madeFor(QImage picture, const Fill& fill) {
    const QSize card = fill.pixels();
    picture.setText(fillText, QStringLiteral("%1x%2").arg(card.width()).arg(card.height()));
    return picture;
}

// The part of a picture a card shows: the middle of it in the card's shape, as the card cuts it
// when it scales the picture to cover itself, brought down to the card's pixels where it has more.
// A long page or banner decoded to cover its card holds several times what the card shows.
QImage cut(const QImage& picture, QSize card) {
    const qint64 w = picture.width();
    const qint64 h = picture.height();
    // The card's shape within the picture: the whole height where the picture is wider than the
    // card, the whole width where it is taller.
    QSize part{int(w), int(h)};
    if (w * card.height() > h * card.width()) {
        part.setWidth(
            int(std::clamp<qint64>((h * card.width() + card.height() / 2) / card.height(), 1, w)));
    } else {
        part.setHeight(
            int(std::clamp<qint64>((w * card.height() + card.width() / 2) / card.width(), 1, h)));
    }
    QImage out =
        part == picture.size()
            ? picture
            : picture.copy(
                  QRect(QPoint(int((w - part.width()) / 2), int((h - part.height()) / 2)), part));
    if (part.width() > card.width() && part.height() > card.height()) {
        out = BoxScaler::scaled(out, card);
    }
    return out;
}

std::optional<QImage> decodeFor(const ImageSource& source, QSize size, const Fill& fill,
                                double side) {
    auto picture = ImageProbe::thumbnail(source, fillSide(size, fill, side), 0);
    if (!picture) {
        return std::nullopt;
    }
    return madeFor(*std::move(picture), fill);
}

// A picture item's card: its stored JPEG when that stands in by its longer side and covers the
// card as drawn within the enlargement a stored thumbnail is allowed, else the part of its own file
// that the card shows, decoded to cover it, else (the file gone or unreadable) the stored JPEG
// that stands in by its longer side, enlarged on the card as before.
std::optional<Read> forCard(const ShelfItem& item, const QUrl& thumbURL, double side,
                            const Fill& fill) {
    const auto stored = ImageProbe::source(thumbURL);
    const auto storedSize = stored ? stored->pixelSize() : std::nullopt;
    const bool standsIn =
        storedSize && std::max(storedSize->width(), storedSize->height()) >= minimumSide(side);
    const bool covering = standsIn && coversWithinTolerance(*storedSize, fill.pixels());
    if (covering) {
        if (auto picture = decodeFor(*stored, *storedSize, fill, side)) {
            return Read{*std::move(picture)};
        }
    }
    if (item.fileURL) {
        const auto own = ImageProbe::source(*item.fileURL);
        if (const auto size = own ? own->pixelSize() : std::nullopt) {
            if (auto picture = ImageProbe::thumbnail(*own, fillSide(*size, fill, side), 0)) {
                return ownFile(madeFor(cut(*picture, fill.pixels()), fill));
            }
        }
    }
    if (standsIn && !covering) {
        if (auto picture = decodeFor(*stored, *storedSize, fill, side)) {
            return Read{*std::move(picture), ThumbnailCache::Remake::cheap, true};
        }
    }
    return std::nullopt;
}

// The picture from disk alone: the stored JPEG, then a picture's own file.
std::optional<Read> fromDisk(const ShelfItem& item, const QUrl& thumbURL, double side,
                             const std::optional<Fill>& fill) {
    if (item.kind == ShelfItemKind::image && fill && !fill->pixels().isEmpty()) {
        return forCard(item, thumbURL, side, *fill);
    }
    if (auto picture = fromStoredJPEG(thumbURL, side)) {
        return Read{*std::move(picture)};
    }
    if (item.kind == ShelfItemKind::image && item.fileURL) {
        if (auto picture = image(*item.fileURL, side, 0)) {
            return ownFile(*std::move(picture));
        }
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
    if (auto read = fromDisk(item, thumbURL, side, fill)) {
        give(delivery, keep(item, side, *std::move(read), fill));
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

// Decoding a large file takes and frees megabytes, which malloc keeps for the next request (see
// MallocArenas): a backlog of pages and banners would leave tens of them beside the cache. Once no
// load is left, what the decodes freed goes back to the system.
void loadEnded() {
    if (shared().loads.fetch_sub(1) == 1 && shared().ownFileDecoded.exchange(false)) {
        MallocArenas::release();
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

double enlargement(QSize picture, QSize card) {
    if (picture.isEmpty() || card.isEmpty()) {
        return std::numeric_limits<double>::infinity();
    }
    return std::max(
        {1.0, double(card.width()) / picture.width(), double(card.height()) / picture.height()});
}

bool coversWithinTolerance(QSize picture, QSize card) {
    // In whole numbers: num × w ≥ den × W for each side.
    constexpr qint64 num = storedEnlargement::num;
    constexpr qint64 den = storedEnlargement::den;
    return !picture.isEmpty() && !card.isEmpty() &&
           num * qint64(picture.width()) >= den * qint64(card.width()) &&
           num * qint64(picture.height()) >= den * qint64(card.height());
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
    shared().loads.fetch_add(1);
    start(
        shared().decoders,
        [item, thumbURL, side, fill, delivery] {
            runLoad(item, thumbURL, side, fill, delivery);
            loadEnded();
        },
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
    const QString thumbPath = thumbURL.toLocalFile();
    // Into another folder in place of the run's (mounted over the support folder, or a link or a
    // mount at its thumbnails folder), none: the next load renders again.
    if (!FileStat::exists(itemPath)) {
        return;
    }
    const auto encoded = ImageProbe::encodeJPEG(image);
    // Written and removed through the folder looked at, whatever its path leads to by then.
    const Descriptors::Owned folder(OwnFolder::openInto(QFileInfo(thumbPath).absolutePath()));
    const QByteArray name = QFile::encodeName(QFileInfo(thumbPath).fileName());
    if (!encoded || !folder ||
        AtomicFile::writeAt(folder.get(), name, *encoded, 0600, nullptr, thumbPath)) {
        return;
    }
    // The item may have been deleted while the JPEG was written: leave no orphan behind.
    if (!FileStat::exists(itemPath)) {
        ::unlinkat(folder.get(), name.constData(), 0);
    }
}

std::optional<QImage> loadNow(const ShelfItem& item, const QUrl& thumbURL, double side,
                              std::optional<Fill> fill) {
    if (yieldsNone(item, side)) {
        return std::nullopt;
    }
    if (auto read = fromDisk(item, thumbURL, side, fill)) {
        return keep(item, side, *std::move(read), fill);
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
