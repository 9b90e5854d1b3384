#include "OstrelCore/Display/ShelfMetrics.h"

#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Motion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel::ShelfMetrics {

double sideColumnWidth() {
    return DrawerSize::sideStacksWidth - 28;
}

QSizeF columnCard() {
    static const QSizeF card = DrawerSize::fillingCard(sideColumnWidth(), deckDepth);
    return card;
}

double bottomInset(const DisplayStyle& style) {
    return style.position() == DisplayStylePosition::bottom ? 8 : 0;
}

double fanHeight(double width, double height) {
    const double a = (Motion::fanAngle + deckTilt) * std::numbers::pi / 180.0;
    return std::ceil(width * std::sin(a) + (Motion::fanLift + deckDepth) + height * std::cos(a));
}

double thumbGlyphSize(double cardSide) {
    return std::min(cardSide * thumbGlyphScale, thumbGlyphMax);
}

} // namespace ostrel::ShelfMetrics
