#include "Platform/BoxScaler.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

// The first source index of target index `i` when `source` items fall into `target` boxes.
int boundary(qint64 i, qint64 source, qint64 target) {
    return static_cast<int>(i * source / target);
}

} // namespace

BoxScaler::BoxScaler(QSize from, QSize to)
    : from_(from), to_(std::max(1, std::min(to.width(), from.width())),
                       std::max(1, std::min(to.height(), from.height()))) {
    if (from_.width() < 1 || from_.height() < 1) {
        from_ = QSize();
        return;
    }
    columnEnd_.resize(static_cast<size_t>(to_.width()));
    for (int j = 0; j < to_.width(); ++j) {
        columnEnd_[static_cast<size_t>(j)] = boundary(j + 1, from_.width(), to_.width());
    }
    columns_.assign(static_cast<size_t>(from_.width()) * 4, 0);
    sums_.assign(static_cast<size_t>(to_.width()) * 4, 0);
    nextBoundary_ = boundary(1, from_.height(), to_.height());
    out_ = QImage(to_, QImage::Format_ARGB32_Premultiplied);
}

void BoxScaler::addRow(const QRgb* row) {
    add(reinterpret_cast<const uchar*>(row), Layout::argb);
}

void BoxScaler::addRgbRow(const uchar* row) {
    add(row, Layout::rgb);
}

void BoxScaler::add(const uchar* row, Layout layout) {
    if (isComplete() || out_.isNull()) {
        return;
    }
    if (layout != layout_) {
        flushColumns();
        layout_ = layout;
    }
    const size_t n = static_cast<size_t>(from_.width()) * (layout == Layout::rgb ? 3 : 4);
    quint16* column = columns_.data();
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        auto* low = reinterpret_cast<__m128i*>(column + i);
        auto* high = reinterpret_cast<__m128i*>(column + i + 8);
        _mm_storeu_si128(low, _mm_add_epi16(_mm_loadu_si128(low), _mm_unpacklo_epi8(bytes, zero)));
        _mm_storeu_si128(high,
                         _mm_add_epi16(_mm_loadu_si128(high), _mm_unpackhi_epi8(bytes, zero)));
    }
#endif
    for (; i < n; ++i) {
        column[i] = static_cast<quint16>(column[i] + row[i]);
    }
    if (++rowsInColumns_ == 257) {
        flushColumns();
    }
    ++row_;
    ++rowsInBox_;
    if (row_ == nextBoundary_) {
        flushColumns();
        emitRow();
    }
}

void BoxScaler::flushColumns() {
    if (rowsInColumns_ == 0) {
        return;
    }
    quint32* sum = sums_.data();
    const quint16* column = columns_.data();
    int x = 0;
    if (layout_ == Layout::rgb) {
        for (const int end : columnEnd_) {
            quint32 r = 0;
            quint32 g = 0;
            quint32 b = 0;
            const int start = x;
            for (; x < end; ++x, column += 3) {
                r += column[0];
                g += column[1];
                b += column[2];
            }
            sum[0] +=
                255u * static_cast<quint32>(rowsInColumns_) * static_cast<quint32>(end - start);
            sum[1] += r;
            sum[2] += g;
            sum[3] += b;
            sum += 4;
        }
    } else {
        // Where each channel of a QRgb lies in memory.
        constexpr bool little = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
        constexpr int alpha = little ? 3 : 0;
        constexpr int red = little ? 2 : 1;
        constexpr int green = little ? 1 : 2;
        constexpr int blue = little ? 0 : 3;
        for (const int end : columnEnd_) {
            quint32 a = 0;
            quint32 r = 0;
            quint32 g = 0;
            quint32 b = 0;
            for (; x < end; ++x, column += 4) {
                a += column[alpha];
                r += column[red];
                g += column[green];
                b += column[blue];
            }
            sum[0] += a;
            sum[1] += r;
            sum[2] += g;
            sum[3] += b;
            sum += 4;
        }
    }
    std::fill(columns_.begin(), columns_.end(), 0);
    rowsInColumns_ = 0;
}

void BoxScaler::emitRow() {
    auto* line = reinterpret_cast<QRgb*>(out_.scanLine(targetRow_));
    const quint32* sum = sums_.data();
    int start = 0;
    for (int j = 0; j < to_.width(); ++j) {
        const int end = columnEnd_[static_cast<size_t>(j)];
        const quint32 count = static_cast<quint32>((end - start) * rowsInBox_);
        // The rounded mean (sum + count / 2) / count, with one division a pixel instead of four:
        // half a unit more keeps the product of 32-bit sums away from every integer, so that the
        // truncation equals the integer quotient.
        const double reciprocal = 1.0 / count;
        const double half = count / 2 + 0.5;
        const auto mean = [&](quint32 total) {
            return static_cast<int>((total + half) * reciprocal);
        };
        const int a = mean(sum[0]);
        if (a != 255) {
            opaque_ = false;
        }
        line[j] = qRgba(mean(sum[1]), mean(sum[2]), mean(sum[3]), a);
        sum += 4;
        start = end;
    }
    std::fill(sums_.begin(), sums_.end(), 0);
    rowsInBox_ = 0;
    ++targetRow_;
    nextBoundary_ = boundary(targetRow_ + 1, from_.height(), to_.height());
}

QImage BoxScaler::take() {
    if (!isComplete() || out_.isNull()) {
        return QImage();
    }
    QImage out = std::move(out_);
    out_ = QImage();
    if (opaque_) {
        // Premultiplied pixels that are all opaque are RGB32 pixels already.
        out.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return out;
}

QSize BoxScaler::bounded(QSize size, int maxPixel) {
    const int longer = std::max(size.width(), size.height());
    if (longer <= maxPixel) {
        return size;
    }
    const double scale = static_cast<double>(maxPixel) / longer;
    return QSize(std::max(1, static_cast<int>(std::round(size.width() * scale))),
                 std::max(1, static_cast<int>(std::round(size.height() * scale))));
}

QImage BoxScaler::scaled(const QImage& image, QSize to) {
    if (image.isNull()) {
        return QImage();
    }
    BoxScaler scaler(image.size(), to);
    const QImage::Format format = image.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied) {
        for (int y = 0; y < image.height(); ++y) {
            scaler.addRow(reinterpret_cast<const QRgb*>(image.constScanLine(y)));
        }
        return scaler.take();
    }
    // Other formats are converted a row at a time, so that no second whole picture is made.
    const QImage::Format wanted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    for (int y = 0; y < image.height(); ++y) {
        QImage line(image.constScanLine(y), image.width(), 1, image.bytesPerLine(), format);
        line.setColorTable(image.colorTable());
        const QImage converted = line.convertToFormat(wanted);
        scaler.addRow(reinterpret_cast<const QRgb*>(converted.constScanLine(0)));
    }
    return scaler.take();
}

} // namespace ostrel
