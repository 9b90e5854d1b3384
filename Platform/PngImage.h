#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

namespace ostrel {
class MemoryBudget;
}

namespace ostrel::PngImage {

// libpng's own bound on either side; it refuses anything wider or taller.
inline constexpr quint32 largestSide = 1'000'000;

// Up to this many bytes of pixel data are inflated in one piece; larger pictures stream. The
// memory estimate of a PNG (ImageFormat) holds only while it follows this.
inline constexpr qint64 wholeInflateLimit = 16LL * 1024 * 1024;

// True when the bytes start with the PNG signature.
bool isPng(QByteArrayView bytes);

// The picture decoded row by row straight into a box-filtered picture of `to` (cut to the stored
// size where larger): only a row or two is ever held, never the whole picture. Chunk CRCs and the
// pixel stream's Adler-32 are not checked: the picture is only shown small, and the bytes we keep
// are hashed anyway. A null image when the bytes do not decode, and for an interlaced picture,
// whose rows do not come in order. With a `budget`, the pixels of a picture of moderate size are
// inflated in one piece (faster) in memory held from it; without one, or for a larger picture,
// only a few rows at a time.
QImage thumbnail(QByteArrayView bytes, QSize to, MemoryBudget* budget = nullptr);

} // namespace ostrel::PngImage
