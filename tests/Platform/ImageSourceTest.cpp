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
    // A frame beyond the screen, at 16191 across and down, grows the canvas the frames are drawn
    // onto, and costs what that canvas does.
    QByteArray beyond = Hostile::gifClaimingScreen(6, 4);
    beyond.replace(20, 4, "\x3f\x3f\x3f\x3f");
    EXPECT_FALSE(ImageFormat::of(beyond).decodable({6, 4}));
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

// However deep a file nests its boxes or frames, the walk ends within a few levels with the
// same small stack: deeper HEIF boxes than any picture has are refused before libheif sees
// them, as are grids made of grids further than any picture goes, and a WebP frame inside a
// frame is malformed.
TEST(ImageFormat, NestingDeeperThanAnyPictureIsRefused) {
    const auto webpNested = [](int levels) {
        const auto le32 = [](quint32 v) {
            return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff) + char((v >> 16) & 0xff) +
                   char(v >> 24);
        };
        QByteArray frames;
        for (int i = levels - 1; i >= 0; --i) {
            frames += "ANMF" + le32(quint32(16 + 24 * i)) + QByteArray(16, '\0');
        }
        const QByteArray size = "VP8X" + le32(10) + QByteArray("\x02\0\0\0\x0f\0\0\x0f\0\0", 10);
        return "RIFF" + le32(quint32(4 + size.size() + frames.size())) + "WEBP" + size + frames;
    };
    for (const int levels : {1'000, 10'000, 100'000, 1'000'000}) {
        EXPECT_EQ(ImageFormat::of(Hostile::heifNested(levels)).kind, Kind::none) << levels;
        if (levels <= 100'000) {
            const ImageFormat webp = ImageFormat::of(webpNested(levels));
            EXPECT_EQ(webp.size, QSize(16, 16)) << levels;
            EXPECT_FALSE(webp.whole) << levels;
        }
    }
    if (auto grids = Hostile::heicParts(16, 16)) {
        for (int steps = 1; steps <= 9; ++steps) {
            const QSize canvas(16 << steps, 16);
            grids = Hostile::gridOf(*grids, canvas, canvas);
            EXPECT_EQ(ImageFormat::of(Hostile::heifOf(*grids)).kind,
                      steps <= 8 ? Kind::heif : Kind::none)
                << steps;
        }
    }
}

// Every entry of the property associations counts toward the walk's bound, also one that lists
// no property: a file of millions would each take a table entry.
TEST(ImageFormat, AssociationsThatListNothingStillCountTowardTheBound) {
    auto parts = Hostile::heicParts(16, 16);
    if (!parts) {
        GTEST_SKIP() << "no HEVC encoder";
    }
    parts->strayAssociations = 1000;
    EXPECT_TRUE(ImageFormat::of(Hostile::heifOf(*parts)).whole);
    parts->strayAssociations = 1u << 20; // more parts than any picture has
    EXPECT_FALSE(ImageFormat::of(Hostile::heifOf(*parts)).whole);
}

