#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

struct heif_image;

namespace ostrel::test {

// A picture encoded by Qt's writer for `format` ("png", "jpeg", "webp", "tiff", "bmp"); a quality
// of 100 makes WebP lossless.
QByteArray encoded(const QImage& image, const char* format, int quality = -1,
                   bool progressive = false);

// A HEIF picture encoded through libheif's HEVC encoder (x265) at `quality`; nothing when none is
// installed or encoding fails. Takes the image over.
std::optional<QByteArray> encodedHeic(heif_image* image, int quality);

} // namespace ostrel::test
