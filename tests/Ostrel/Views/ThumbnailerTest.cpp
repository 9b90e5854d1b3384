#include "Ostrel/Views/Thumbnailer.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "support/RunOnADrive.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

using namespace ostrel;
using ostrel::test::TempDir;

namespace {

QString writeImage(const TempDir& dir, const QString& name, QSize size, QColor color,
                   const char* format) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    const QString path = dir.file(name);
    image.save(path, format);
    return path;
}

QString writePdf(const TempDir& dir, const QString& name) {
    const QString path = dir.file(name);
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter(&writer);
    painter.fillRect(QRectF(0, 0, writer.width(), writer.height() / 2), Qt::red);
    painter.end();
    return path;
}

ShelfItem makeItem(const QString& id, ShelfItemKind kind, const std::optional<QString>& file) {
    ShelfItem item;
    item.id = id;
    item.kind = kind;
    if (file) {
        item.fileURL = QUrl::fromLocalFile(*file);
    }
    item.title = id;
    return item;
}

// Counts the renders it passes on, and can hold them until released.
class CountingGenerator : public ThumbnailGenerator {
public:
    explicit CountingGenerator(std::shared_ptr<ThumbnailGenerator> inner = {})
        : inner_(std::move(inner)) {}
    std::optional<QImage> generate(const ThumbnailRequest& request) override {
        calls.fetch_add(1);
        lastMaxPixel.store(request.maxPixel());
        while (hold.load()) {
            QThread::msleep(2);
        }
        return inner_ ? inner_->generate(request) : std::nullopt;
    }
    std::atomic<int> calls{0};
    std::atomic<int> lastMaxPixel{0};
    std::atomic<bool> hold{false};

private:
    std::shared_ptr<ThumbnailGenerator> inner_;
};

class ThumbnailerTest : public ::testing::Test {
protected:
    void SetUp() override { Thumbnailer::cache().clear(); }
    void TearDown() override {
        Thumbnailer::waitForIdle();
        Thumbnailer::setGenerator(nullptr);
        Thumbnailer::setGeneratorTimeout(20'000);
        Thumbnailer::cache().clear();
    }

    // Loads on the pool and waits for the answer on the main thread.
    std::optional<QImage> loadAndWait(const ShelfItem& item, const QUrl& thumb, double side,
                                      std::optional<Thumbnailer::Fill> fill = {}) {
        QObject context;
        bool answered = false;
        std::optional<QImage> result;
        Thumbnailer::load(
            item, thumb, side, &context,
            [&](std::optional<QImage> image) {
                answered = true;
                result = std::move(image);
            },
            fill);
        EXPECT_TRUE(test::waitUntil([&] { return answered; }));
        return result;
    }

    TempDir dir;
};

TEST_F(ThumbnailerTest, KeysCostsAndMinimumSides) {
    EXPECT_EQ(Thumbnailer::cacheKey(QStringLiteral("a1"), 320.0), QStringLiteral("a1@320"));
    EXPECT_EQ(Thumbnailer::cacheKey(QStringLiteral("a1"), 240.9), QStringLiteral("a1@240"));
    EXPECT_EQ(Thumbnailer::cacheKey(QStringLiteral("artifact:x"), 282),
              QStringLiteral("artifact:x@282"));
    EXPECT_EQ(Thumbnailer::side(QSizeF(160, 120)), 320);
    EXPECT_EQ(Thumbnailer::side(QSizeF(141, 106)), 282);
    EXPECT_EQ(Thumbnailer::minimumSide(320), 256);
    EXPECT_EQ(Thumbnailer::minimumSide(282), 226);
    // The side term wins for a small picture, the pixel count for a large one.
    EXPECT_EQ(Thumbnailer::cost(320, QImage(300, 200, QImage::Format_RGB32)), 4 * 320 * 320);
    EXPECT_EQ(Thumbnailer::cost(100, QImage(300, 200, QImage::Format_RGB32)), 4 * 300 * 200);
    EXPECT_EQ(Thumbnailer::cost(320, QImage()), 4 * 320 * 320);
}

TEST_F(ThumbnailerTest, CacheHoldsBothLimitsEvictingTheLeastRecentlyUsed) {
    ThumbnailCache& cache = Thumbnailer::cache();
    const QImage small(4, 4, QImage::Format_RGB32);
    for (int i = 0; i < 601; ++i) {
        cache.insert(QStringLiteral("i%1@10").arg(i), small, 1);
        if (i == 300) {
            cache.object(QStringLiteral("i0@10")); // touched: no longer the oldest
        }
    }
    EXPECT_EQ(cache.count(), 600);
    EXPECT_TRUE(cache.contains(QStringLiteral("i0@10")));
    EXPECT_FALSE(cache.contains(QStringLiteral("i1@10")));

    cache.clear();
    const QImage picture(320, 240, QImage::Format_RGB32);
    for (int i = 0; i < 400; ++i) {
        cache.insert(Thumbnailer::cacheKey(QString::number(i), 320), picture,
                     Thumbnailer::cost(320, picture));
    }
    EXPECT_EQ(cache.count(), 327);
    EXPECT_LE(cache.totalCost(), Thumbnailer::costLimit);
    EXPECT_TRUE(cache.contains(QStringLiteral("399@320")));
    EXPECT_FALSE(cache.contains(QStringLiteral("72@320")));

    // Replacing an entry counts it once.
    cache.insert(QStringLiteral("399@320"), picture, Thumbnailer::cost(320, picture));
    EXPECT_EQ(cache.count(), 327);

    // A picture decoded from a large file outlasts stored thumbnails used after it; among such
    // pictures the least recently used goes, and the newest entry stays whatever it is.
    using Remake = ThumbnailCache::Remake;
    ThumbnailCache three(3, Thumbnailer::costLimit);
    three.insert(QStringLiteral("page"), small, 1, Remake::dear);
    for (const char* key : {"a", "b", "c"}) {
        three.insert(QString::fromLatin1(key), small, 1);
    }
    EXPECT_TRUE(three.contains(QStringLiteral("page")));
    EXPECT_FALSE(three.contains(QStringLiteral("a")));
    for (const char* key : {"banner", "strip", "scan"}) {
        three.insert(QString::fromLatin1(key), small, 1, Remake::dear);
    }
    EXPECT_FALSE(three.contains(QStringLiteral("page")));
    three.insert(QStringLiteral("d"), small, 1);
    EXPECT_TRUE(three.contains(QStringLiteral("d")));
    EXPECT_FALSE(three.contains(QStringLiteral("banner")));
}

TEST_F(ThumbnailerTest, StoredJpegStandsInOnlyFromTheMinimumSide) {
    const QString file = writeImage(dir, "photo.png", {1000, 800}, Qt::blue, "PNG");
    const QString small = writeImage(dir, "small.jpg", {255, 200}, Qt::red, "JPEG");
    const QString enough = writeImage(dir, "enough.jpg", {256, 200}, Qt::red, "JPEG");
    const ShelfItem item = makeItem("p1", ShelfItemKind::image, file);

    auto picture = loadAndWait(item, QUrl::fromLocalFile(small), 320);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(320, 256)); // the item's own file, bounded to the side
    EXPECT_LT(qRed(picture->pixel(10, 10)), 40);

