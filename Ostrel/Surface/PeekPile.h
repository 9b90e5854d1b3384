#pragma once

#include "OstrelCore/Display/DisplayStyleChoice.h"
#include "OstrelCore/Records/Preferences.h"

#include <QBrush>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <functional>
#include <vector>

class QPainter;

namespace ostrel {

// The peek card a pill shows when items arrive, with what stands behind it: one more card fanned
// or stacked, or a count badge on the single card. A pure function of its inputs.
struct PeekPile {
    PeekPileStyle style = PeekPileStyle::fan;
    int count = 0;
    DisplayStylePosition edge = DisplayStylePosition::bottom;
    QSizeF size;
    double scale = 1;
    // What fills the card at an index (0 is the front card), given the card's rectangle.
    std::function<QBrush(int index, const QRectF& card)> card;

    // Cards drawn behind the front card: 0 or 1.
    int behind() const;
    double corner() const;
    double outlineWidth() const;

    // Where and how one card is drawn, in the pile's own coordinates (origin at its top left).
    struct Card {
        int index = 0;
        QTransform transform;
        double outlineOpacity = 0;
        double darken = 0;
        double shadowOpacity = 0;
    };
    // Back to front: the front card (index 0) comes last.
    std::vector<Card> cards() const;
    bool showsBadge() const;
    QRectF badgeRect() const;
    QRectF dotRect() const;
    // Everything the pile paints, its cards' glow included.
    QRectF bounds() const;

    void paint(QPainter& painter, double pixels) const;
};

} // namespace ostrel
