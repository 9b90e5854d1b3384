#include "Platform/HeifImage.h"

#include "Platform/BoxScaler.h"

#include <libheif/heif.h>

#include <cmath>
#include <memory>

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
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (options) {
        options->ignore_transformations = 0; // rotation and mirroring applied to the pixels
    }
    heif_image* raw = nullptr;
    const heif_error err = heif_decode_image(primary->handle.get(), &raw, heif_colorspace_RGB,
                                             heif_chroma_interleaved_RGBA, options.get());
    if (err.code != heif_error_Ok || raw == nullptr) {
        return {};
    }
    const std::unique_ptr<heif_image, ImageDeleter> image(raw);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || w <= 0 || h <= 0 || stride < w * 4) {
        return {};
    }
    // Wrap the plane, then copy out before libheif's image goes.
    const QImage view(plane, w, h, stride, QImage::Format_RGBA8888);
    const int longer = std::max(w, h);
    if (longer <= maxPixel) {
        return view.copy();
    }
    const double scale = static_cast<double>(maxPixel) / longer;
    const int tw = std::max(1, static_cast<int>(std::round(w * scale)));
    const int th = std::max(1, static_cast<int>(std::round(h * scale)));
    return BoxScaler::scaled(view, QSize(tw, th));
}

} // namespace ostrel::HeifImage
