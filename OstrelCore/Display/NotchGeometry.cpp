#include "OstrelCore/Display/NotchGeometry.h"

#include "OstrelCore/Display/Geometry.h"

namespace ostrel {

using namespace Geometry;

NotchGeometry NotchGeometry::compute(const QRectF& screenFrame, double topInset,
                                     const std::optional<QRectF>& auxLeft,
                                     const std::optional<QRectF>& auxRight) {
    if (topInset <= 0 || !auxLeft || !auxRight || !(maxX(*auxLeft) < minX(*auxRight))) {
        return NotchGeometry{screenFrame, std::nullopt};
    }
    return NotchGeometry{screenFrame, QRectF(maxX(*auxLeft), maxY(screenFrame) - topInset,
                                             minX(*auxRight) - maxX(*auxLeft), topInset)};
}

NotchGeometry NotchGeometry::resolve(const NotchGeometry& live,
                                     const std::optional<NotchGeometry>& cached) {
    if (live.hasNotch() || !cached || !cached->hasNotch() ||
        cached->screenFrame.width() != live.screenFrame.width() ||
        cached->screenFrame.height() != live.screenFrame.height()) {
        return live;
    }
    const double dx = minX(live.screenFrame) - minX(cached->screenFrame);
    const double dy = minY(live.screenFrame) - minY(cached->screenFrame);
    return NotchGeometry{live.screenFrame, cached->notchRect->translated(dx, dy)};
}

bool operator==(const NotchGeometry& a, const NotchGeometry& b) {
    return same(a.screenFrame, b.screenFrame) && same(a.notchRect, b.notchRect);
}

std::optional<PixelSize> NativeResolution::pick(const std::vector<DisplayModeSize>& modes) {
    std::vector<DisplayModeSize> candidates;
    for (const auto& m : modes) {
        if (m.isNative) {
            candidates.push_back(m);
        }
    }
    if (candidates.empty()) {
        for (const auto& m : modes) {
            if (m.pixelWidth == m.width && m.pixelHeight == m.height) {
                candidates.push_back(m);
            }
        }
    }
    if (candidates.empty()) {
        candidates = modes;
    }
    if (candidates.empty()) {
        return std::nullopt;
    }
    const DisplayModeSize* best = &candidates.front();
    for (const auto& m : candidates) {
        // 64-bit areas: a pixel count can pass the range of int.
        if (qint64(m.pixelWidth) * m.pixelHeight > qint64(best->pixelWidth) * best->pixelHeight) {
            best = &m;
        }
    }
    return PixelSize{best->pixelWidth, best->pixelHeight};
}

} // namespace ostrel