    Thumbnailer::cache().clear();
    picture = loadAndWait(item, QUrl::fromLocalFile(enough), 320);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(256, 200));
    EXPECT_GT(qRed(picture->pixel(10, 10)), 200);
    ASSERT_TRUE(Thumbnailer::cachedImage(item, 320));
    EXPECT_EQ(Thumbnailer::cachedImage(item, 320)->size(), QSize(256, 200));
    EXPECT_FALSE(Thumbnailer::cachedImage(item, 240)); // another side, another entry

    // Neither a usable JPEG nor a file: none, and nothing cached.
    const ShelfItem bare = makeItem("p2", ShelfItemKind::image, std::nullopt);
    EXPECT_FALSE(loadAndWait(bare, QUrl::fromLocalFile(small), 320));
    EXPECT_FALSE(Thumbnailer::cachedImage(bare, 320));
}

// A card at a pixel ratio of 2 takes the stored JPEG while covering its 325 × 260 pixels enlarges
// that at most 1.3 times, exactly 1.3 included; beyond, the item's own file, of which only the
// middle part the card shows is kept, at the card's pixels.
TEST_F(ThumbnailerTest, AStoredJpegStandsInWithinItsAllowanceAndAnOwnFileIsCutToTheCard) {
    QImage bands(3000, 1000, QImage::Format_RGB32);
    bands.fill(Qt::green);
    QPainter(&bands).fillRect(0, 0, 800, 1000, Qt::red);
    QPainter(&bands).fillRect(2200, 0, 800, 1000, Qt::blue);
    const QString own = dir.file("bands.png");
    ASSERT_TRUE(bands.save(own));
    const Thumbnailer::Fill card{QSizeF(162.5, 130), 2};
    struct Case {
        QSize stored;
        bool standsIn;
    };
    for (const Case c : {Case{{360, 200}, true}, Case{{360, 199}, false}, Case{{250, 400}, true},
                         Case{{249, 400}, false}}) {
        Thumbnailer::cache().clear();
        const QString name =
            QStringLiteral("t%1x%2.jpg").arg(c.stored.width()).arg(c.stored.height());
        const QUrl thumb = QUrl::fromLocalFile(writeImage(dir, name, c.stored, Qt::yellow, "JPEG"));
        const auto picture =
            loadAndWait(makeItem("b", ShelfItemKind::image, own), thumb, 320, card);
        ASSERT_TRUE(picture);
        if (c.standsIn) {
            EXPECT_EQ(picture->size(), c.stored);
            EXPECT_GT(qRed(picture->pixel(2, 2)), 200);
        } else {
            EXPECT_EQ(picture->size(), QSize(325, 260)) << c.stored.height();
            for (const int x : {2, 162, 322}) {
                EXPECT_EQ(QColor(picture->pixel(x, 130)), QColor(Qt::green)) << x;
            }
        }
        EXPECT_TRUE(Thumbnailer::fills(*picture, card));
    }
    // Decoded from its own file, the last picture outlasts stored thumbnails loaded after it.
    for (int i = 0; i < Thumbnailer::countLimit; ++i) {
        Thumbnailer::cache().insert(QStringLiteral("s%1@320").arg(i),
                                    QImage(4, 4, QImage::Format_RGB32), 1);
    }
    EXPECT_TRUE(Thumbnailer::cachedImage(makeItem("b", ShelfItemKind::image, own), 320));
}

