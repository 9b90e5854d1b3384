#include "Platform/HeifImage.h"

#include "Platform/BoxScaler.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace ostrel::HeifImage {

namespace {

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;
using Image = std::unique_ptr<heif_image, ImageDeleter>;

// The primary image of the bytes; the bytes must outlive the context (read without copy).
struct Primary {
    Context context;
    Handle handle;
};

// libheif is set up once per process (thread-safe static) and never torn down, so that no
// caller on another thread finds its decoder plugins unloaded.
void initializeOnce() {
    static const bool initialized = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialized;
}

std::optional<Primary> open(QByteArrayView bytes) {
    if (!isHeif(bytes)) {
        return std::nullopt;
    }
    initializeOnce();
    Context context(heif_context_alloc());
    if (!context) {
        return std::nullopt;
    }
    heif_error err = heif_context_read_from_memory_without_copy(
        context.get(), bytes.data(), static_cast<size_t>(bytes.size()), nullptr);
    if (err.code != heif_error_Ok) {
        return std::nullopt;
    }
    heif_image_handle* raw = nullptr;
    err = heif_context_get_primary_image_handle(context.get(), &raw);
    if (err.code != heif_error_Ok || raw == nullptr) {
        return std::nullopt;
    }
    return Primary{std::move(context), Handle(raw)};
}

// The primary image decoded upright (rotation and mirroring applied to the pixels).
std::optional<Image> decode(const Primary& primary, heif_colorspace colorspace,
                            heif_chroma chroma) {
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (options) {
        options->ignore_transformations = 0;
    }
    heif_image* raw = nullptr;
    const heif_error err =
        heif_decode_image(primary.handle.get(), &raw, colorspace, chroma, options.get());
    if (err.code != heif_error_Ok || raw == nullptr) {
        return std::nullopt;
    }
    return Image(raw);
}

// How luma and chroma make red, green and blue: the weights of red and blue in luma (the rest is
// green's), and whether the samples use the full range or leave studio headroom.
struct Matrix {
    double red;
    double blue;
    bool fullRange;
};

// As the colour profile says, with libheif's own assumptions where there is none.
std::optional<Matrix> matrixOf(const heif_image* image, const heif_image_handle* handle) {
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_get_nclx_color_profile(image, &nclx).code != heif_error_Ok) {
        nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok) {
            nclx = nullptr;
        }
    }
    int coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    bool fullRange = true;
    if (nclx != nullptr) {
        coefficients = nclx->matrix_coefficients;
        fullRange = nclx->full_range_flag != 0;
        heif_nclx_color_profile_free(nclx);
    }
    switch (coefficients) {
    case heif_matrix_coefficients_ITU_R_BT_709_5:
        return Matrix{0.2126, 0.0722, fullRange};
    case heif_matrix_coefficients_ITU_R_BT_470_6_System_B_G:
    case heif_matrix_coefficients_ITU_R_BT_601_6:
    case heif_matrix_coefficients_unspecified:
        return Matrix{0.299, 0.114, fullRange};
    case heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance:
        return Matrix{0.2627, 0.0593, fullRange};
    default:
        return std::nullopt; // libheif converts the others
    }
}

// The 8-bit plane of a channel with its stride, when the picture has one of `width` × `height`.
const uint8_t* planeOf(const heif_image* img, heif_channel channel, int width, int height,
                       int* stride) {
    if (!heif_image_has_channel(img, channel) ||
        heif_image_get_bits_per_pixel_range(img, channel) != 8 ||
        heif_image_get_width(img, channel) != width ||
        heif_image_get_height(img, channel) != height) {
        return nullptr;
    }
    return heif_image_get_plane_readonly(img, channel, stride);
}

