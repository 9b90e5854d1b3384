#include "OstrelCore/Engine/ImageProbe.h"
#include "Platform/WorkerPool.h"
#include "TestImages.h"
#include "support/HostilePictures.h"
#include "support/TempDir.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostrel;
using namespace ostrel::test;
namespace Hostile = ostrel::test::HostilePictures;

namespace {

std::optional<QSize> sizeOf(const QByteArray& bytes) {
    const auto source = ImageProbe::source(bytes);
    return source ? ImageProbe::pixelSize(*source) : std::nullopt;
}

QUrl fileURL(const QString& path) {
    return QUrl::fromLocalFile(path);
}

} // namespace

TEST(ImageProbe, PixelSizeOfEveryRasterKind) {
    EXPECT_EQ(sizeOf(TestImages::png(70, 40)), QSize(70, 40));
    EXPECT_EQ(sizeOf(TestImages::jpeg(70, 40)), QSize(70, 40));
    EXPECT_EQ(sizeOf(TestImages::gif(70, 40)), QSize(70, 40));
    EXPECT_EQ(sizeOf(TestImages::webp(70, 40)), QSize(70, 40));
    for (const auto& bytes : {TestImages::png(70, 40), TestImages::jpeg(70, 40),
                              TestImages::gif(70, 40), TestImages::webp(70, 40)}) {
        EXPECT_GE(bytes.size(), 512);
    }
}

TEST(ImageProbe, HeicThroughLibheif) {
    const auto heic = TestImages::heic(96, 64);
    if (!heic) {
        GTEST_SKIP() << "no HEVC encoder in this libheif";
    }
    EXPECT_GE(heic->size(), 512);
    const auto source = ImageProbe::source(*heic);
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->isHeif());
    EXPECT_EQ(ImageProbe::pixelSize(*source), QSize(96, 64));
    const auto thumb = ImageProbe::thumbnail(*source, 48, 0);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(48, 32));
    const auto full = ImageProbe::thumbnail(*source, 360, 0);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->size(), QSize(96, 64));
    // A truncated HEIC file is no image or gives no thumbnail; never a crash.
    const QByteArray cut = heic->left(heic->size() / 2);
    if (const auto broken = ImageProbe::source(cut)) {
        (void)ImageProbe::thumbnail(*broken, 48, 0);
    }
}

TEST(ImageProbe, ExifOrientationTurnsTheSize) {
    EXPECT_EQ(sizeOf(TestImages::jpeg(400, 300, 6)), QSize(300, 400));
    EXPECT_EQ(sizeOf(TestImages::jpeg(400, 300, 8)), QSize(300, 400));
    EXPECT_EQ(sizeOf(TestImages::jpeg(400, 300, 5)), QSize(300, 400));
    EXPECT_EQ(sizeOf(TestImages::jpeg(400, 300, 3)), QSize(400, 300));
    EXPECT_EQ(sizeOf(TestImages::jpeg(400, 300, 1)), QSize(400, 300));
}

TEST(ImageProbe, ThumbnailOfATurnedPhotoIsUpright) {
    const auto source = ImageProbe::source(TestImages::jpeg(1440, 720, 6));
    ASSERT_TRUE(source);
    const auto thumb = ImageProbe::thumbnail(*source, 360, 0);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(180, 360));
}

TEST(ImageProbe, ThumbnailSizes) {
    const auto small = ImageProbe::source(TestImages::png(100, 50));
    ASSERT_TRUE(small);
    EXPECT_EQ(ImageProbe::thumbnail(*small, 360, 0)->size(), QSize(100, 50));
    const auto wide = ImageProbe::source(TestImages::png(1440, 720));
    ASSERT_TRUE(wide);
    EXPECT_EQ(ImageProbe::thumbnail(*wide, 360, 0)->size(), QSize(360, 180));
    const auto gif = ImageProbe::source(TestImages::gif(400, 100));
    ASSERT_TRUE(gif);
    EXPECT_EQ(ImageProbe::thumbnail(*gif, 200, 0)->size(), QSize(200, 50));
    const auto webp = ImageProbe::source(TestImages::webp(100, 400));
    ASSERT_TRUE(webp);
    EXPECT_EQ(ImageProbe::thumbnail(*webp, 200, 0)->size(), QSize(50, 200));
}

