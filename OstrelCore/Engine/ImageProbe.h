#pragma once

#include "Platform/ImageSource.h"
#include "Platform/MemoryBudget.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>

#include <optional>

namespace ostrel {

// The few image operations the system needs. Stateless; safe on any thread.
namespace ImageProbe {

// Longest side of the thumbnail ingest writes.
inline constexpr int defaultMaxPixel = 360;
// JPEG quality on Qt's 0-100 scale (0.8 on the original 0-1 scale).
inline constexpr int jpegQuality = 80;
// No image file larger than this is read whole: such a file gives no source.
inline constexpr qint64 maxImageBytes = ImageSource::maxFileBytes;

// A source over the bytes; absent when they do not hold a well-formed picture (PNG, JPEG, GIF,
// WebP, BMP, TIFF, HEIF) or a drawing that may be drawn, decided by their content.
std::optional<ImageSource> source(const QByteArray& data);
// A source over the file at `path` (links followed: callers pass the store's own copies); absent
// when it is not a regular file, is larger than maxImageBytes, cannot be read or is no image.
// The file is read with plain reads, never mapped.
std::optional<ImageSource> source(const QUrl& fileURL);

// Width and height after the EXIF orientation; absent when the header gives no size.
std::optional<QSize> pixelSize(const ImageSource& source);

// A thumbnail whose longer side is at most `maxPixel` (a smaller picture keeps its size), made
// from the full image and turned upright. With `minimumSide` 1 or more, absent when the size is
// unreadable or its longer side is below `minimumSide`. Absent when decoding fails, when the size
// is unknown, when the picture has more than ImageSource::maxDecodePixels pixels (its size still
// reads), or when decoding it would cost more memory than its file is allowed
// (ImageFormat::decodeLimit).
std::optional<QImage> thumbnail(const ImageSource& source, int maxPixel, int minimumSide);
// As above for the file at a file URL; absent when it cannot be opened as an image source.
std::optional<QImage> thumbnail(const QUrl& at, int maxPixel, int minimumSide);

// The thumbnail (no minimum side) written as JPEG; true when the file was written.
bool writeThumbnail(const ImageSource& source, const QUrl& to, int maxPixel = defaultMaxPixel);
// The same thumbnail encoded as JPEG in memory; absent when there is none.
std::optional<QByteArray> thumbnailJPEG(const ImageSource& source, int maxPixel = defaultMaxPixel);
// The image as JPEG of quality 80, transparent pixels laid on white; absent when encoding fails.
std::optional<QByteArray> encodeJPEG(const QImage& image);

// The budget every decode of the process takes its pixels from (ImageSource::budgetBytes),
// whatever the number of threads decoding: a decode that would go beyond waits for others to end.
// PNGs, scaled as they decode, and JPEGs, decoded at a fraction of their size, take little of it.
MemoryBudget& decodeBudget();

// Writes one JPEG image of quality 80, replacing any file there atomically (0600); transparent
// pixels are laid on white. False when the destination cannot be written.
bool writeJPEG(const QImage& image, const QUrl& to);

} // namespace ImageProbe

} // namespace ostrel