// A picture coded as red, green and blue planes (HEVC's 4:4:4 "GBR"), a row at a time.
std::optional<QImage> fromRgbPlanes(const heif_image* img, QSize target) {
    const int width = heif_image_get_width(img, heif_channel_R);
    const int height = heif_image_get_height(img, heif_channel_R);
    int strides[4] = {};
    const uint8_t* planes[4] = {planeOf(img, heif_channel_R, width, height, &strides[0]),
                                planeOf(img, heif_channel_G, width, height, &strides[1]),
                                planeOf(img, heif_channel_B, width, height, &strides[2]),
                                planeOf(img, heif_channel_Alpha, width, height, &strides[3])};
    if (width <= 0 || height <= 0 || !planes[0] || !planes[1] || !planes[2]) {
        return std::nullopt;
    }
    BoxScaler scaler(QSize(width, height), target);
    std::vector<QRgb> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const auto line = [&](int c) { return planes[c] + qsizetype(y) * strides[c]; };
        const uint8_t* alpha = planes[3] ? line(3) : nullptr;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = qRgba(line(0)[x], line(1)[x], line(2)[x], alpha ? alpha[x] : 255);
            row[size_t(x)] = alpha ? qPremultiply(pixel) : pixel;
        }
        scaler.addRow(row.data());
    }
    return scaler.take();
}

// An 8-bit YCbCr (or grey, or RGB) picture turned into pixels a row at a time and fed to a box
// scaler; nothing when its layout is another, which libheif then converts.
std::optional<QImage> fromPlanes(const Image& image, const heif_image_handle* handle,
                                 QSize target) {
    const heif_image* img = image.get();
    const heif_colorspace space = heif_image_get_colorspace(img);
    if (space == heif_colorspace_RGB && heif_image_get_chroma_format(img) == heif_chroma_444) {
        return fromRgbPlanes(img, target);
    }
    const bool grey = space == heif_colorspace_monochrome;
    if ((space != heif_colorspace_YCbCr && !grey) ||
        heif_image_get_bits_per_pixel_range(img, heif_channel_Y) != 8) {
        return std::nullopt;
    }
    const auto matrix = matrixOf(img, handle);
    if (!matrix) {
        return std::nullopt;
    }
    const int width = heif_image_get_width(img, heif_channel_Y);
    const int height = heif_image_get_height(img, heif_channel_Y);
    int yStride = 0;
    const uint8_t* yPlane = heif_image_get_plane_readonly(img, heif_channel_Y, &yStride);
    int cbStride = 0;
    int crStride = 0;
    const uint8_t* cbPlane = nullptr;
    const uint8_t* crPlane = nullptr;
    int shiftX = 0;
    int shiftY = 0;
    if (!grey) {
        cbPlane = heif_image_get_plane_readonly(img, heif_channel_Cb, &cbStride);
        crPlane = heif_image_get_plane_readonly(img, heif_channel_Cr, &crStride);
        const int chromaWidth = heif_image_get_width(img, heif_channel_Cb);
        const int chromaHeight = heif_image_get_height(img, heif_channel_Cb);
        shiftX = chromaWidth < width ? 1 : 0;
        shiftY = chromaHeight < height ? 1 : 0;
        if (cbPlane == nullptr || crPlane == nullptr ||
            heif_image_get_bits_per_pixel_range(img, heif_channel_Cb) != 8 ||
            heif_image_get_width(img, heif_channel_Cr) != chromaWidth ||
            chromaWidth < (width + shiftX) >> shiftX ||
            chromaHeight < (height + shiftY) >> shiftY) {
            return std::nullopt;
        }
    }
    int alphaStride = 0;
    const uint8_t* alphaPlane = planeOf(img, heif_channel_Alpha, width, height, &alphaStride);
    if (yPlane == nullptr || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    // Fixed point, 16 fractional bits: luma scale and the four chroma weights.
    const double green = 1.0 - matrix->red - matrix->blue;
    const double lumaScale = matrix->fullRange ? 1.0 : 255.0 / 219.0;
    const double chromaScale = matrix->fullRange ? 1.0 : 255.0 / 224.0;
    const auto fixed = [](double v) { return static_cast<int>(std::lround(v * 65536)); };
    const int yk = fixed(lumaScale);
    const int yOffset = matrix->fullRange ? 0 : 16;
    const int crToR = fixed(chromaScale * 2 * (1 - matrix->red));
    const int cbToB = fixed(chromaScale * 2 * (1 - matrix->blue));
    const int cbToG = fixed(chromaScale * 2 * matrix->blue * (1 - matrix->blue) / green);
    const int crToG = fixed(chromaScale * 2 * matrix->red * (1 - matrix->red) / green);
    const auto channel = [](int v) { return std::clamp((v + 32768) >> 16, 0, 255); };
    BoxScaler scaler(QSize(width, height), target);
    std::vector<QRgb> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const uint8_t* luma = yPlane + qsizetype(y) * yStride;
        const uint8_t* cb = grey ? nullptr : cbPlane + qsizetype(y >> shiftY) * cbStride;
        const uint8_t* cr = grey ? nullptr : crPlane + qsizetype(y >> shiftY) * crStride;
        const uint8_t* alpha = alphaPlane ? alphaPlane + qsizetype(y) * alphaStride : nullptr;
        for (int x = 0; x < width; ++x) {
            const int l = (luma[x] - yOffset) * yk;
            int r = l;
            int g = l;
            int b = l;
            if (!grey) {
                const int u = cb[x >> shiftX] - 128;
                const int v = cr[x >> shiftX] - 128;
                r += crToR * v;
                g -= cbToG * u + crToG * v;
                b += cbToB * u;
            }
            const QRgb pixel = qRgba(channel(r), channel(g), channel(b), alpha ? alpha[x] : 255);
            row[size_t(x)] = alpha ? qPremultiply(pixel) : pixel;
        }
        scaler.addRow(row.data());
    }
    return scaler.take();
}

} // namespace

