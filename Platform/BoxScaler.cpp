#include "Platform/BoxScaler.h"

#include <algorithm>

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
    sums_.assign(static_cast<size_t>(to_.width()) * 4, 0);
    nextBoundary_ = boundary(1, from_.height(), to_.height());
    out_ = QImage(to_, QImage::Format_ARGB32_Premultiplied);
}

void BoxScaler::addRow(const QRgb* row) {
    if (isComplete() || out_.isNull()) {
        return;
    }
    quint32* sum = sums_.data();
    int x = 0;
    for (const int end : columnEnd_) {
        // Two channels a word: alpha and green, red and blue, 16 bits each. A lane holds 257
        // pixels of 255 before it could overflow, so a wider box is summed in runs.
        while (x < end) {
            const int run = std::min(end, x + 257);
            quint32 ag = 0;
            quint32 rb = 0;
            for (; x < run; ++x) {
                const QRgb pixel = row[x];
                ag += (pixel >> 8) & 0x00ff00ffu;
                rb += pixel & 0x00ff00ffu;
            }
            sum[0] += ag >> 16;
            sum[1] += rb >> 16;
            sum[2] += ag & 0xffffu;
            sum[3] += rb & 0xffffu;
        }
        sum += 4;
    }
    ++row_;
    ++rowsInBox_;
    if (row_ == nextBoundary_) {
        emitRow();
    }
}

void BoxScaler::emitRow() {
    auto* line = reinterpret_cast<QRgb*>(out_.scanLine(targetRow_));
    const quint32* sum = sums_.data();
    int start = 0;
    for (int j = 0; j < to_.width(); ++j) {
        const int end = columnEnd_[static_cast<size_t>(j)];
        const quint32 count = static_cast<quint32>((end - start) * rowsInBox_);
        const quint32 half = count / 2;
        const quint32 a = (sum[0] + half) / count;
        if (a != 255) {
            opaque_ = false;
        }
        line[j] = qRgba(static_cast<int>((sum[1] + half) / count),
                        static_cast<int>((sum[2] + half) / count),
                        static_cast<int>((sum[3] + half) / count), static_cast<int>(a));
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
