#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace ostrel::test {

// Real image files made in memory, with noisy pixels so that every one passes the 512-byte floor.
namespace TestImages {

// A picture of random pixels (fixed seed per call site).
QImage noise(int width, int height, quint32 seed = 1);

// Encoded by Qt's writers: "png", "jpeg", "webp".
QByteArray encode(const QImage& image, const char* format, int quality = 90);
QByteArray png(int width, int height, quint32 seed = 1);
QByteArray webp(int width, int height, quint32 seed = 1);
// A JPEG; with `orientation` 1 to 8, an EXIF APP1 segment carrying that orientation is written
// into the bytes by hand (Qt's writer writes none).
QByteArray jpeg(int width, int height, std::optional<int> orientation = std::nullopt,
                quint32 seed = 1);
// A GIF89a written by hand (Qt has no GIF writer): a 256-colour palette and uncompressed LZW.
QByteArray gif(int width, int height, quint32 seed = 1);
// An SVG document larger than 512 bytes.
QByteArray svg(int width, int height);
// A HEIC file encoded through libheif (x265); nothing when no HEVC encoder is installed.
std::optional<QByteArray> heic(int width, int height, quint32 seed = 1);

// The picture as an interlaced (Adam7) RGBA PNG, written through libpng (Qt writes none).
QByteArray interlacedPng(const QImage& image);
// A PNG whose header claims another size than its pixel data holds (the CRC made right).
QByteArray pngClaimingSize(const QByteArray& png, quint32 width, quint32 height);
// Random bytes that are no image.
QByteArray junk(int size, quint32 seed = 7);

} // namespace TestImages

} // namespace ostrel::test
