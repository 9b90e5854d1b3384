#include "Platform/PngImage.h"
#include "Platform/MemoryBudget.h"
#include "Platform/PngRows.h"

#include <QImage>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <vector>

using namespace ostrel;

namespace {

// Noise in every channel, alpha included when asked, so that each filter sees every case.
QImage noise(int width, int height, bool alpha) {
    QImage picture(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 value = random.generate();
            line[x] = alpha ? value : (value | 0xff000000u);
        }
    }
    return picture;
}

// What the budget holds as libdeflate makes its inflater, just before it inflates, while this
// lives.
struct HeldAtInflate {
    static inline MemoryBudget* budget = nullptr;
    static inline qint64 held = -1;
    explicit HeldAtInflate(MemoryBudget& watched) {
        budget = &watched;
        held = -1;
        libdeflate_set_memory_allocator(
            [](size_t size) {
                held = budget->held();
                return std::malloc(size);
            },
            std::free);
    }
    ~HeldAtInflate() { libdeflate_set_memory_allocator(std::malloc, std::free); }
    HeldAtInflate(const HeldAtInflate&) = delete;
    HeldAtInflate& operator=(const HeldAtInflate&) = delete;
};

void appendToBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

// The picture as 8-bit RGB or RGBA, every row with the one filter `filter` (a PNG_FILTER_ flag).
QByteArray encode(const QImage& picture, int filter) {
    const bool alpha = picture.hasAlphaChannel();
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, &appendToBytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
                 static_cast<png_uint_32>(picture.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);
    png_write_info(png, info);
    std::vector<unsigned char> row(static_cast<size_t>(picture.width()) * 4);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        unsigned char* p = row.data();
        for (int x = 0; x < picture.width(); ++x) {
            *p++ = static_cast<unsigned char>(qRed(line[x]));
            *p++ = static_cast<unsigned char>(qGreen(line[x]));
            *p++ = static_cast<unsigned char>(qBlue(line[x]));
            if (alpha) {
                *p++ = static_cast<unsigned char>(qAlpha(line[x]));
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data) {
    const auto be32 = [&](quint32 v) {
        for (const int shift : {24, 16, 8, 0}) {
            png.append(static_cast<char>((v >> shift) & 0xff));
        }
    };
    be32(static_cast<quint32>(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    png.append(typed);
    be32(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()),
                                    static_cast<uInt>(typed.size()))));
}

// A 3-pixel-wide RGB picture whose pixel stream is `rows` (filter bytes included), deflated.
QByteArray rgbPng(int height, const QByteArray& rows) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header("\0\0\0\3\0\0\0\0\x08\x02\0\0\0", 13);
    header[7] = static_cast<char>(height);
    appendChunk(png, "IHDR", header);
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    QByteArray deflated(static_cast<qsizetype>(size), '\0');
    compress(reinterpret_cast<Bytef*>(deflated.data()), &size,
             reinterpret_cast<const Bytef*>(rows.constData()), static_cast<uLong>(rows.size()));
    deflated.truncate(static_cast<qsizetype>(size));
    appendChunk(png, "IDAT", deflated);
    appendChunk(png, "IEND", {});
    return png;
}

} // namespace

// Decoded at its own size, a picture comes out pixel for pixel as Qt reads it, whichever filter
// its rows carry, whether its pixels have three bytes or four, and whether it is inflated whole
// or streamed. The odd width leaves a tail after every whole vector register.
TEST(PngImage, EveryFilterOfRgbAndRgbaDecodesAsQtDoes) {
    MemoryBudget budget(64 * 1024 * 1024);
    const std::pair<const char*, int> filters[] = {
        {"none", PNG_FILTER_NONE}, {"sub", PNG_FILTER_SUB},     {"up", PNG_FILTER_UP},
        {"avg", PNG_FILTER_AVG},   {"paeth", PNG_FILTER_PAETH}, {"all", PNG_ALL_FILTERS},
    };
    for (const bool alpha : {false, true}) {
        const QImage picture = noise(37, 23, alpha);
        for (const auto& [name, filter] : filters) {
            SCOPED_TRACE(std::string(name) + (alpha ? " rgba" : " rgb"));
            const QByteArray bytes = encode(picture, filter);
            const QImage::Format format =
                alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
            const QImage qt = QImage::fromData(bytes, "png").convertToFormat(format);
            for (MemoryBudget* whole : {&budget, static_cast<MemoryBudget*>(nullptr)}) {
                const HeldAtInflate inflating(budget);
                const QImage mine = PngImage::thumbnail(bytes, picture.size(), whole);
                ASSERT_EQ(mine.size(), picture.size());
                EXPECT_EQ(mine.convertToFormat(format), qt) << (whole ? "whole" : "streamed");
                if (whole) {
                    // Inflated whole, its rows are held from the budget until they are decoded.
                    EXPECT_GE(HeldAtInflate::held, (37 * (alpha ? 4 : 3) + 1) * 23);
                }
            }
        }
    }
}