bool isHeif(QByteArrayView bytes) {
    if (bytes.size() < 12) {
        return false;
    }
    const int len = static_cast<int>(std::min<qsizetype>(bytes.size(), 1 << 16));
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(bytes.data()), len) ==
           heif_filetype_yes_supported;
}

std::optional<QSize> size(QByteArrayView bytes) {
    const auto primary = open(bytes);
    if (!primary) {
        return std::nullopt;
    }
    const int width = heif_image_handle_get_width(primary->handle.get());
    const int height = heif_image_handle_get_height(primary->handle.get());
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return QSize(width, height);
}

QImage thumbnail(QByteArrayView bytes, int maxPixel, qint64 maxPixelCount) {
    if (maxPixel < 1) {
        return {};
    }
    const auto primary = open(bytes);
    if (!primary) {
        return {};
    }
    const qint64 width = heif_image_handle_get_width(primary->handle.get());
    const qint64 height = heif_image_handle_get_height(primary->handle.get());
    if (width <= 0 || height <= 0 || width * height > maxPixelCount) {
        return {};
    }
    const QSize target = BoxScaler::bounded(QSize(int(width), int(height)), maxPixel);
    // Eight-bit pictures are turned into pixels a row at a time, straight into the thumbnail:
    // libheif would otherwise hold the whole picture once more, as RGBA.
    if (heif_image_handle_get_luma_bits_per_pixel(primary->handle.get()) == 8) {
        // Its own layout: YCbCr, grey, or RGB planes.
        const auto image = decode(*primary, heif_colorspace_undefined, heif_chroma_undefined);
        if (!image) {
            return {};
        }
        if (auto rows = fromPlanes(*image, primary->handle.get(), target)) {
            return *std::move(rows);
        }
    }
    const auto image = decode(*primary, heif_colorspace_RGB, heif_chroma_interleaved_RGBA);
    if (!image) {
        return {};
    }
    const int w = heif_image_get_width(image->get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image->get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image->get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || w <= 0 || h <= 0 || stride < w * 4) {
        return {};
    }
    // Wrap the plane, then copy out before libheif's image goes.
    const QImage view(plane, w, h, stride, QImage::Format_RGBA8888);
    if (std::max(w, h) <= maxPixel) {
        return view.copy();
    }
    return BoxScaler::scaled(view, target);
}

} // namespace ostrel::HeifImage
