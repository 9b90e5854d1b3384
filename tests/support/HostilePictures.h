#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <QList>
#include <QSize>

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
// A 24-bit BMP whose header claims `width` × `height`, its pixels zeros up to
// `fileBytes`.
QByteArray bmpClaimingSize(quint32 width, quint32 height, qint64 fileBytes = 64);
// A baseline RGB TIFF whose directory claims `width` × `height` over one strip of three bytes.
QByteArray tiffClaimingSize(int width, int height);
// A HEIC picture of `width` × `height` whose "ispe" box claims 64 × 64: the HEVC stream says
// what the decoder allocates. Nothing when libheif has no HEVC encoder.
std::optional<QByteArray> heicUnderstatingSize(int width, int height);

// A HEIF file put together box by box (heifOf): its items, their properties (whole boxes, in
// the order of the property container, each item naming its own by 1-based place) and the
// references between them.
struct HeifItem {
    quint32 id = 0;
    QByteArray type; // "hvc1", "grid", "iden", "Exif", ...
    QByteArray data; // what the item's location points to
    QList<quint16> properties;
};
struct HeifReference {
    QByteArray type; // "dimg", "auxl", "thmb"
    quint32 from = 0;
    QList<quint32> to;
};
struct HeifParts {
    quint32 primary = 1;
    QList<HeifItem> items;
    QList<QByteArray> properties;
    QList<HeifReference> references;
    // Property associations of items that are nowhere else, listing no property.
    quint32 strayAssociations = 0;
};
QByteArray heifOf(const HeifParts& parts);
// A box of the type around the payload; a full box puts version and flags before it.
QByteArray box(const char* type, const QByteArray& payload);
QByteArray fullBox(const char* type, quint8 version, quint32 flags, const QByteArray& payload);
// The image spatial extent property.
QByteArray ispe(quint32 width, quint32 height);
// An HEVC configuration ("hvcC") of `depth` bits a sample whose one sequence parameter set
// declares `width` × `height`: what the decoder would allocate, which libheif reads no further.
QByteArray hevcConfig(quint32 width, quint32 height, int depth);
// A grey HEVC picture of `width` × `height` as libheif's encoder makes it, taken apart: item 1
// (the primary, "hvc1") with its configuration and extent. Nothing without an HEVC encoder.
std::optional<HeifParts> heicParts(int width, int height);
// The parts' primary image made a tile: the new primary is a grid of two such tiles side by side,
// whose extent says `declared` and whose canvas, as the grid's data gives it, is `canvas`.
HeifParts gridOf(HeifParts tile, QSize declared, QSize canvas);
// A HEIF file whose "meta" box holds `levels` property containers, each inside the one before.
QByteArray heifNested(int levels);

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
