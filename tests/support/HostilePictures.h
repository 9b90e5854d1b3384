#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

namespace ostrel::test {

// Pictures made to hurt whoever decodes them: a few hundred bytes that claim gigabytes, and
// drawings that name other files of the user's. Shared by the tests and the memory benchmark.
namespace HostilePictures {

// A PNG of `side` × `side` solid pixels with a text chunk that claims 0x7FFFFFF0 bytes but holds
// 400, before the pixels or after them; interlaced, only a whole decode reaches one after them.
QByteArray pngClaimingChunk(int side, bool afterPixels, bool interlaced = false);
// A GIF whose screen is `width` × `height` with one frame of a single pixel.
QByteArray gifClaimingScreen(int width, int height);
// A lossless WebP of one pixel whose header claims `width` × `height`.
QByteArray webpClaimingSize(int width, int height);
// A progressive JPEG of 16 × 16 pixels whose frame header claims `width` × `height`.
QByteArray progressiveJpegClaimingSize(int width, int height);
// A baseline RGB TIFF whose directory claims `width` × `height` over one strip of three bytes.
QByteArray tiffClaimingSize(int width, int height);
// A HEIC picture of `width` × `height` whose "ispe" box claims 64 × 64: the HEVC stream says
// what the decoder allocates. Nothing when libheif has no HEVC encoder.
std::optional<QByteArray> heicUnderstatingSize(int width, int height);

// A solid picture of the colour saved as a PNG file readable by its owner alone (0600): the
// kind of file a drawing must never show.
QString writePrivatePicture(const QString& path, const QColor& color, int side = 40);
// A drawing of `side` × `side` painted green whose one element is an image of the file at
// `path` over all of it.
QByteArray drawingNaming(const QString& path, int side = 40);
// The same drawing with the picture's bytes inside it, as a "data:…;base64," address.
QByteArray drawingEmbedding(const QByteArray& picture, int side = 40);
// The same drawing with its image at `address`.
QByteArray drawingOf(const QByteArray& address, int side = 40);

// How many pixels of the picture are within `tolerance` of the colour in every channel.
int pixelsNear(const QImage& image, const QColor& color, int tolerance = 40);

} // namespace HostilePictures

} // namespace ostrel::test