// Screenshots (16:9) and portraits (3:4), stored as ingest writes them, stand in on every card the
// shelf has up to a pixel ratio of 2; banners and pages are decoded from their own file there.
TEST_F(ThumbnailerTest, StoredScreenshotsAndPortraitsStandInOnEveryCardUpToRatio2) {
    const auto stored = [&](QSize shape) {
        const QString own = writeImage(dir, "own.png", shape, Qt::gray, "PNG");
        const QUrl thumb = QUrl::fromLocalFile(dir.file("own.jpg"));
        EXPECT_TRUE(
            ImageProbe::writeThumbnail(*ImageProbe::source(QUrl::fromLocalFile(own)), thumb));
        return ImageProbe::source(thumb)->pixelSize().value_or(QSize());
    };
    const QSize screenshot = stored({1920, 1080});
    const QSize portrait = stored({768, 1024});
    const QSize banner = stored({1800, 600});
    const QSize page = stored({600, 1800});
    for (const QSizeF card : {ShelfMetrics::stackCard, ShelfMetrics::railCard,
                              ShelfMetrics::columnGridCard, ShelfMetrics::columnCard()}) {
        for (const double ratio : {1.0, 1.25, 1.5, 1.75, 2.0}) {
            const QSize pixels = Thumbnailer::Fill{card, ratio}.pixels();
            EXPECT_TRUE(Thumbnailer::coversWithinTolerance(screenshot, pixels))
                << card.width() << " at " << ratio;
            EXPECT_TRUE(Thumbnailer::coversWithinTolerance(portrait, pixels))
                << card.width() << " at " << ratio;
        }
        const QSize pixels = Thumbnailer::Fill{card, 2}.pixels();
        EXPECT_FALSE(Thumbnailer::coversWithinTolerance(banner, pixels)) << card.width();
        EXPECT_FALSE(Thumbnailer::coversWithinTolerance(page, pixels)) << card.width();
    }
}

// A strip far longer than its card cannot cover it within eight times the card's pixels: it is
// decoded to that bound, and the card's part of it kept. Without its own file the stored JPEG
// answers as before, except where the cache holds a picture made while the file was there: the
// card keeps that sharper one. Either way the picture is the one for that card, so a card made
// again does not load it anew.
TEST_F(ThumbnailerTest, APictureForACardIsBoundedAndFallsBackToTheStoredJpeg) {
    const QString strip = writeImage(dir, "strip.png", {12000, 300}, Qt::blue, "PNG");
    const QUrl thumb = QUrl::fromLocalFile(writeImage(dir, "strip.jpg", {360, 9}, Qt::red, "JPEG"));
    const Thumbnailer::Fill card{QSizeF(160, 120), 2};

    const ShelfItem item = makeItem("w1", ShelfItemKind::image, strip);
    auto picture = loadAndWait(item, thumb, 320, card);
    ASSERT_TRUE(picture);
    // Unbounded, the strip would be decoded 240 pixels high to cover the card.
    EXPECT_GT(picture->height(), 100);
    EXPECT_LT(picture->height(), 240);
    EXPECT_NEAR(picture->width() * 3.0, picture->height() * 4.0, 4); // the card's shape
    EXPECT_LT(qRed(picture->pixel(10, 10)), 40);
    EXPECT_TRUE(Thumbnailer::fills(*picture, card));

    const ShelfItem gone = makeItem("w2", ShelfItemKind::image, dir.file("gone.png"));
    picture = loadAndWait(gone, thumb, 320, card);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(360, 9));
    EXPECT_TRUE(Thumbnailer::fills(*picture, card));
    EXPECT_FALSE(Thumbnailer::fills(*picture, {QSizeF(160, 120), 3}));

    ASSERT_TRUE(QFile::remove(strip));
    picture = loadAndWait(item, thumb, 320, Thumbnailer::Fill{QSizeF(160, 120), 3});
    ASSERT_TRUE(picture);
    EXPECT_LT(qRed(picture->pixel(2, 2)), 40);
    EXPECT_LT(qRed(Thumbnailer::cachedImage(item, 320)->pixel(2, 2)), 40);
}

