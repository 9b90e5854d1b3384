#pragma once

#include <algorithm>

namespace ostrel {

// One vertical scroll range: content of a height seen through a viewport of another. Offsets are
// points from the content's top; the rules keep them inside [0, maxOffset].
struct ScrollExtent {
    double content = 0;
    double viewport = 0;

    double maxOffset() const { return std::max(0.0, content - viewport); }
    double clamp(double offset) const { return std::clamp(offset, 0.0, maxOffset()); }

    // The offset that shows [top, bottom) with the least scrolling from `offset`: unchanged when
    // it already shows, else the nearer edge lines up. A span taller than the viewport shows its
    // top.
    double reveal(double top, double bottom, double offset) const {
        if (top < offset || bottom - top > viewport) {
            return clamp(top);
        }
        if (bottom > offset + viewport) {
            return clamp(bottom - viewport);
        }
        return clamp(offset);
    }

    friend bool operator==(const ScrollExtent&, const ScrollExtent&) = default;
};

} // namespace ostrel
