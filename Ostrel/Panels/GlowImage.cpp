#include "Ostrel/Panels/GlowImage.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ostrel {

QRectF GlowGeometry::bloomOval(const QRectF& lit, double blurRadius) {
    const double r = std::max(blurRadius, 0.0);
    const bool wide = lit.width() >= lit.height();
    const double dx = (wide ? bloomLengthening : bloomDeepening) * r;
    const double dy = (wide ? bloomDeepening : bloomLengthening) * r;
    return QRectF(lit.x() - dx, lit.y() - dy, lit.width() + 2 * dx, lit.height() + 2 * dy);
}

QSizeF GlowGeometry::spreadScale(double s, const QRectF& lit, double blurRadius) {
    const double r = std::max(blurRadius, 0.0);
    const QRectF grown = bloomOval(lit, r);
    const double hx = r + grown.width() / 2;
    const double hy = r + grown.height() / 2;
    const double m = std::min(hx, hy);
    if (m > 0) {
        const double e = (s - 1) * m;
        return QSizeF(1 + e / hx, 1 + e / hy);
    }
    return QSizeF(s, s);
}

namespace {

// Box widths whose three passes approximate a Gaussian of `sigma`.
std::array<int, 3> boxWidths(double sigma) {
    constexpr int n = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) {
        --lower;
    }
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4);
    const int smaller = static_cast<int>(std::round(m));
    std::array<int, 3> widths{};
    for (int i = 0; i < n; ++i) {
        widths[static_cast<size_t>(i)] = i < smaller ? lower : upper;
    }
    return widths;
}

// Division by a box width as a multiplication (divisions dominated the blur's cost); rounded, so
// that a flat area keeps its value.
constexpr int reciprocalBits = 24;
uint64_t reciprocal(int width) {
    return ((uint64_t{1} << reciprocalBits) + static_cast<uint64_t>(width) / 2) /
           static_cast<uint64_t>(width);
}
uint32_t average(uint32_t sum, uint64_t inverse) {
    const uint64_t v = (sum * inverse + (uint64_t{1} << (reciprocalBits - 1))) >> reciprocalBits;
    return static_cast<uint32_t>(std::min<uint64_t>(v, 255));
}

// One box pass of half-width `r` over `count` contiguous pixels of `src`, written to `dst` with
// pixels `stride` apart.
void boxLine(const uint32_t* src, uint32_t* dst, int count, int stride, int r) {
    const uint64_t inverse = reciprocal(2 * r + 1);
    std::array<uint32_t, 4> sum{};
    auto add = [&](uint32_t p, bool plus) {
        for (int c = 0; c < 4; ++c) {
            const uint32_t v = (p >> (8 * c)) & 0xff;
            sum[static_cast<size_t>(c)] =
                plus ? sum[static_cast<size_t>(c)] + v : sum[static_cast<size_t>(c)] - v;
        }
    };
    for (int i = 0; i < std::min(r, count); ++i) {
        add(src[i], true);
    }
    for (int i = 0; i < count; ++i) {
        if (i + r < count) {
            add(src[i + r], true);
        }
        if (i - r - 1 >= 0) {
            add(src[i - r - 1], false);
        }
        uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            out |= average(sum[static_cast<size_t>(c)], inverse) << (8 * c);
        }
        dst[i * stride] = out;
    }
}

// One vertical box pass of half-width `r` from `src` to `dst` (both w x h, `stride` apart), row
// by row so that memory is read in order.
void boxColumns(const uint32_t* src, uint32_t* dst, int w, int h, int stride, int r) {
    const uint64_t inverse = reciprocal(2 * r + 1);
    std::vector<uint32_t> sum(static_cast<size_t>(w) * 4, 0);
    auto addRow = [&](int y, bool plus) {
        const uint32_t* row = src + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            const uint32_t p = row[x];
            uint32_t* s = sum.data() + static_cast<size_t>(x) * 4;
            for (int c = 0; c < 4; ++c) {
                const uint32_t v = (p >> (8 * c)) & 0xff;
                s[c] = plus ? s[c] + v : s[c] - v;
            }
        }
    };
    for (int y = 0; y < std::min(r, h); ++y) {
        addRow(y, true);
    }
    for (int y = 0; y < h; ++y) {
        if (y + r < h) {
            addRow(y + r, true);
        }
        if (y - r - 1 >= 0) {
            addRow(y - r - 1, false);
        }
        uint32_t* out = dst + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            const uint32_t* s = sum.data() + static_cast<size_t>(x) * 4;
            uint32_t p = 0;
            for (int c = 0; c < 4; ++c) {
                p |= average(s[c], inverse) << (8 * c);
            }
            out[x] = p;
        }
    }
}

} // namespace