// A cost is what decoding takes, however large a header's claim: it saturates, never wrapping
// around to a small or negative number that would let a picture through uncharged. A HEIC's
// comes from its primary image and what that is made of (a grid's canvas included), never from
// an extent that no decoded image has.
TEST(ImageFormat, HugeClaimsCostAtLeastTheirPixelsAndNothingElseCounts) {
    for (int bits = 0; bits <= 31; ++bits) {
        const quint32 side = bits == 31 ? 0x7fffffffu : 1u << bits;
        for (const QByteArray& bytes : {Hostile::bmpClaimingSize(side, side),
                                        Hostile::tiffClaimingSize(int(side), int(side))}) {
            const ImageFormat format = ImageFormat::of(bytes);
            ASSERT_EQ(format.size, QSize(int(side), int(side))) << bits;
            const long double pixels = 4.0L * side * side;
            EXPECT_GE(format.decodeBytes({360, 360}),
                      std::min(pixels, (long double)std::numeric_limits<qint64>::max()))
                << bits;
            EXPECT_EQ(format.decodable({360, 360}), side < 4096) << bits;
        }
    }
    // A JPEG whose first scan lacks components is held whole as coefficients, as a progressive
    // one is: claiming 16000 × 16000, it is too large, where an interleaved one is not.
    QByteArray jpeg = encoded("jpeg", {16, 16});
    jpeg.replace(jpeg.indexOf("\xff\xc0") + 5, 4, "\x3e\x80\x3e\x80");
    ASSERT_TRUE(ImageFormat::of(jpeg).decodable({360, 360}));
    jpeg[jpeg.indexOf("\xff\xda") + 4] = 1;
    EXPECT_FALSE(ImageFormat::of(jpeg).decodable({360, 360}));

    const auto parts = Hostile::heicParts(64, 48);
    if (!parts) {
        GTEST_SKIP() << "no HEVC encoder in this libheif";
    }
    Hostile::HeifParts stray = *parts;
    stray.properties.append(Hostile::ispe(1'500'000'000u, 1'500'000'000u));
    stray.properties.append(Hostile::ispe(0xffffffffu, 0)); // unreadable, and used by none
    const ImageFormat heic = ImageFormat::of(Hostile::heifOf(stray));
    EXPECT_EQ(heic.size, QSize(64, 48));
    EXPECT_TRUE(heic.decodable({64, 48}));
    EXPECT_GE(heic.decodeBytes({64, 48}), 64 * 48 * 4);
    EXPECT_LE(heic.decodeBytes({64, 48}), 64 * 48 * 20);
    // Two tiles on a canvas of 32767 × 32767, which libheif would allocate whole.
    const ImageFormat canvas =
        ImageFormat::of(Hostile::heifOf(Hostile::gridOf(*parts, {128, 48}, {32767, 32767})));
    EXPECT_EQ(canvas.size, QSize(128, 48));
    EXPECT_GE(canvas.decodeBytes({128, 48}), 32767LL * 32767 * 4);
    EXPECT_FALSE(canvas.decodable({128, 48}));
    // A tile costs as the primary image does: one whose coded stream claims 2^30 × 2^30 at ten
    // bits saturates, never wrapping around to a negative cost. Exactly at the decode limit, at
    // eleven bytes a tile's pixel and four a shown one, a picture is decoded; one row more, not.
    const auto tiled = [&](quint32 width, quint32 height) {
        Hostile::HeifParts tile = *parts;
        tile.properties[0] = Hostile::hevcConfig(width, height, 10);
        return ImageFormat::of(Hostile::heifOf(Hostile::gridOf(tile, {128, 48}, {128, 48})));
    };
    EXPECT_EQ(tiled(1u << 30, 1u << 30).decodeBytes({5, 1}), std::numeric_limits<qint64>::max());
    ASSERT_EQ(11 * 4 * 1525201LL + 4 * 5, ImageFormat::decodeFloor);
    EXPECT_TRUE(tiled(4, 1525201).decodable({5, 1}));
    EXPECT_FALSE(tiled(4, 1525202).decodable({5, 1}));
}

// What the walk checks lies within the bytes too: a PNG chunk's check value, a TIFF strip.
TEST(ImageFormat, AChunksCheckValueAndEveryStripLieWithinTheBytes) {
    const QByteArray png = encoded("png");
    ASSERT_TRUE(ImageFormat::of(png).whole);
    EXPECT_FALSE(ImageFormat::of(png.left(png.size() - 1)).whole); // IEND without its CRC
    QByteArray tiff = Hostile::tiffClaimingSize(1, 1);
    ASSERT_TRUE(ImageFormat::of(tiff).whole);
    // The strip's byte count, the last field's value: one byte more than the file holds.
    const qsizetype count = tiff.indexOf(QByteArray("\x17\x01\x04\0\x01\0\0\0", 8)) + 8;
    tiff[count] = char(tiff[count] + 1);
    EXPECT_FALSE(ImageFormat::of(tiff).whole);
}

// A picture may take 64 times its file's size to decode, at least 64 MiB and at most 256 MiB:
// one more pixel than that allows is not decoded.
TEST(ImageFormat, TheDecodeLimitIs64TimesTheFileWithinAFloorAndACeiling) {
    constexpr qint64 MiB = 1024 * 1024;
    for (const auto& [fileBytes, width, height] :
         {std::tuple{qint64(64), 4096u, 4096u}, std::tuple{2 * MiB, 4096u, 8192u},
          std::tuple{3 * MiB + MiB / 2, 7168u, 8192u}, std::tuple{8 * MiB, 8192u, 8192u}}) {
        const ImageFormat fits =
            ImageFormat::of(Hostile::bmpClaimingSize(width, height, fileBytes));
        const ImageFormat over =
            ImageFormat::of(Hostile::bmpClaimingSize(width, height + 1, fileBytes));
        EXPECT_TRUE(fits.decodable(fits.size)) << fileBytes;
        EXPECT_FALSE(over.decodable(over.size)) << fileBytes;
    }
}