TEST_F(ThumbnailerTest, ArtifactsAndPicturesNeverReachTheGenerator) {
    auto generator = std::make_shared<CountingGenerator>();
    Thumbnailer::setGenerator(generator);
    const QString broken = dir.write("broken.png", "not a picture");
    ShelfItem artifact = makeItem("artifact:a", ShelfItemKind::artifact, std::nullopt);
    artifact.remoteURL = QUrl(QStringLiteral("https://example.com/a"));
    EXPECT_FALSE(loadAndWait(artifact, QUrl::fromLocalFile(dir.file("none.jpg")), 320));
    EXPECT_FALSE(loadAndWait(makeItem("b", ShelfItemKind::image, broken),
                             QUrl::fromLocalFile(dir.file("none.jpg")), 320));
    EXPECT_FALSE(loadAndWait(makeItem("c", ShelfItemKind::pdf, std::nullopt),
                             QUrl::fromLocalFile(dir.file("none.jpg")), 320));
    EXPECT_EQ(generator->calls.load(), 0);
    EXPECT_EQ(Thumbnailer::cache().count(), 0);
}

TEST_F(ThumbnailerTest, PdfIsRenderedOnceAndFoundOnDiskAfterARestart) {
    auto generator = std::make_shared<CountingGenerator>(
        std::make_shared<DesktopThumbnailGenerator>(DesktopThumbnailGenerator::Config{}));
    Thumbnailer::setGenerator(generator);
    const QString pdf = writePdf(dir, "report.pdf");
    const QUrl thumb = QUrl::fromLocalFile(dir.file("report.jpg"));
    const ShelfItem item = makeItem("r1", ShelfItemKind::pdf, pdf);

    auto picture = loadAndWait(item, thumb, 320);
    ASSERT_TRUE(picture);
    EXPECT_EQ(generator->lastMaxPixel.load(), 320); // 160 × 160 points at scale 2
    EXPECT_EQ(std::max(picture->width(), picture->height()), 320);
    EXPECT_TRUE(Thumbnailer::cachedImage(item, 320));
    Thumbnailer::waitForIdle();
    ASSERT_TRUE(QFile::exists(thumb.toLocalFile()));

    // A new run: empty memory, the JPEG on disk answers.
    Thumbnailer::cache().clear();
    picture = loadAndWait(item, thumb, 320);
    ASSERT_TRUE(picture);
    EXPECT_EQ(generator->calls.load(), 1);
    EXPECT_GT(qRed(picture->pixel(picture->width() / 2, 5)), 200);

    // Without its file the item shows its symbol, though its JPEG is still on disk.
    ShelfItem gone = item;
    gone.fileURL.reset();
    Thumbnailer::cache().clear();
    EXPECT_FALSE(loadAndWait(gone, thumb, 320));
}

TEST_F(ThumbnailerTest, WriteBackLeavesNothingForAVanishedItem) {
    const QImage picture(64, 48, QImage::Format_RGB32);
    const QUrl thumb = QUrl::fromLocalFile(dir.file("gone.jpg"));
    Thumbnailer::writeBack(QUrl::fromLocalFile(dir.file("missing.pdf")), picture, thumb);
    EXPECT_FALSE(QFile::exists(thumb.toLocalFile()));

    const QString present = dir.write("present.pdf", "x");
    Thumbnailer::writeBack(QUrl::fromLocalFile(present), picture, thumb);
    EXPECT_EQ(QImage(thumb.toLocalFile()).size(), QSize(64, 48));
}

