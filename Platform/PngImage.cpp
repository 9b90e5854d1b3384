#include "Platform/PngImage.h"

#include "Platform/BoxScaler.h"
#include "Platform/MemoryBudget.h"
#include "Platform/PngRows.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace ostrel::PngImage {

namespace {

constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Everything one decode works with. It lives in the caller's frame, outside the function that
// libpng may jump back into, so that no destructor is ever skipped.
struct Decode {
    QByteArrayView bytes;
    qsizetype position = 0;
    QSize to;
    std::unique_ptr<BoxScaler> scaler;
    std::vector<QRgb> row;
};

void readFromMemory(png_structp png, png_bytep into, png_size_t count) {
    auto* decode = static_cast<Decode*>(png_get_io_ptr(png));
    if (static_cast<qsizetype>(count) > decode->bytes.size() - decode->position) {
        png_error(png, "truncated");
    }
    std::memcpy(into, decode->bytes.data() + decode->position, count);
    decode->position += static_cast<qsizetype>(count);
}

// Errors end the decode without a word: a broken picture is an ordinary input here.
void quietError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void quietWarning(png_structp /*png*/, png_const_charp /*message*/) {}

// The most libpng may allocate for one chunk (a palette takes 768 bytes).
constexpr png_alloc_size_t chunkLimit = 64 * 1024;

// Only plain data lives here (libpng may jump back to the setjmp below from any png_* call).
bool readRows(png_structp png, png_infop info, Decode* decode) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, decode, &readFromMemory);
    // No ancillary chunk says anything a thumbnail needs: they are skipped unread. Text and
    // profiles are where a few bytes claim gigabytes, and libpng would allocate, and zero, what
    // the chunk claims; nothing else it keeps may take more than a little either.
    static const png_byte ancillary[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0"
                                        "pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, ancillary, sizeof ancillary / 5);
    png_set_chunk_malloc_max(png, chunkLimit);
    // The checksums cost a tenth of the decode and guard nothing we keep.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
        return false;
    }
    const bool alpha =
        (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Whatever the stored form, 8-bit channels in the byte order of a QRgb value.
    png_set_expand(png);
    if (bitDepth == 16) {
        png_set_scale_16(png);
    }
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(png);
    }
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        png_set_bgr(png);
        if (!alpha) {
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
        }
    } else {
        if (alpha) {
            png_set_swap_alpha(png);
        } else {
            png_set_filler(png, 0xff, PNG_FILLER_BEFORE);
        }
    }
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) {
        return false;
    }
    decode->row.resize(width);
    decode->scaler = std::make_unique<BoxScaler>(
        QSize(static_cast<int>(width), static_cast<int>(height)), decode->to);
    auto* row = reinterpret_cast<png_bytep>(decode->row.data());
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        if (alpha) {
            for (QRgb& pixel : decode->row) {
                pixel = qPremultiply(pixel);
            }
        }
        decode->scaler->addRow(decode->row.data());
    }
    // The chunks after the pixels say nothing a thumbnail needs.
    return true;
}

