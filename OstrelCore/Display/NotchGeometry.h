#pragma once

#include <QRectF>

#include <optional>
#include <vector>

namespace ostrel {

// A screen's camera housing, found from what the window system reports about its top edge.
struct NotchGeometry {
    QRectF screenFrame;
    std::optional<QRectF> notchRect;

    bool hasNotch() const { return notchRect.has_value(); }

    // The housing is the gap between the two areas beside it, as tall as the top inset.
    static NotchGeometry compute(const QRectF& screenFrame, double topInset,
                                 const std::optional<QRectF>& auxLeft,
                                 const std::optional<QRectF>& auxRight);
    // Keeps a housing learned earlier for the same display when the live report lost it, as long
    // as the screen still has the same size.
    static NotchGeometry resolve(const NotchGeometry& live,
                                 const std::optional<NotchGeometry>& cached);

    friend bool operator==(const NotchGeometry& a, const NotchGeometry& b);
};

// One display mode: its size in points and pixels, and whether it is the display's native one.
struct DisplayModeSize {
    int width = 0;
    int height = 0;
    int pixelWidth = 0;
    int pixelHeight = 0;
    bool isNative = false;
    friend bool operator==(const DisplayModeSize&, const DisplayModeSize&) = default;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

namespace NativeResolution {
// The native modes, else the 1x modes, else all; the one with the most pixels, the first on ties.
std::optional<PixelSize> pick(const std::vector<DisplayModeSize>& modes);
} // namespace NativeResolution

} // namespace ostrel
