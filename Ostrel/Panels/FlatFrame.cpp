#include "Ostrel/Panels/FlatFrame.h"

#include <QBitmap>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace ostrel {

namespace {

void setBit(uchar* row, int x) {
    row[x >> 3] |= static_cast<uchar>(1u << (x & 7));
}

} // namespace

FlatFrame FlatFrame::flatten(QImage rendered) {
    if (rendered.isNull()) {
        return {};
    }
    if (rendered.format() != QImage::Format_ARGB32_Premultiplied) {
        rendered = rendered.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    const double ratio = std::max(rendered.devicePixelRatio(), 1e-3);
    const bool whole = ratio == 1;
    const int w = rendered.width();
    const int h = rendered.height();
    const int lw = whole ? w : static_cast<int>(std::floor(w / ratio));
    const int lh = whole ? h : static_cast<int>(std::floor(h / ratio));
    QImage bits(std::max(lw, 1), std::max(lh, 1), QImage::Format_MonoLSB);
    bits.setColorCount(2);
    bits.setColor(0, qRgb(255, 255, 255));
    bits.setColor(1, qRgb(0, 0, 0));
    bits.fill(0);
    bool any = false;

    // At a ratio of 1 a kept pixel is a kept logical pixel; above 1 the kept device pixels are
    // noted first, and a logical pixel is kept when all of its are.
    std::vector<uint8_t> kept(whole ? 0 : static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(rendered.scanLine(y));
        uchar* out = whole ? bits.scanLine(y) : nullptr;
        uint8_t* keep =
            whole ? nullptr : kept.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int x = 0; x < w; ++x) {
            const uint32_t p = row[x];
            const uint32_t a = p >> 24;
            if (a < coverage) {
                row[x] = 0;
                continue;
            }
            if (whole) {
                setBit(out, x);
                any = true;
            } else {
                keep[x] = 1;
            }
            if (a == 255) {
                continue;
            }
            const auto full = [a](uint32_t c) {
                return std::min<uint32_t>(255, (c * 255 + a / 2) / a);
            };
            row[x] = 0xff000000u | (full((p >> 16) & 0xff) << 16) | (full((p >> 8) & 0xff) << 8) |
                     full(p & 0xff);
        }
    }

    for (int ly = 0; !whole && ly < lh; ++ly) {
        const int y0 = static_cast<int>(std::floor(ly * ratio));
        const int y1 = std::min(h, std::max(y0 + 1, static_cast<int>(std::ceil((ly + 1) * ratio))));
        uchar* out = bits.scanLine(ly);
        for (int lx = 0; lx < lw; ++lx) {
            const int x0 = static_cast<int>(std::floor(lx * ratio));
            const int x1 =
                std::min(w, std::max(x0 + 1, static_cast<int>(std::ceil((lx + 1) * ratio))));
            bool all = true;
            for (int y = y0; y < y1 && all; ++y) {
                const uint8_t* keep = kept.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
                all = std::all_of(keep + x0, keep + x1, [](uint8_t k) { return k != 0; });
            }
            if (all) {
                setBit(out, lx);
                any = true;
            }
        }
    }
    FlatFrame frame;
    frame.image = std::move(rendered);
    if (any) {
        frame.shape = QRegion(QBitmap::fromImage(bits, Qt::MonoOnly));
    }
    return frame;
}

} // namespace ostrel
