#include "Ostrel/Views/SidebarLayout.h"

#include <algorithm>
#include <cmath>

namespace ostrel {

double SidebarLayout::contentHeight() const {
    if (count <= 0) {
        return 2 * padding;
    }
    return 2 * padding + double(count) * rowHeight + double(count - 1) * spacing;
}

QRectF SidebarLayout::rowRect(qsizetype index) const {
    return QRectF(0, padding + double(index) * (rowHeight + spacing), width, rowHeight);
}

SidebarLayout::Range SidebarLayout::visible(double offset, double viewport) const {
    const double pitch = rowHeight + spacing;
    if (count <= 0 || viewport <= 0 || pitch <= 0) {
        return {};
    }
    const double top = offset - padding;
    const double bottom = offset + viewport - padding;
    // A row i spans [i * pitch, i * pitch + rowHeight) relative to the padding.
    const auto first = qsizetype(std::max(0.0, std::floor((top - rowHeight) / pitch) + 1));
    const auto last = qsizetype(std::max(0.0, std::ceil(bottom / pitch)));
    Range range{std::min(first, count), std::min(last, count)};
    // Rounding at exact edges: drop rows that only touch the viewport.
    while (!range.isEmpty() && rowRect(range.first).bottom() <= offset) {
        ++range.first;
    }
    while (!range.isEmpty() && rowRect(range.last - 1).top() >= offset + viewport) {
        --range.last;
    }
    return range;
}

qsizetype SidebarLayout::rowAt(double y) const {
    const double pitch = rowHeight + spacing;
    if (count <= 0 || pitch <= 0 || y < padding) {
        return -1;
    }
    const auto index = qsizetype(std::floor((y - padding) / pitch));
    if (index >= count || y >= rowRect(index).bottom()) {
        return -1;
    }
    return index;
}

} // namespace ostrel
