#include "TestImages.h"

#include "support/PictureBytes.h"

#include <QRandomGenerator>

#include <vector>

#include <libheif/heif.h>
#include <png.h>

namespace ostrel::test::TestImages {

QImage noise(int width, int height, quint32 seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = 0xff000000u | (random.generate() & 0x00ffffffu);
        }
    }
    return image;
}

QByteArray encode(const QImage& image, const char* format, int quality) {
    return encoded(image, format, quality);
}

QByteArray png(int width, int height, quint32 seed) {
    return encode(noise(width, height, seed), "png");
}

QByteArray interlacedPng(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t length) {
            static_cast<QByteArray*>(png_get_io_ptr(p))
                ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgba.width()),
                 static_cast<png_uint_32>(rgba.height()), 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows;
    for (int y = 0; y < rgba.height(); ++y) {
        rows.push_back(const_cast<png_bytep>(rgba.constScanLine(y)));
    }
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

QByteArray webp(int width, int height, quint32 seed) {
    return encode(noise(width, height, seed), "webp", 90);
}

QByteArray jpeg(int width, int height, std::optional<int> orientation, quint32 seed) {
    QByteArray bytes = encode(noise(width, height, seed), "jpeg", 90);
    if (!orientation) {
        return bytes;
    }
    // APP1 "Exif\0\0", a big-endian TIFF header and IFD0 with one entry: Orientation (0x0112),
    // type SHORT, count 1.
    QByteArray tiff;
    tiff.append("MM\x00\x2a", 4);
    tiff.append("\x00\x00\x00\x08", 4); // IFD0 offset
    tiff.append("\x00\x01", 2);         // one entry
    tiff.append("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff.append(static_cast<char>(0));
    tiff.append(static_cast<char>(*orientation));
    tiff.append("\x00\x00", 2);         // value padding
    tiff.append("\x00\x00\x00\x00", 4); // no next IFD
    QByteArray segment("\xff\xe1", 2);
    const int length = 2 + 6 + static_cast<int>(tiff.size());
    segment.append(static_cast<char>((length >> 8) & 0xff));
    segment.append(static_cast<char>(length & 0xff));
    segment.append("Exif\x00\x00", 6);
    segment.append(tiff);
    bytes.insert(2, segment); // right after SOI
    return bytes;
}

namespace {

// Packs codes of `width` bits least-significant bit first, as GIF's LZW stream wants.
class BitWriter {
public:
    void put(quint32 code, int width) {
        accumulator_ |= static_cast<quint64>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            out_.append(static_cast<char>(accumulator_ & 0xff));
            accumulator_ >>= 8;
            bits_ -= 8;
        }
    }
    QByteArray finish() {
        if (bits_ > 0) {
            out_.append(static_cast<char>(accumulator_ & 0xff));
        }
        return out_;
    }

private:
    QByteArray out_;
    quint64 accumulator_ = 0;
    int bits_ = 0;
};

void putLE16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xff));
    out.append(static_cast<char>((value >> 8) & 0xff));
}

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xffffffffu;
    for (const char ch : data) {
        crc ^= static_cast<quint8>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void putBE32(QByteArray& out, qsizetype at, quint32 value) {
    out[at] = static_cast<char>((value >> 24) & 0xff);
    out[at + 1] = static_cast<char>((value >> 16) & 0xff);
    out[at + 2] = static_cast<char>((value >> 8) & 0xff);
    out[at + 3] = static_cast<char>(value & 0xff);
}

} // namespace

QByteArray gif(int width, int height, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray out("GIF89a");
    putLE16(out, width);
    putLE16(out, height);
    out.append(static_cast<char>(0xf7)); // global colour table, 8 bits, 256 entries
    out.append('\0');                    // background colour
    out.append('\0');                    // aspect
    for (int i = 0; i < 256; ++i) {
        out.append(static_cast<char>(i));
        out.append(static_cast<char>(255 - i));
        out.append(static_cast<char>((i * 7) & 0xff));
    }
    out.append(',');
    putLE16(out, 0);
    putLE16(out, 0);
    putLE16(out, width);
    putLE16(out, height);
    out.append('\0');                 // no local table, not interlaced
    out.append(static_cast<char>(8)); // LZW minimum code size
    // Every pixel a literal 9-bit code, with a clear code often enough that the table never
    // reaches 512 entries and the code width stays 9 bits.
    BitWriter bits;
    constexpr quint32 clear = 256;
    constexpr quint32 end = 257;
    bits.put(clear, 9);
    int sinceClear = 0;
    for (int i = 0; i < width * height; ++i) {
        if (sinceClear == 250) {
            bits.put(clear, 9);
            sinceClear = 0;
        }
        bits.put(random.generate() & 0xff, 9);
        ++sinceClear;
    }
    bits.put(end, 9);
    const QByteArray data = bits.finish();
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype n = std::min<qsizetype>(255, data.size() - at);
        out.append(static_cast<char>(n));
        out.append(data.mid(at, n));
    }
    out.append('\0'); // block terminator
    out.append(';');  // trailer
    return out;
}

QByteArray svg(int width, int height) {
    QByteArray out = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                    "height=\"%2\" viewBox=\"0 0 %1 %2\">\n")
                         .arg(width)
                         .arg(height)
                         .toUtf8();
    for (int i = 0; i < 20; ++i) {
        out += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" "
                              "fill=\"#%3\"/>\n")
                   .arg(i * 3)
                   .arg(i * 2)
                   .arg(i * 123456 % 0xffffff, 6, 16, QLatin1Char('0'))
                   .toUtf8();
    }
    out += "</svg>\n";
    return out;
}

std::optional<QByteArray> heic(int width, int height, quint32 seed) {
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            plane[y * stride + x] = static_cast<uint8_t>(random.generate() & 0xff);
        }
    }
    return encodedHeic(image, 90);
}

QByteArray pngClaimingSize(const QByteArray& png, quint32 width, quint32 height) {
    // Signature (8), IHDR length (4), "IHDR" (4), width (4) at 16, height (4) at 20, CRC after
    // the 13 data bytes at 29.
    QByteArray out = png;
    putBE32(out, 16, width);
    putBE32(out, 20, height);
    putBE32(out, 29, crc32(out.mid(12, 4 + 13)));
    return out;
}

QByteArray junk(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(random.generate() & 0xff);
    }
    // Never a lucky image signature.
    out[0] = 'J';
    return out;
}

} // namespace ostrel::test::TestImages