quint32 bigEndian32(const uchar* p) {
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

bool isType(const uchar* p, const char (&type)[5]) {
    return std::memcmp(p, type, 4) == 0;
}

// Screenshots are nearly all 8-bit RGB or RGBA without interlacing. For those we inflate and
// unfilter the pixels ourselves: libpng's row filters run a byte at a time and it widens every
// RGB pixel to four bytes before we see it, which together cost more than inflating.
struct Plain {
    quint32 width = 0;
    quint32 height = 0;
    int pixelBytes = 0;
    // Where the first IDAT chunk starts.
    qsizetype pixels = 0;
};

// The picture's layout when it is a plain one; nothing for every other kind, and for anything
// unusual before the pixels, which libpng then judges as before.
std::optional<Plain> plainPicture(QByteArrayView bytes) {
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    if (size < 33 || bigEndian32(data + 8) != 13 || !isType(data + 12, "IHDR")) {
        return std::nullopt;
    }
    Plain plain;
    plain.width = bigEndian32(data + 16);
    plain.height = bigEndian32(data + 20);
    const int depth = data[24];
    const int colorType = data[25];
    // Compression method, filter method and interlacing all zero.
    if (depth != 8 || (colorType != 2 && colorType != 6) || data[26] != 0 || data[27] != 0 ||
        data[28] != 0) {
        return std::nullopt;
    }
    if (plain.width == 0 || plain.height == 0 || plain.width > largestSide ||
        plain.height > largestSide) {
        return std::nullopt;
    }
    plain.pixelBytes = colorType == 6 ? 4 : 3;
    for (qsizetype at = 33; at + 8 <= size;) {
        const quint32 length = bigEndian32(data + at);
        const uchar* type = data + at + 4;
        if (length > 0x7fffffffu) {
            return std::nullopt;
        }
        if (isType(type, "IDAT")) {
            plain.pixels = at;
            return plain;
        }
        // A transparent colour makes an RGB picture one with alpha; any other critical chunk
        // than a suggested palette is libpng's to refuse.
        if (isType(type, "tRNS") || ((type[0] & 0x20) == 0 && !isType(type, "PLTE"))) {
            return std::nullopt;
        }
        at += 12 + static_cast<qsizetype>(length);
    }
    return std::nullopt;
}

// Hands the IDAT chunks' data to zlib one chunk after another. The chunks' CRCs go unread.
class PixelStream {
public:
    PixelStream(QByteArrayView bytes, qsizetype firstChunk)
        : data_(reinterpret_cast<const uchar*>(bytes.data())), size_(bytes.size()),
          next_(firstChunk) {}

    // Points `z` at the next run of pixel data; false once there is none, or the file ends.
    bool feed(z_stream& z) {
        while (next_ + 8 <= size_ && isType(data_ + next_ + 4, "IDAT")) {
            const qsizetype length = bigEndian32(data_ + next_);
            const qsizetype start = next_ + 8;
            const qsizetype available = std::min(length, size_ - start);
            next_ = start + length + 4;
            if (available > 0) {
                z.next_in = const_cast<uchar*>(data_ + start);
                z.avail_in = static_cast<uInt>(available);
                return true;
            }
        }
        return false;
    }

private:
    const uchar* data_;
    qsizetype size_;
    qsizetype next_;
};

struct Inflater {
    z_stream z{};
    bool ready = false;
    Inflater() {
        ready = inflateInit(&z) == Z_OK;
        // The Adler-32 of the pixels guards nothing a thumbnail needs, and costs a tenth.
        if (ready) {
            inflateValidate(&z, 0);
        }
    }
    ~Inflater() {
        if (ready) {
            inflateEnd(&z);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

// The unfiltering reads a little past a row's end.
constexpr size_t slack = 16;

// Unfilters inflated rows and sums them into the thumbnail.
class PlainRows {
public:
    PlainRows(const Plain& plain, QSize to)
        : pixelBytes_(plain.pixelBytes), width_(plain.width),
          rowBytes_(width_ * static_cast<size_t>(pixelBytes_)), zeros_(rowBytes_ + slack, 0),
          premultiplied_(pixelBytes_ == 4 ? width_ : 0),
          scaler_(QSize(static_cast<int>(plain.width), static_cast<int>(plain.height)), to) {}

    size_t rowBytes() const { return rowBytes_; }
    // Every row is led by its filter type.
    size_t stride() const { return rowBytes_ + 1; }

    // `count` rows one after another; `above` is the row before them, unfiltered (nothing for the
    // first). False on a filter type that does not exist.
    bool add(uchar* rows, size_t count, const uchar* above) {
        if (above == nullptr) {
            above = zeros_.data();
        }
        for (size_t r = 0; r < count; ++r) {
            uchar* row = rows + r * stride() + 1;
            if (!PngRows::unfilter(row[-1], pixelBytes_, row, above, rowBytes_)) {
                return false;
            }
            if (pixelBytes_ == 3) {
                scaler_.addRgbRow(row);
            } else {
                for (size_t x = 0; x < width_; ++x) {
                    const uchar* p = row + x * 4;
                    premultiplied_[x] = qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
                }
                scaler_.addRow(premultiplied_.data());
            }
            above = row;
        }
        return true;
    }

    QImage take() { return scaler_.take(); }

private:
    int pixelBytes_;
    size_t width_;
    size_t rowBytes_;
    std::vector<uchar> zeros_;
    std::vector<QRgb> premultiplied_;
    BoxScaler scaler_;
};

// A damaged or short pixel stream gives no picture, as through libpng.
QImage thumbnailStreamed(QByteArrayView bytes, const Plain& plain, QSize to) {
    PlainRows rows(plain, to);
    const size_t stride = rows.stride();
    // Rows are inflated some at a time, enough for zlib to run long without being stopped.
    const size_t batch = std::clamp<size_t>((128 * 1024) / stride, 1, plain.height);
    std::vector<uchar> buffer(batch * stride + slack);
    std::vector<uchar> prior(rows.rowBytes() + slack, 0);
    Inflater inflater;
    if (!inflater.ready) {
        return QImage();
    }
    z_stream& z = inflater.z;
    PixelStream stream(bytes, plain.pixels);
    for (size_t y = 0; y < plain.height;) {
        const size_t count = std::min<size_t>(batch, plain.height - y);
        z.next_out = buffer.data();
        z.avail_out = static_cast<uInt>(count * stride);
        while (z.avail_out > 0) {
            if (z.avail_in == 0 && !stream.feed(z)) {
                return QImage();
            }
            const int status = inflate(&z, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                if (z.avail_out > 0) {
                    return QImage();
                }
                break;
            }
            if (status != Z_OK) {
                return QImage();
            }
        }
        if (!rows.add(buffer.data(), count, y == 0 ? nullptr : prior.data())) {
            return QImage();
        }
        std::memcpy(prior.data(), buffer.data() + (count - 1) * stride + 1, rows.rowBytes());
        y += count;
    }
    return rows.take();
}

bool isZlibHeader(const uchar* p) {
    // Deflate, a window of at most 32 KB, a valid check, no preset dictionary.
    return (p[0] & 0x0f) == 8 && (p[0] >> 4) <= 7 && ((p[0] << 8) | p[1]) % 31 == 0 &&
           (p[1] & 0x20) == 0;
}

// The whole pixel data inflated at once, its bytes held from `budget`. Nothing when it cannot be
// done so (too large, or a stream libdeflate refuses): streaming then decides, as it would have.
std::optional<QImage> thumbnailWhole(QByteArrayView bytes, const Plain& plain, QSize to,
                                     MemoryBudget& budget) {
    PlainRows rows(plain, to);
    const size_t raw = rows.stride() * plain.height;
    // libdeflate inflates in one piece several times faster than zlib's streaming inflate.
    if (raw > static_cast<size_t>(wholeInflateLimit)) {
        return std::nullopt;
    }
    // The IDAT chunks' data: used in place when it is one chunk, copied together otherwise.
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    const auto eachChunk = [&](const auto& visit) {
        for (qsizetype at = plain.pixels;
             at + 8 <= bytes.size() && isType(data + at + 4, "IDAT");) {
            const qsizetype length = bigEndian32(data + at);
            const qsizetype start = at + 8;
            visit(start, std::min(length, bytes.size() - start));
            at = start + length + 4;
        }
    };
    qsizetype compressed = 0;
    qsizetype chunks = 0;
    const uchar* in = nullptr;
    eachChunk([&](qsizetype start, qsizetype length) {
        in = chunks++ == 0 ? data + start : in;
        compressed += length;
    });
    if (compressed < 2) {
        return std::nullopt;
    }
    const size_t copied = chunks > 1 ? static_cast<size_t>(compressed) : 0;
    const MemoryBudget::Hold hold = budget.acquire(static_cast<qint64>(raw + slack + copied));
    std::vector<uchar> joined;
    if (copied > 0) {
        joined.reserve(copied);
        eachChunk([&](qsizetype start, qsizetype length) {
            joined.insert(joined.end(), data + start, data + start + length);
        });
        in = joined.data();
    }
    if (!isZlibHeader(in)) {
        return std::nullopt;
    }
    const auto out = std::make_unique_for_overwrite<uchar[]>(raw + slack);
    std::memset(out.get() + raw, 0, slack);
    // Raw deflate after the two-byte header: the Adler-32 after it goes unchecked.
    libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    if (inflater == nullptr) {
        return std::nullopt;
    }
    const libdeflate_result result = libdeflate_deflate_decompress(
        inflater, in + 2, static_cast<size_t>(compressed) - 2, out.get(), raw, nullptr);
    libdeflate_free_decompressor(inflater);
    if (result != LIBDEFLATE_SUCCESS) {
        return std::nullopt;
    }
    if (!rows.add(out.get(), plain.height, nullptr)) {
        return QImage();
    }
    return rows.take();
}

} // namespace

bool isPng(QByteArrayView bytes) {
    return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, sizeof signature) == 0;
}

QImage thumbnail(QByteArrayView bytes, QSize to, MemoryBudget* budget) {
    if (!isPng(bytes) || to.isEmpty()) {
        return QImage();
    }
    if (const auto plain = plainPicture(bytes)) {
        if (budget != nullptr) {
            if (auto image = thumbnailWhole(bytes, *plain, to, *budget)) {
                return *std::move(image);
            }
        }
        return thumbnailStreamed(bytes, *plain, to);
    }
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &quietError, &quietWarning);
    if (png == nullptr) {
        return QImage();
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return QImage();
    }
    Decode decode;
    decode.bytes = bytes;
    decode.to = to;
    const bool read = readRows(png, info, &decode);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!read || !decode.scaler) {
        return QImage();
    }
    return decode.scaler->take();
}

} // namespace ostrel::PngImage
