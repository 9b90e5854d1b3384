#include "Ostrel/Views/ShelfHeaderLayout.h"

#include <algorithm>

namespace ostrel {

ShelfHeaderLayout ShelfHeaderLayout::make(const Input& in) {
    ShelfHeaderLayout out;
    const double spacing = in.compact ? 2 : 8;
    const double trailing = in.compact ? 2 : 12;
    const double gapMin = in.compact ? 4 : 8;
    const double midY = in.height / 2;
    auto centred = [&](double x, double w, double h) { return QRectF(x, midY - h / 2, w, h); };

    double right = in.width - trailing;
    out.menuButton = centred(right - buttonSide, buttonSide, buttonSide);
    right = out.menuButton.left() - spacing;
    out.filterButton = centred(right - buttonSide, buttonSide, buttonSide);
    right = out.filterButton.left() - spacing;
    if (in.unreadText) {
        const double w = unreadDot + 4 + *in.unreadText;
        out.unread = centred(right - w, w, in.textHeight);
        right = out.unread->left() - spacing;
    }
    if (in.chipText) {
        const double w = chipPadding + *in.chipText + 4 + xmarkWidth + chipPadding;
        out.chip = centred(right - w, w, chipHeight);
        right = out.chip->left() - spacing;
    }
    // The flexible gap and the spacing on both of its sides.
    const double room = std::max(0.0, right - gapMin - spacing - in.leading);
    double label = in.projectText + 4 + chevronWidth;
    if (in.capped) {
        label = std::min(label, switcherCap);
    }
    label = std::min(label, room);
    out.projectTextWidth = std::max(0.0, label - 4 - chevronWidth);
    out.switcher = centred(in.leading, label, in.textHeight + 2 * switcherPadding);
    return out;
}

} // namespace ostrel
