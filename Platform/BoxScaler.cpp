#include "Platform/BoxScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    out_ = QImage(to_, QImage::Format_ARGB32_Premultiplied);
    if (from_ == to_) {
        return; // no boxes: copyRow() takes every row as it is
    }
    columns_.assign(static_cast<size_t>(from_.width()) * 4, 0);
    sums_.assign(static_cast<size_t>(to_.width()) * 4, 0);
    const int widest = boundary(1, from_.width(), to_.width()) + 2;
    halves_.assign(static_cast<size_t>(widest), 0);
    multipliers_.assign(static_cast<size_t>(widest), 0);
    nextBoundary_ = boundary(1, from_.height(), to_.height());
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
    if (from_ == to_) {
        copyRow(row, layout);
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

void BoxScaler::copyRow(const uchar* row, Layout layout) {
    auto* line = reinterpret_cast<QRgb*>(out_.scanLine(row_));
    const int width = from_.width();
    if (layout == Layout::rgb) {
        for (int x = 0; x < width; ++x, row += 3) {
            line[x] = qRgb(row[0], row[1], row[2]);
        }
    } else {
        std::memcpy(line, row, static_cast<size_t>(width) * sizeof(QRgb));
        for (int x = 0; x < width && opaque_; ++x) {
            opaque_ = qAlpha(line[x]) == 255;
        }
    }
    ++row_;
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

namespace {

// x / n for every x below 256 n, as (x * m) >> shift: with m = 2^48 / n rounded up, the error
// of the product stays below 1 / n, so the quotient is exact while n is below 2^20.
constexpr int shift = 48;
constexpr quint32 largestDivisor = (1u << 20) - 1;

} // namespace

void BoxScaler::emitRow() {
    auto* line = reinterpret_cast<QRgb*>(out_.scanLine(targetRow_));
    const quint32* sum = sums_.data();
    if (divisorRows_ != rowsInBox_) {
        divisorRows_ = rowsInBox_;
        for (size_t width = 1; width < multipliers_.size(); ++width) {
            const quint64 count = width * static_cast<quint64>(rowsInBox_);
            halves_[width] = static_cast<quint32>(count / 2);
            multipliers_[width] = count <= largestDivisor ? (quint64(1) << shift) / count + 1 : 0;
        }
    }
    int start = 0;
    for (int j = 0; j < to_.width(); ++j) {
        const int end = columnEnd_[static_cast<size_t>(j)];
        const auto width = static_cast<size_t>(end - start);
        const quint32 half = halves_[width];
        const quint64 multiplier = multipliers_[width];
        // The rounded mean (sum + count / 2) / count.
        const auto mean = [&](quint32 total) {
            if (multiplier == 0) {
                return static_cast<int>((quint64(total) + half) /
                                        (width * static_cast<quint64>(rowsInBox_)));
            }
            return static_cast<int>(((quint64(total) + half) * multiplier) >> shift);
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