// A PNG is decoded row by row into its thumbnail, whatever its stored form; one that is
// interlaced goes through Qt's reader. Either way it matches a full decode and a smooth scale.
TEST(ImageProbe, PngThumbnailsOfEveryStoredFormMatchAFullDecode) {
    QImage picture(900, 600, QImage::Format_ARGB32);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 900, 600);
    gradient.setColorAt(0, QColor(250, 30, 40));
    gradient.setColorAt(1, QColor(20, 60, 240, 90));
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(picture.rect(), gradient);
    painter.fillRect(100, 100, 300, 200, QColor(0, 200, 0, 0));
    painter.fillRect(500, 300, 200, 200, Qt::white);
    painter.end();
    const std::pair<const char*, QByteArray> forms[] = {
        {"rgba", TestImages::encode(picture, "png")},
        {"rgb", TestImages::encode(picture.convertToFormat(QImage::Format_RGB32), "png")},
        {"gray", TestImages::encode(picture.convertToFormat(QImage::Format_Grayscale8), "png")},
        {"palette", TestImages::encode(picture.convertToFormat(QImage::Format_Indexed8), "png")},
        {"16-bit", TestImages::encode(picture.convertToFormat(QImage::Format_RGBA64), "png")},
        {"interlaced", TestImages::interlacedPng(picture)},
    };
    for (const auto& [name, bytes] : forms) {
        SCOPED_TRACE(name);
        const auto source = ImageProbe::source(bytes);
        ASSERT_TRUE(source);
        const auto thumb = ImageProbe::thumbnail(*source, 360, 0);
        ASSERT_TRUE(thumb);
        ASSERT_EQ(thumb->size(), QSize(360, 240));
        // Qt's smooth scaling is trusted on 32-bit pixels only (in 6.4 it swaps channels of
        // 16-bit ones and does not average palette ones).
        const QImage reference =
            QImage::fromData(bytes, "png")
                .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                .scaled(360, 240, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage mine = thumb->convertToFormat(QImage::Format_ARGB32_Premultiplied);
        qint64 difference = 0;
        for (int y = 0; y < 240; ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(mine.constScanLine(y));
            for (int x = 0; x < 360; ++x) {
                for (const int shift : {0, 8, 16, 24}) {
                    difference +=
                        std::abs(int((a[x] >> shift) & 0xff) - int((b[x] >> shift) & 0xff));
                }
            }
        }
        EXPECT_LT(static_cast<double>(difference) / (360.0 * 240 * 4), 2.0);
    }
}

TEST(ImageProbe, MinimumSide) {
    const auto tall = ImageProbe::source(TestImages::png(150, 400));
    const auto square = ImageProbe::source(TestImages::png(150, 150));
    ASSERT_TRUE(tall && square);
    EXPECT_TRUE(ImageProbe::thumbnail(*tall, 360, 200));
    EXPECT_FALSE(ImageProbe::thumbnail(*square, 360, 200));
    EXPECT_TRUE(ImageProbe::thumbnail(*square, 360, 0));
    EXPECT_TRUE(ImageProbe::thumbnail(*square, 360, -5));
}