// The vector unfiltering and the plain one agree on every filter, pixel size and row length.
TEST(PngImage, VectorAndPlainUnfilteringAgree) {
    QRandomGenerator random(11);
    for (const int pixelBytes : {3, 4}) {
        for (const size_t width : {1, 5, 6, 33}) {
            const size_t length = width * static_cast<size_t>(pixelBytes);
            std::vector<unsigned char> prior(length + 16);
            std::vector<unsigned char> row(length + 16);
            for (auto& byte : prior) {
                byte = static_cast<unsigned char>(random.bounded(256));
            }
            for (auto& byte : row) {
                byte = static_cast<unsigned char>(random.bounded(256));
            }
            for (int filter = 0; filter <= 4; ++filter) {
                auto vector = row;
                auto plain = row;
                ASSERT_TRUE(
                    PngRows::unfilter(filter, pixelBytes, vector.data(), prior.data(), length));
                ASSERT_TRUE(
                    PngRows::unfilterPlain(filter, pixelBytes, plain.data(), prior.data(), length));
                EXPECT_EQ(vector, plain) << filter << " " << pixelBytes << " " << width;
            }
        }
    }
}

// Damaged pixel data gives no picture, inflated whole or streamed, never a crash or a read past
// the bytes given.
TEST(PngImage, DamagedPixelDataGivesNoPicture) {
    MemoryBudget budget(64 * 1024 * 1024);
    const QByteArray good = encode(noise(300, 200, false), PNG_ALL_FILTERS);
    QByteArray corrupt = good;
    // A deflate block of a type that does not exist, just after the stream's header.
    corrupt[good.indexOf("IDAT") + 6] = static_cast<char>(0xff);
    const QByteArray row("\0\1\2\3\4\5\6\7\x08\x09", 10);
    for (MemoryBudget* whole : {&budget, static_cast<MemoryBudget*>(nullptr)}) {
        SCOPED_TRACE(whole ? "whole" : "streamed");
        const auto thumbnail = [&](const QByteArray& bytes, QSize to) {
            return PngImage::thumbnail(bytes, to, whole);
        };
        ASSERT_FALSE(thumbnail(good, QSize(60, 40)).isNull());
        // Cut anywhere inside the pixel data.
        for (qsizetype at = 60; at < good.size() - 40; at += 997) {
            EXPECT_TRUE(thumbnail(good.left(at), QSize(60, 40)).isNull()) << at;
        }
        EXPECT_TRUE(thumbnail(corrupt, QSize(60, 40)).isNull());
        // A filter type that does not exist, and a stream one row short.
        EXPECT_FALSE(thumbnail(rgbPng(2, row + row), QSize(3, 2)).isNull());
        EXPECT_TRUE(thumbnail(rgbPng(2, row + "\x07" + row.mid(1)), QSize(3, 2)).isNull());
        EXPECT_TRUE(thumbnail(rgbPng(3, row + row), QSize(3, 2)).isNull());
    }
}

// An 8-bit RGB picture with a transparent colour ("tRNS") is one with alpha: that colour comes
// out transparent, inflated whole or streamed.
TEST(PngImage, AnRgbPictureWithATransparentColourKeepsItsTransparency) {
    QByteArray png;
    png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(write);
    png_set_write_fn(write, &png, &appendToBytes, nullptr);
    png_set_IHDR(write, info, 2, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color_16 key{};
    key.red = 10;
    key.green = 20;
    key.blue = 30;
    png_set_tRNS(write, info, nullptr, 0, &key);
    png_write_info(write, info);
    unsigned char row[] = {10, 20, 30, 200, 100, 50};
    png_write_row(write, row);
    png_write_end(write, info);
    png_destroy_write_struct(&write, &info);
    MemoryBudget budget(64 * 1024 * 1024);
    for (MemoryBudget* whole : {&budget, static_cast<MemoryBudget*>(nullptr)}) {
        const QImage picture = PngImage::thumbnail(png, QSize(2, 1), whole);
        ASSERT_EQ(picture.size(), QSize(2, 1));
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
        EXPECT_EQ(picture.pixel(1, 0), qRgb(200, 100, 50));
    }
}
