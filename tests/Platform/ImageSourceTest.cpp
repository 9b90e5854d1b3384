#include "Platform/ImageSource.h"

#include "support/HostilePictures.h"
#include "support/PeakMemory.h"
#include "support/PictureBytes.h"

#include <gtest/gtest.h>

using namespace ostrel;
using Kind = ImageFormat::Kind;
namespace Hostile = ostrel::test::HostilePictures;

namespace {

QByteArray encoded(const char* format, QSize size = {6, 4}, int quality = -1) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    return test::encoded(image, format, quality);
}

} // namespace

TEST(ImageFormat, APictureIsKnownByItsBytesAndItsStructureMustLieWithinThem) {
    for (const auto& [format, kind] :
         {std::pair{"png", Kind::png}, std::pair{"jpeg", Kind::jpeg}, std::pair{"bmp", Kind::bmp},
          std::pair{"tiff", Kind::tiff}, std::pair{"webp", Kind::webp}}) {
        const ImageFormat found = ImageFormat::of(encoded(format));
        EXPECT_EQ(found.kind, kind) << format;
        EXPECT_EQ(found.size, QSize(6, 4)) << format;
        EXPECT_TRUE(found.whole) << format;
    }
    EXPECT_EQ(ImageFormat::of(Hostile::gifClaimingScreen(6, 4)).size, QSize(6, 4));
    // A drawing is one whose first element is "svg", whatever comes before it.
    EXPECT_EQ(ImageFormat::of("\xef\xbb\xbf<?xml version='1.0'?>\n<!-- by hand -->\n<!DOCTYPE svg "
                              "[<!ENTITY a '>'>]>\n<svg:svg xmlns:svg='x'/>")
                  .kind,
              Kind::svg);
    EXPECT_EQ(ImageFormat::of("<!DOCTYPE html><html><body><svg/></body></html>").kind, Kind::none);
    EXPECT_EQ(ImageFormat::of("plain text").kind, Kind::none);

    // Cut short in its pixels, a PNG keeps its size and may still be read row by row; a WebP
    // whose chunks claim more than the bytes hold goes to no decoder.
    const QByteArray png = encoded("png", {300, 200}, 0);
    const ImageFormat cut = ImageFormat::of(png.left(png.size() - 40));
    EXPECT_EQ(cut.kind, Kind::png);
    EXPECT_EQ(cut.size, QSize(300, 200));
    EXPECT_FALSE(cut.whole);
    EXPECT_TRUE(cut.decodable({30, 20}));
    const QByteArray webp = encoded("webp", {300, 200}, 100);
    const ImageFormat cutWebp = ImageFormat::of(webp.left(webp.size() - 4));
    EXPECT_EQ(cutWebp.size, QSize(300, 200));
    EXPECT_FALSE(cutWebp.decodable({30, 20}));
    // A chunk that claims to run past the end, before the pixels or after them.
    EXPECT_FALSE(ImageFormat::of(Hostile::pngClaimingChunk(8, false)).whole);
    EXPECT_FALSE(ImageFormat::of(Hostile::pngClaimingChunk(8, true)).whole);

    // What a HEIC costs is what its HEVC stream declares, not what its "ispe" box says.
    if (const auto heic = Hostile::heicUnderstatingSize(512, 384)) {
        const ImageFormat understated = ImageFormat::of(*heic);
        EXPECT_EQ(understated.kind, Kind::heif);
        EXPECT_EQ(understated.size, QSize(64, 64));
        EXPECT_GE(understated.decodeBytes({64, 64}), 512 * 384 * 4);
    }
}

// Each picture is a few hundred bytes claiming hundreds of megabytes to gigabytes. Opening it and
// decoding it as a card, a preview and Copy Image do must add little to the peak; the size its
// header gives is kept, so an item is never lost for it.
TEST(ImageSource, AFewHundredBytesNeverCostMoreThanAScreenshot) {
    const QList<std::pair<const char*, QByteArray>> pictures{
        {"PNG, chunk before the pixels", Hostile::pngClaimingChunk(8, false)},
        {"PNG, chunk after the pixels", Hostile::pngClaimingChunk(200, true)},
        {"interlaced PNG, chunk after the pixels", Hostile::pngClaimingChunk(8, true, true)},
        {"GIF", Hostile::gifClaimingScreen(5000, 5000)},
        {"WebP", Hostile::webpClaimingSize(5000, 5000)},
        {"progressive JPEG", Hostile::progressiveJpegClaimingSize(16000, 16000)},
        {"TIFF", Hostile::tiffClaimingSize(5000, 5000)},
        {"drawing holding the first",
         Hostile::drawingEmbedding(Hostile::pngClaimingChunk(8, false))},
    };
    for (const auto& [name, bytes] : pictures) {
        std::optional<ImageSource> source;
        const double growth = test::peakGrowthMiB([&] {
            source = ImageSource::open(bytes);
            if (source) {
                (void)source->picture(360);
                (void)source->wholePicture();
            }
        });
        EXPECT_LT(growth, 64) << name;
        EXPECT_LE(bytes.size(), 2048) << name;
    }
    const auto bomb = ImageSource::open(Hostile::pngClaimingChunk(8, false));
    ASSERT_TRUE(bomb);
    EXPECT_EQ(bomb->pixelSize(), QSize(8, 8));
}
