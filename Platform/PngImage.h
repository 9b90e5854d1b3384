#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

namespace ostrel::PngImage {

// True when the bytes start with the PNG signature.
bool isPng(QByteArrayView bytes);

// The picture decoded row by row straight into a box-filtered picture of `to` (cut to the stored
// size where larger): only a row or two is ever held, never the whole picture. Chunk CRCs and the
// pixel stream's Adler-32 are not checked: the picture is only shown small, and the bytes we keep
// are hashed anyway. A null image when the bytes do not decode, and for an interlaced picture,
// whose rows do not come in order (`interlaced` then says so, when given).
QImage thumbnail(QByteArrayView bytes, QSize to, bool* interlaced = nullptr);

} // namespace ostrel::PngImage
