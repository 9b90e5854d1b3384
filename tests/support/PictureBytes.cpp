#include "PictureBytes.h"

#include <QBuffer>
#include <QImageWriter>

#include <libheif/heif.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace ostrel::test {

QByteArray encoded(const QImage& image, const char* format, int quality, bool progressive) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return out;
}

std::optional<QByteArray> encodedHeic(heif_image* image, int quality) {
#if defined(__SANITIZE_ADDRESS__)
    // x265 3.5 leaks a small block on every x265_encoder_open: not ours, and only in tests.
    const __lsan::ScopedDisabler noLeakChecks;
#endif
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code !=
        heif_error_Ok) {
        heif_image_release(image);
        heif_context_free(context);
        return std::nullopt;
    }
    heif_encoder_set_lossy_quality(encoder, quality);
    heif_image_handle* handle = nullptr;
    const heif_error err = heif_context_encode_image(context, image, encoder, nullptr, &handle);
    heif_encoder_release(encoder);
    heif_image_release(image);
    if (err.code != heif_error_Ok) {
        heif_context_free(context);
        return std::nullopt;
    }
    heif_image_handle_release(handle);
    QByteArray out;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
        static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data),
                                                   static_cast<qsizetype>(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    const heif_error written = heif_context_write(context, &writer, &out);
    heif_context_free(context);
    if (written.code != heif_error_Ok || out.isEmpty()) {
        return std::nullopt;
    }
    return out;
}

} // namespace ostrel::test
