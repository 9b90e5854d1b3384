#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSize>

#include <optional>

namespace ostrel {

// What a picture's bytes hold, decided from the bytes alone, never from a file name or a media
// type: which decoder may read them, the size they declare and what decoding them would cost.
// Qt's readers pick their format by content, so a drawing saved as "x.png" would reach the SVG
// reader, and a header that declares more than the file holds makes a reader allocate for it.
// Every picture goes through here before any decoder sees it; what is not recognised, or whose
// structure points past the end of the bytes, goes to none.
struct ImageFormat {
    enum class Kind { none, png, jpeg, gif, webp, bmp, tiff, heif, svg };

    Kind kind = Kind::none;
    // The picture (canvas) size the header declares, before any EXIF turn; empty for a drawing.
    QSize size;
    // More than one frame (GIF, WebP).
    bool animated = false;
    // PNG: stored interlaced, so its rows do not come in order.
    bool interlaced = false;
    // Everything the structure declares lies within the bytes. A picture cut short keeps the size
    // its header gives, but only PngImage, which reads no further than the bytes, may decode it.
    bool whole = true;
    // The decoder makes a smaller picture straight away (PNG rows, baseline JPEG's DCT scaling)
    // instead of decoding it whole first.
    bool scalesWhileDecoding = false;
    // What the decoder holds besides the picture it hands back: frame stores, JPEG coefficients,
    // TIFF strips or tiles, HEIF planes.
    qint64 workingBytes = 0;
    // The whole input's size.
    qint64 fileBytes = 0;

    // Decides by content and walks the structure, checking that every chunk, box, segment, block
    // or directory lies within the bytes. Nothing (kind none) when the bytes do not start as a
    // picture of a known kind with a readable size. A drawing is recognised only; SafeSvg judges
    // what it refers to.
    static ImageFormat of(QByteArrayView bytes);
    // The kind the first bytes announce, without any check: enough to choose a viewer, never
    // enough to decode.
    static Kind sniff(QByteArrayView head);
    // How much of a file's start sniff() looks at; a drawing's first element is searched for no
    // further than this.
    static constexpr qsizetype headBytes = 64 * 1024;

    bool isPicture() const { return kind != Kind::none && kind != Kind::svg; }
    // The name of Qt's reader for the kind; empty for HEIF (libheif) and none.
    QByteArray qtName() const;
    // What decoding to a picture no larger than `target` (never enlarged) holds at most.
    qint64 decodeBytes(QSize target) const;
    // What a picture of this file's size may cost to decode: a picture may take what its pixels
    // take, up to 64 times its bytes on disk, and any picture at least the floor, so a few hundred
    // bytes never cost more than an ordinary screenshot does.
    static qint64 decodeLimit(qint64 fileBytes);
    static constexpr qint64 decodeFloor = 64LL * 1024 * 1024;
    static constexpr qint64 decodeCeiling = 256LL * 1024 * 1024;
    // True when the bytes may be decoded to `target`: whole (or a PNG that is not interlaced) and
    // within decodeLimit().
    bool decodable(QSize target) const;

    // The value of an uncompressed PNG text chunk ("tEXt") with this keyword, when the bytes are
    // a PNG that holds one before its end.
    static std::optional<QByteArray> pngText(QByteArrayView bytes, QByteArrayView keyword);
};

} // namespace ostrel