TEST(ImageProbe, JunkEmptyAndTruncatedBytes) {
    EXPECT_FALSE(ImageProbe::source(QByteArray()));
    EXPECT_FALSE(ImageProbe::source(TestImages::junk(4096)));
    // A bare signature may open, but it has no size.
    EXPECT_FALSE(sizeOf(QByteArray("\x89PNG\r\n\x1a\n", 8)));
    EXPECT_FALSE(sizeOf(QByteArray("GIF89a", 6)));
    // A PNG cut in the middle of its pixel data: its size reads, decoding may fail; no crash.
    const QByteArray png = TestImages::png(200, 200);
    const auto cut = ImageProbe::source(png.left(png.size() / 2));
    if (cut) {
        EXPECT_EQ(ImageProbe::pixelSize(*cut), QSize(200, 200));
        (void)ImageProbe::thumbnail(*cut, 100, 0);
    }
    const QByteArray jpeg = TestImages::jpeg(200, 200, 6);
    if (const auto cutJpeg = ImageProbe::source(jpeg.left(jpeg.size() / 3))) {
        (void)ImageProbe::thumbnail(*cutJpeg, 100, 0);
    }
}

TEST(ImageProbe, AnImageThatLiesAboutItsSizeIsNeverDecodedWhole) {
    const QByteArray liar = TestImages::pngClaimingSize(TestImages::png(40, 40), 100000, 100000);
    const auto source = ImageProbe::source(liar);
    ASSERT_TRUE(source);
    EXPECT_EQ(ImageProbe::pixelSize(*source), QSize(100000, 100000));
    EXPECT_FALSE(ImageProbe::thumbnail(*source, 360, 0));
    // Claiming a small size over larger data: whatever decodes is bounded; no crash.
    const QByteArray shrunk = TestImages::pngClaimingSize(TestImages::png(200, 200), 50, 50);
    if (const auto s = ImageProbe::source(shrunk)) {
        if (const auto thumb = ImageProbe::thumbnail(*s, 360, 0)) {
            EXPECT_LE(std::max(thumb->width(), thumb->height()), 360);
        }
    }
}

// Every decode of the process takes its bytes from the one shared budget, a PNG's pixels
// inflated whole as well as a picture decoded by Qt's reader, however many workers decode.
TEST(ImageProbe, DecodesTakeTheirBytesFromTheSharedBudget) {
    QImage photo(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&photo);
    QLinearGradient gradient(0, 0, 3000, 2000);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(photo.rect(), gradient);
    painter.end();
    const auto jpeg = ImageProbe::source(TestImages::encode(photo, "jpeg"));
    const auto png = ImageProbe::source(TestImages::encode(photo.copy(0, 0, 2000, 1500), "png"));
    ASSERT_TRUE(jpeg && png);
    const qint64 jpegBytes = jpeg->format.decodeBytes({360, 240});
    const qint64 pngBytes = (2000 * 3 + 1) * 1500; // its pixels, inflated whole
    // Qt's reader first: four of its decodes at once hold less than one PNG's pixels, so the
    // peak tells that each kind was charged.
    ASSERT_LT(4 * jpegBytes, pngBytes);
    MemoryBudget& shared = ImageProbe::decodeBudget();
    WorkerPool pool(4);
    for (const auto& [source, bytes] : {std::pair{&*jpeg, jpegBytes}, std::pair{&*png, pngBytes}}) {
        pool.forEach(8, [&](int) { EXPECT_TRUE(ImageProbe::thumbnail(*source, 360, 0)); });
        EXPECT_GE(shared.peak(), bytes);
    }
    EXPECT_LE(shared.peak(), shared.limit());
    EXPECT_EQ(shared.held(), 0);
}

TEST(ImageProbe, ThumbnailAtAFile) {
    TempDir dir;
    const QString png = dir.write("a.png", TestImages::png(800, 400));
    const auto thumb = ImageProbe::thumbnail(fileURL(png), 200, 0);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(200, 100));
    EXPECT_FALSE(ImageProbe::thumbnail(fileURL(png), 200, 1000));
    const QString text = dir.write("b.png", QByteArray(2048, 'x'));
    EXPECT_FALSE(ImageProbe::thumbnail(fileURL(text), 200, 0));
    EXPECT_FALSE(ImageProbe::thumbnail(fileURL(dir.file("missing.png")), 200, 0));
    EXPECT_FALSE(ImageProbe::thumbnail(fileURL(dir.path()), 200, 0));
    EXPECT_FALSE(ImageProbe::thumbnail(QUrl("https://example.com/a.png"), 200, 0));
}

