#include "Platform/PngImage.h"

#include "Platform/BoxScaler.h"

#include <png.h>

#include <cstring>
#include <memory>
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
    bool interlaced = false;
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

// Only plain data lives here (libpng may jump back to the setjmp below from any png_* call).
bool readRows(png_structp png, png_infop info, Decode* decode) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, decode, &readFromMemory);
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
        decode->interlaced = true;
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

} // namespace

bool isPng(QByteArrayView bytes) {
    return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, sizeof signature) == 0;
}

QImage thumbnail(QByteArrayView bytes, QSize to, bool* interlaced) {
    if (interlaced != nullptr) {
        *interlaced = false;
    }
    if (!isPng(bytes) || to.isEmpty()) {
        return QImage();
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
    if (interlaced != nullptr) {
        *interlaced = decode.interlaced;
    }
    if (!read || !decode.scaler) {
        return QImage();
    }
    return decode.scaler->take();
}

} // namespace ostrel::PngImage
