#include "Ostrel/Surface/SurfacePaint.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace ostrel::SurfacePaint {

namespace {

// One box pass of radius r along rows (stride 1) or columns (stride = width), over all four
// premultiplied channels, reading from a copy so the window sums stay exact.
void boxPass(uchar* bits, int width, int height, qsizetype bytesPerLine, int r, bool rows) {
    if (r <= 0) {
        return;
    }
    const int lines = rows ? height : width;
    const int length = rows ? width : height;
    std::vector<quint32> line(static_cast<size_t>(length));
    const int window = 2 * r + 1;
    for (int l = 0; l < lines; ++l) {
        auto pixel = [&](int i) -> quint32* {
            const int x = rows ? i : l;
            const int y = rows ? l : i;
            return reinterpret_cast<quint32*>(bits + y * bytesPerLine) + x;
        };
        for (int i = 0; i < length; ++i) {
            line[static_cast<size_t>(i)] = *pixel(i);
        }
        std::array<int, 4> sum{0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= length) {
                return;
            }
            const quint32 v = line[static_cast<size_t>(i)];
            for (int c = 0; c < 4; ++c) {
                sum[static_cast<size_t>(c)] += sign * static_cast<int>((v >> (8 * c)) & 0xff);
            }
        };
        for (int i = -r; i <= r; ++i) {
            add(i, 1);
        }
        for (int i = 0; i < length; ++i) {
            quint32 out = 0;
            for (int c = 0; c < 4; ++c) {
                const int v = (sum[static_cast<size_t>(c)] + window / 2) / window;
                out |= static_cast<quint32>(std::clamp(v, 0, 255)) << (8 * c);
            }
            *pixel(i) = out;
            add(i - r, -1);
            add(i + r + 1, 1);
        }
    }
}

} // namespace

QColor accent() {
    return QColor::fromRgbF(0.851f, 0.467f, 0.341f);
}

void blur(QImage& image, double sigma) {
    if (sigma <= 0 || image.isNull()) {
        return;
    }
    // Box radii whose three passes give the wanted variance (sum of (w^2 - 1) / 12 per pass).
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) {
        --lower;
    }
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - 3.0 * lower * lower - 4.0 * 3 * lower - 3.0 * 3) / (-4.0 * lower - 4);
    const int lowerPasses = static_cast<int>(std::round(m));
    uchar* bits = image.bits();
    for (int pass = 0; pass < 3; ++pass) {
        const int r = ((pass < lowerPasses ? lower : upper) - 1) / 2;
        boxPass(bits, image.width(), image.height(), image.bytesPerLine(), r, true);
        boxPass(bits, image.width(), image.height(), image.bytesPerLine(), r, false);
    }
}

Shadow shadow(const QPainterPath& path, const QColor& color, double blurRadius, double pixels) {
    const double room = std::max(blurRadius, 0.0) * 1.5 + 1;
    const QRectF frame = path.boundingRect().adjusted(-room, -room, room, room).toAlignedRect();
    const int w = static_cast<int>(std::ceil(frame.width() * pixels));
    const int h = static_cast<int>(std::ceil(frame.height() * pixels));
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) {
        return {};
    }
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(pixels, pixels);
        p.translate(-frame.topLeft());
        p.fillPath(path, color);
    }
    // A blur radius of b is drawn as a Gaussian of deviation b / 2, as desktop shadows are.
    blur(image, blurRadius * pixels / 2);
    return {image, frame};
}

} // namespace ostrel::SurfacePaint
