#pragma once

#include "Platform/ImageFormat.h"
#include "Platform/MemoryBudget.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

class QMovie;
class QObject;

namespace ostrel {

// One picture file or buffer opened for decoding: its bytes (shared, never copied), what they
// hold and how the picture stands. This is the one door to the decoders: Qt's readers are told
// the format the bytes hold (ImageFormat) and never guess it, PNGs go to PngImage, HEIF to
// libheif, and a drawing is drawn only once SafeSvg has cut out every reference to another file.
// Every decode stays within what ImageFormat::decodeLimit() allows the file.
struct ImageSource {
    // The bytes a decoder reads; for a drawing, without its references to other files.
    QByteArray bytes;
    ImageFormat format;
    // The size before the EXIF orientation, when the header gives one (a drawing's own size).
    std::optional<QSize> storedSize;
    // The EXIF orientation turns the picture by a quarter turn (orientations 5 to 8).
    bool quarterTurn = false;
    // The stored picture must be turned or mirrored to stand upright.
    bool transformed = false;

    // No picture file larger than this is read whole: such a file gives no source.
    static constexpr qint64 maxFileBytes = 64LL * 1024 * 1024;
    // No picture with more pixels than this is decoded (about 200 MB as 32-bit pixels).
    static constexpr qint64 maxDecodePixels = 50'000'000;
    // Bytes of pictures that may be decoded at once by the threads that share it.
    static constexpr qint64 budgetBytes = 256LL * 1024 * 1024;

    // A source over the bytes; absent when they hold no picture or drawing that may be decoded.
    static std::optional<ImageSource> open(const QByteArray& bytes);
    // A source over the file at `path` (links followed), read with plain reads; absent when it is
    // not a regular file, is larger than `limit` or cannot be read.
    static std::optional<ImageSource> openFile(const QString& path, qint64 limit = maxFileBytes);
    // A regular file read whole with plain reads, never mapped (a truncating writer would turn a
    // map into SIGBUS); absent when larger than `limit`.
    static std::optional<QByteArray> readFile(const QString& path, qint64 limit);
    // The kind the start of the file at `path` announces (ImageFormat::sniff); none when it
    // cannot be opened.
    static ImageFormat::Kind sniffFile(const QString& path);
    // The budget that decodes off the main thread take their bytes from.
    static MemoryBudget& budget();

    bool isDrawing() const { return format.kind == ImageFormat::Kind::svg; }
    bool isHeif() const { return format.kind == ImageFormat::Kind::heif; }
    // Width and height after the EXIF orientation.
    std::optional<QSize> pixelSize() const;

    // The picture upright with its longer side at most `maxPixel` (a smaller one keeps its size;
    // a drawing is drawn at its own size within that bound). Absent when it does not decode,
    // has no size, exceeds maxDecodePixels or would cost more memory than the file is allowed.
    // With a `budget`, the decoder's memory is held from it while it runs.
    std::optional<QImage> picture(int maxPixel, MemoryBudget* budget = nullptr) const;
    // The picture at its own size, upright; as picture() otherwise.
    std::optional<QImage> wholePicture(MemoryBudget* budget = nullptr) const;
    // The drawing drawn to fill `size`, cut to its own viewport: nothing it holds paints outside.
    QImage drawing(QSize size) const;
    // Where a drawing of `natural` proportions stands fitted into `bounds`, centred.
    static QRectF viewport(QSizeF natural, const QRectF& bounds);
    // The frames of an animated picture, read by Qt's reader for the format its bytes hold; null
    // when the picture is not animated or too large to decode.
    QMovie* movie(QObject* parent) const;
};

} // namespace ostrel
