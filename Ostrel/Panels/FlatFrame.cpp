#include "Ostrel/Panels/FlatFrame.h"

#include <QBitmap>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

// Flattens one row's pixels [from, to); true when every one of them was opaque already.
bool flattenRow(uint32_t* row, int from, int to) {
    // Most rows a frame paints are opaque throughout: a pass over eight pixels at a time tells.
    uint64_t all[4] = {~0ull, ~0ull, ~0ull, ~0ull};
    int x = from;
    for (; x + 8 <= to; x += 8) {
        uint64_t eight[4];
        std::memcpy(eight, row + x, sizeof eight);
        for (int i = 0; i < 4; ++i) {
            all[i] &= eight[i];
        }
    }
    uint64_t rest = all[0] & all[1] & all[2] & all[3];
    for (; x < to; ++x) {
        rest &= 0xffffffff00000000ull | row[x];
        rest &= uint64_t(row[x]) << 32 | 0xffffffffull;
    }
    constexpr uint64_t alphas = 0xff000000ff000000ull;
    if ((rest & alphas) == alphas) {
        return true;
    }
    bool opaque = true;
    for (int x = from; x < to; ++x) {
        const uint32_t p = row[x];
        const uint32_t a = p >> 24;
        if (a == 255) {
            continue;
        }
        opaque = false;
        if (a < FlatFrame::coverage) {
            row[x] = 0;
            continue;
        }
        const auto full = [a](uint32_t c) {
            return std::min<uint32_t>(255, (c * 255 + a / 2) / a);
        };
        row[x] = 0xff000000u | (full((p >> 16) & 0xff) << 16) | (full((p >> 8) & 0xff) << 8) |
                 full(p & 0xff);
    }
    return opaque;
}

} // namespace

void FlatFrame::flatten(QImage& image, QRegion painted, QPoint origin, double ratio) {
    if (image.isNull() || image.format() != QImage::Format_ARGB32_Premultiplied) {
        return;
    }
    const QRect bounds = image.rect();
    painted = painted.isEmpty() ? QRegion(bounds) : painted & bounds;
    ratio = std::max(ratio, 1e-3);
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const auto row = [bits, stride](int y) {
        return reinterpret_cast<uint32_t*>(bits + qsizetype(y) * stride);
    };
    const auto toLogical = [&](const QRect& r) {
        const int left = int(std::floor((r.left() - origin.x()) / ratio));
        const int top = int(std::floor((r.top() - origin.y()) / ratio));
        const int right = int(std::ceil((r.right() + 1 - origin.x()) / ratio));
        const int bottom = int(std::ceil((r.bottom() + 1 - origin.y()) / ratio));
        return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    };
    // The image pixels [from, to) under one logical row or column; none when they leave the image.
    const auto span = [&](int logical, int offset, int limit) {
        const int from = offset + int(std::floor(logical * ratio));
        const int to = std::max(from + 1, offset + int(std::ceil((logical + 1) * ratio)));
        return from < 0 || to > limit ? std::pair(0, 0) : std::pair(from, to);
    };

    // Every painted pixel is flattened first: a logical pixel may lie across two painted rects.
    std::vector<std::pair<QRect, bool>> rects;
    for (const QRect& r : painted) {
        bool opaque = true;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            opaque = flattenRow(row(y), r.left(), r.right() + 1) && opaque;
        }
        rects.emplace_back(r, opaque);
    }

    // A logical pixel is kept when every image pixel under it is: after flattening each is
    // either opaque or clear. A painted rect that was opaque throughout and holds all the image
    // pixels of its logical pixels (the rest of the drawer while it scrolls) is kept whole
    // without looking at a pixel again.
    QRegion logical;
    QRegion kept;
    examined_ = 0;
    std::vector<std::pair<int, int>> columns;
    for (const auto& [r, opaque] : rects) {
        const QRect l = toLogical(r);
        logical += l;
        if (opaque && span(l.left(), origin.x(), bounds.width()).first == r.left() &&
            span(l.right(), origin.x(), bounds.width()).second == r.right() + 1 &&
            span(l.top(), origin.y(), bounds.height()).first == r.top() &&
            span(l.bottom(), origin.y(), bounds.height()).second == r.bottom() + 1) {
            kept += l;
            continue;
        }
        examined_ += qsizetype(l.width()) * l.height();
        QImage mask(l.size(), QImage::Format_MonoLSB);
        mask.setColorCount(2);
        mask.setColor(0, qRgb(255, 255, 255));
        mask.setColor(1, qRgb(0, 0, 0));
        mask.fill(0);
        columns.clear();
        for (int lx = 0; lx < l.width(); ++lx) {
            columns.push_back(span(l.left() + lx, origin.x(), bounds.width()));
        }
        bool any = false;
        for (int ly = 0; ly < l.height(); ++ly) {
            const auto [y0, y1] = span(l.top() + ly, origin.y(), bounds.height());
            uchar* out = mask.scanLine(ly);
            for (int lx = 0; lx < l.width(); ++lx) {
                const auto [x0, x1] = columns[size_t(lx)];
                bool all = x0 < x1 && y0 < y1;
                for (int y = y0; y < y1 && all; ++y) {
                    const uint32_t* pixels = row(y);
                    all = std::all_of(pixels + x0, pixels + x1,
                                      [](uint32_t p) { return p >> 24 == 255; });
                }
                if (all) {
                    out[lx >> 3] |= static_cast<uchar>(1u << (lx & 7));
                    any = true;
                }
            }
        }
        if (any) {
            kept += QRegion(QBitmap::fromImage(mask, Qt::MonoOnly)).translated(l.topLeft());
        }
    }
    shape_ = shape_.subtracted(logical).united(kept);
}

} // namespace ostrel
