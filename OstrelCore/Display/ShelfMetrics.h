#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QSizeF>

// Sizes, paddings and spacings every shelf view and the Settings previews share, in points, so
// that a miniature matches the real shelf.
namespace ostrel::ShelfMetrics {

inline constexpr double drawerPadding = 14;
inline constexpr double columnPadding = 8;
inline constexpr double contentPadding = 12;
inline constexpr double stackPadding = 10;
inline constexpr double rowSpacing = 6;
inline constexpr double smallSpacing = 4;
inline constexpr double chipSpacing = 4;
inline constexpr double stackGap = 8;
inline constexpr double captionHeight = 13;
inline constexpr double gridPadding = 8;
inline constexpr double hairPadding = 2;
inline constexpr double chipHeight = 14;
inline constexpr double stackInnerPadding = 6;
inline constexpr double thumbPadding = 5;
inline const QSizeF thumbInset{6, 3};
inline constexpr double thumbBadgeSize = 20;
inline constexpr double thumbDotSize = 7;
inline constexpr double thumbDotInset = 6;
inline constexpr double thumbStroke = 1.5;
inline constexpr double thumbGlyphScale = 0.26;
inline constexpr double thumbGlyphMax = 22;
inline constexpr double menuGap = 4;
inline constexpr double stackExtent = 100;
inline const QSizeF stackCard{112, 84};
inline constexpr double deckDepth = 5;
inline constexpr double deckTilt = 2.5;
inline constexpr double railWidth = 180;
inline const QSizeF railCard{160, 120};
inline constexpr double railTopPadding = 4;
inline constexpr double columnSidebar = 148;
inline const QSizeF columnGridCard{141, 106};
inline constexpr double rowIndent = 12;
inline constexpr double tipMaxWidth = 260;
inline const QSizeF tipPadding{9, 6};
inline constexpr double drawerInset = 8;

// The card column of the side-stacks layout.
double sideColumnWidth();
// The card size of the side-stacks layout: a 4:3 card filling that column less the deck's depth.
QSizeF columnCard();

// Padding on the screen-edge side of the drawer.
constexpr double edgeInset(DisplayStylePosition position) {
    switch (position) {
    case DisplayStylePosition::left:
    case DisplayStylePosition::right:
        return 22;
    case DisplayStylePosition::top:
        return 16;
    case DisplayStylePosition::bottom:
        return 14;
    }
    return 16;
}
// The shelf header's leading inset in a drawer of this layout: the same table, read by the
// layout rather than by the screen edge, so a rail under a hover notch lines up with its sidebar.
constexpr double edgeInset(ShelfLayoutKind kind) {
    switch (kind) {
    case ShelfLayoutKind::rail:
    case ShelfLayoutKind::column:
        return 22;
    case ShelfLayoutKind::stacks:
        return 16;
    case ShelfLayoutKind::sideStacks:
        return 14;
    }
    return 16;
}
// Extra room under the bottom pill's drawer.
double bottomInset(const DisplayStyle& style);

// The width of `count` items of `width`, 8 points apart (-8 for none).
constexpr double rowWidth(double count, double width) {
    return (width + stackGap) * count - stackGap;
}
// The height a fanned deck card of this size needs.
double fanHeight(double width, double height);
// The kind symbol's size on a card of this side.
double thumbGlyphSize(double cardSide);

} // namespace ostrel::ShelfMetrics