// A file system mounted over the run's support folder is not written into: the picture is
// dropped (the next load renders it again), and written once the run's own folder is back. Nor is
// a link put in place of the thumbnails folder written through.
TEST_F(ThumbnailerTest, WriteBackWritesNothingIntoAFolderPutInPlaceOfTheRunsOwn) {
    const test::RunOnADrive run;
    if (!run.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QImage picture(64, 48, QImage::Format_RGB32);
    const QUrl item = QUrl::fromLocalFile(dir.write("report.pdf", "x"));
    const QUrl thumb = QUrl::fromLocalFile(run.support() + "/thumbs/r1.jpg");
    QDir().mkpath(run.support() + "/thumbs");

    ASSERT_TRUE(run.mount());
    QDir().mkpath(run.support() + "/thumbs");
    Thumbnailer::writeBack(item, picture, thumb);
    EXPECT_TRUE(QDir(run.support() + "/thumbs").isEmpty());

    ASSERT_TRUE(run.unmount());
    Thumbnailer::writeBack(item, picture, thumb);
    EXPECT_EQ(QImage(thumb.toLocalFile()).size(), QSize(64, 48));

    const QString aside = run.support() + "/thumbs.aside";
    ASSERT_TRUE(QDir().rename(run.support() + "/thumbs", aside));
    ASSERT_TRUE(QFile::link(aside, run.support() + "/thumbs"));
    Thumbnailer::writeBack(item, picture, QUrl::fromLocalFile(run.support() + "/thumbs/r2.jpg"));
    EXPECT_EQ(QDir(aside).entryList(QDir::Files), QStringList{"r1.jpg"});
}

TEST_F(ThumbnailerTest, StuckGeneratorTimesOutAndGoneCardsHearNothing) {
    auto generator = std::make_shared<CountingGenerator>();
    generator->hold.store(true);
    Thumbnailer::setGenerator(generator);
    Thumbnailer::setGeneratorTimeout(100);
    const QString doc = dir.write("notes.docx", "x");
    const ShelfItem item = makeItem("d1", ShelfItemKind::document, doc);
    const QUrl thumb = QUrl::fromLocalFile(dir.file("d1.jpg"));

    EXPECT_FALSE(loadAndWait(item, thumb, 320));

    // A card that goes away before the answer is never called.
    bool called = false;
    {
        QObject card;
        Thumbnailer::load(item, thumb, 320, &card, [&](auto) { called = true; });
    }
    const auto handle = Thumbnailer::load(item, thumb, 320, qApp, [&](auto) { called = true; });
    handle.cancel();
    test::pump(0.3);
    EXPECT_FALSE(called);
    generator->hold.store(false);
}

TEST_F(ThumbnailerTest, PrefetchWarmsOnlyItemsWithAStoredJpeg) {
    const QString jpeg = writeImage(dir, "t1.jpg", {320, 240}, Qt::green, "JPEG");
    const QList<ShelfItem> items{makeItem("t1", ShelfItemKind::html, dir.file("t1.html")),
                                 makeItem("t2", ShelfItemKind::html, dir.file("t2.html"))};
    Thumbnailer::prefetch(
        items,
        [&](const QString& id) {
            return QUrl::fromLocalFile(dir.file(id + QStringLiteral(".jpg")));
        },
        QSizeF(160, 120));
    Thumbnailer::waitForIdle();
    EXPECT_TRUE(Thumbnailer::cachedImage(items[0], 320));
    EXPECT_FALSE(Thumbnailer::cachedImage(items[1], 320));
}

} // namespace

// Cards that a fast wheel carries past cancel their loads; what has not been decoded by then is
// never decoded.
TEST_F(ThumbnailerTest, ALoadCancelledBeforeItsTurnDecodesNothing) {
    const QUrl thumb = QUrl::fromLocalFile(writeImage(dir, "t.jpg", {320, 200}, Qt::red, "JPEG"));
    QObject context;
    std::vector<ShelfItem> items;
    std::vector<Thumbnailer::LoadHandle> loads;
    for (int i = 0; i < 200; ++i) {
        items.push_back(makeItem(QStringLiteral("c%1").arg(i), ShelfItemKind::image, {}));
        loads.push_back(Thumbnailer::load(items.back(), thumb, 320, &context, [](auto) {}));
    }
    for (const auto& load : loads) {
        load.cancel();
    }
    const auto decoded = [&] {
        return std::count_if(items.begin(), items.end(), [](const ShelfItem& item) {
            return Thumbnailer::cachedImage(item, 320).has_value();
        });
    };
    // How many the pool decoded while they were being queued depends on how the threads were
    // scheduled; after the cancel, only those already under way on a decoder (four at most) may
    // still come in.
    const auto cancelled = decoded();
    Thumbnailer::waitForIdle();
    EXPECT_LE(decoded() - cancelled, 4);
}