void gaussianBlur(QImage& image, double sigma) {
    if (sigma <= 0 || image.isNull()) {
        return;
    }
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    const int w = image.width();
    const int h = image.height();
    const int stride = static_cast<int>(image.bytesPerLine() / 4);
    auto* pixels = reinterpret_cast<uint32_t*>(image.bits());
    std::vector<uint32_t> line(static_cast<size_t>(w));
    std::vector<uint32_t> copy(static_cast<size_t>(stride) * static_cast<size_t>(h));
    for (const int width : boxWidths(sigma)) {
        const int r = (width - 1) / 2;
        if (r <= 0) {
            continue;
        }
        for (int y = 0; y < h; ++y) {
            uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
            std::copy(row, row + w, line.begin());
            boxLine(line.data(), row, w, 1, r);
        }
        std::copy(pixels, pixels + copy.size(), copy.begin());
        boxColumns(copy.data(), pixels, w, h, stride, r);
    }
}

std::optional<GlowImage::Rendered> GlowImage::render(const QPainterPath& core, const QRectF& lit,
                                                     double radius, double scale,
                                                     const QColor& color) {
    const double r = std::max(radius, 0.0);
    const QRectF bloom = GlowGeometry::bloomOval(lit, r);
    QRectF united = lit.united(bloom);
    if (!core.isEmpty()) {
        united = united.united(core.boundingRect());
    }
    const double room = roomPerRadius * r;
    const double x0 = std::floor(united.left() - room);
    const double y0 = std::floor(united.top() - room);
    const double x1 = std::ceil(united.right() + room);
    const double y1 = std::ceil(united.bottom() + room);
    const QRectF frame(x0, y0, x1 - x0, y1 - y0);
    if (frame.isEmpty() || !(scale > 0)) {
        return std::nullopt;
    }
    const double pw = std::trunc(frame.width() * scale);
    const double ph = std::trunc(frame.height() * scale);
    if (!(pw > 0) || !(ph > 0) || pw > 16384 || ph > 16384) {
        return std::nullopt;
    }
    const QSize pixels(static_cast<int>(pw), static_cast<int>(ph));

    // Each pass draws its shape alone, blurs it and lays it over what is there. A wide blur is
    // worked out on a smaller copy and scaled up: the result is smooth either way, and the cost
    // no longer grows with the radius.
    auto pass = [&](const QPainterPath& shape, double alpha, double sigma) {
        const int shrink = sigma >= 8 ? std::min(8, static_cast<int>(sigma / 4)) : 1;
        const QSize small((pixels.width() + shrink - 1) / shrink,
                          (pixels.height() + shrink - 1) / shrink);
        QImage layer(small, QImage::Format_ARGB32_Premultiplied);
        if (layer.isNull()) {
            return QImage();
        }
        layer.fill(Qt::transparent);
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale / shrink, scale / shrink);
        p.translate(-frame.topLeft());
        QColor c = color;
        c.setAlphaF(static_cast<float>(alpha));
        p.fillPath(shape, c);
        p.end();
        gaussianBlur(layer, sigma / shrink);
        if (shrink == 1) {
            return layer;
        }
        return layer.scaled(small * shrink, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .copy(QRect(QPoint(0, 0), pixels));
    };

    QImage image = pass(core, 1.0, coreShare * r * scale);
    if (image.isNull()) {
        return std::nullopt;
    }
    QPainterPath oval;
    oval.addEllipse(bloom);
    const QImage bloomLayer = pass(oval, GlowGeometry::bloomOpacity, r * scale);
    QPainter p(&image);
    p.drawImage(0, 0, bloomLayer);
    p.end();
    image.setDevicePixelRatio(scale);
    return Rendered{image, frame};
}

QImage roundedShadow(const QRectF& shape, double corner, double blur, double opacity, QSize pixels,
                     double ratio) {
    if (ratio <= 0 || pixels.isEmpty() || shape.isEmpty()) {
        return {};
    }
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return image;
    }
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(ratio, ratio);
        QPainterPath path;
        path.addRoundedRect(shape, corner, corner);
        p.fillPath(path, QColor::fromRgbF(0, 0, 0, float(opacity)));
    }
    // A blur radius reads as about two deviations of a Gaussian, as the shelf's other shadows.
    gaussianBlur(image, blur / 2 * ratio);
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace ostrel
