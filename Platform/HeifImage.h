#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <optional>

namespace ostrel::HeifImage {

// True when the bytes start like a HEIF file (HEIC, AVIF) that libheif can read.
bool isHeif(QByteArrayView bytes);

// The primary image's pixel size with its rotation and mirroring applied (libheif's own size);
// nothing when the bytes do not read as a HEIF file.
std::optional<QSize> size(QByteArrayView bytes);

// The primary image decoded upright and scaled so that its longer side is at most `maxPixel`
// (a smaller image keeps its size). A null image when the file does not decode, or when its
// pixel count exceeds `maxPixelCount` (nothing that large is decoded).
QImage thumbnail(QByteArrayView bytes, int maxPixel, qint64 maxPixelCount);

} // namespace ostrel::HeifImage
