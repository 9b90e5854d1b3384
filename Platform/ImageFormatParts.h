#pragma once

#include "Platform/ImageFormat.h"
#include "Platform/Saturating.h"

#include <QByteArrayView>
#include <QSize>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

// What the parts of ImageFormat share: bounded reads of the bytes, the bounds of every walk and
// the size rules.
namespace ostrel::imageFormatParts {

// Real pictures nest their boxes a handful of levels deep and hold at most some thousands of
// chunks, boxes, segments or blocks, so that no walk's stack, memory or time may grow with what a
// file declares: a file beyond either bound goes to no decoder, and a HEIF file, whose size
// libheif would read, is refused outright.
inline constexpr int maxDepth = 16;
inline constexpr qint64 maxParts = 1 << 20;

// Bounds-checked reads of the bytes; a read past the end answers nothing.
class Bytes {
public:
    explicit Bytes(QByteArrayView bytes)
        : data_(reinterpret_cast<const uchar*>(bytes.data())), size_(bytes.size()) {}

    qint64 size() const { return size_; }
    bool has(qint64 at, qint64 count) const {
        return at >= 0 && count >= 0 && at <= size_ && count <= size_ - at;
    }
    std::optional<quint32> u8(qint64 at) const {
        return has(at, 1) ? std::optional<quint32>(data_[at]) : std::nullopt;
    }
    std::optional<quint32> be16(qint64 at) const {
        return has(at, 2) ? std::optional<quint32>(qFromBigEndian<quint16>(data_ + at))
                          : std::nullopt;
    }
    std::optional<quint32> le16(qint64 at) const {
        return has(at, 2) ? std::optional<quint32>(qFromLittleEndian<quint16>(data_ + at))
                          : std::nullopt;
    }
    std::optional<quint32> be32(qint64 at) const {
        return has(at, 4) ? std::optional<quint32>(qFromBigEndian<quint32>(data_ + at))
                          : std::nullopt;
    }
    std::optional<quint32> le32(qint64 at) const {
        return has(at, 4) ? std::optional<quint32>(qFromLittleEndian<quint32>(data_ + at))
                          : std::nullopt;
    }
    std::optional<quint32> le24(qint64 at) const {
        if (!has(at, 3)) {
            return std::nullopt;
        }
        return quint32(data_[at]) | (quint32(data_[at + 1]) << 8) | (quint32(data_[at + 2]) << 16);
    }
    // The literal's bytes (NULs included, the terminating one not) stand at `at`.
    template <size_t N> bool is(qint64 at, const char (&text)[N]) const {
        return has(at, N - 1) && std::memcmp(data_ + at, text, N - 1) == 0;
    }
    const uchar* at(qint64 offset) const { return data_ + offset; }

private:
    const uchar* data_;
    qint64 size_;
};

inline qint64 area(QSize size) {
    return Saturating::multiply(std::max(0, size.width()), std::max(0, size.height()));
}

// Width and height within what an int holds, both at least 1.
inline std::optional<QSize> sizeOf(quint64 width, quint64 height) {
    constexpr quint64 largest = std::numeric_limits<int>::max();
    if (width == 0 || height == 0 || width > largest || height > largest) {
        return std::nullopt;
    }
    return QSize(static_cast<int>(width), static_cast<int>(height));
}

// The HEIF walk (ImageFormatHeif.cpp): every box within the bytes, and the largest picture any
// image, tile or coded stream declares.
ImageFormat heif(const Bytes& in);

} // namespace ostrel::imageFormatParts