// A drawing under any picture's name, as a file or as bytes handed over inline, and one that
// holds such a drawing inside it: none ever shows the private picture it names.
TEST(ImageProbe, ADrawingNeverDrawsInAnotherPictureOfTheUsers) {
    TempDir dir;
    const QString secret = Hostile::writePrivatePicture(dir.file("private.png"), Qt::red);
    const QByteArray naming = Hostile::drawingNaming(secret);
    const QByteArray nested = Hostile::drawingOf("data:image/svg+xml;base64," + naming.toBase64());
    for (const QByteArray& drawing : {naming, nested}) {
        QList<std::optional<QImage>> thumbs{
            ImageProbe::thumbnail(QUrl::fromLocalFile(dir.write("card.svg", drawing)), 100, 0)};
        if (const auto inline_ = ImageProbe::source(drawing)) {
            thumbs.append(ImageProbe::thumbnail(*inline_, 100, 0));
        }
        for (const char* name : {"card.png", "card.jpg", "card.gif", "card.webp", "card.heic"}) {
            thumbs.append(ImageProbe::thumbnail(fileURL(dir.write(name, drawing)), 100, 0));
        }
        ASSERT_EQ(thumbs.size(), 7);
        for (const auto& thumb : thumbs) {
            ASSERT_TRUE(thumb);
            EXPECT_EQ(Hostile::pixelsNear(*thumb, Qt::red), 0);
            EXPECT_GT(Hostile::pixelsNear(*thumb, QColor(0, 192, 0)), 0);
        }
    }
}

TEST(ImageProbe, AFileLargerThanTheBoundIsNotRead) {
    TempDir dir;
    const QString path = dir.write("huge.png", TestImages::png(64, 64));
    ASSERT_TRUE(QFile::resize(path, ImageProbe::maxImageBytes + 1)); // sparse: costs no disk
    EXPECT_FALSE(ImageProbe::source(fileURL(path)));
    ASSERT_TRUE(QFile::resize(path, 4096));
    EXPECT_TRUE(ImageProbe::source(fileURL(path)));
}

TEST(ImageProbe, WriteJPEG) {
    TempDir dir;
    const QImage image = TestImages::noise(120, 80);
    const QString path = dir.file("t.jpg");
    ASSERT_TRUE(ImageProbe::writeJPEG(image, fileURL(path)));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    EXPECT_EQ(reader.size(), QSize(120, 80));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Replacing an existing file.
    ASSERT_TRUE(ImageProbe::writeJPEG(TestImages::noise(30, 20), fileURL(path)));
    EXPECT_EQ(QImageReader(path).size(), QSize(30, 20));
    // A picture with transparency is written too.
    QImage alpha(40, 40, QImage::Format_ARGB32);
    alpha.fill(Qt::transparent);
    EXPECT_TRUE(ImageProbe::writeJPEG(alpha, fileURL(dir.file("alpha.jpg"))));
    EXPECT_FALSE(ImageProbe::writeJPEG(image, fileURL(dir.file("no/such/folder/t.jpg"))));
    EXPECT_FALSE(ImageProbe::writeJPEG(QImage(), fileURL(dir.file("null.jpg"))));
}

TEST(ImageProbe, WriteThumbnail) {
    TempDir dir;
    const auto source = ImageProbe::source(TestImages::png(1000, 500));
    ASSERT_TRUE(source);
    const QString path = dir.file("thumb.jpg");
    ASSERT_TRUE(ImageProbe::writeThumbnail(*source, fileURL(path)));
    EXPECT_EQ(QImageReader(path).size(), QSize(360, 180));
    EXPECT_FALSE(ImageProbe::writeThumbnail(*source, fileURL(dir.file("none/thumb.jpg"))));
}
