#pragma once

#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QRectF>
#include <QSizeF>

class QPainter;

namespace ostrel {

// What the open drawer of a preview holds, in placeholder shapes: capsule bars for text, rounded
// tiles for thumbnails. Drawn at the real drawer's size in shelf points (the caller scales it).
// `beat` and `lifted` run from 0 to 1 so that a change between their two states can be drawn
// part way: the selected row cross-fades, a deck spreads out.
struct MiniDrawerContent {
    ShelfLayoutKind kind = ShelfLayoutKind::rail;
    QSizeF size;
    // Height of the header band and the inset above it; no header without a band.
    double band = 0;
    double bandTop = 0;
    double beat = 0;
    double lifted = 0;

    void paint(QPainter& painter) const;

    // A deck of cards as the stack layouts draw it, with its caption.
    struct Deck {
        int count = 1;
        double fanned = 0;
        double lifted = 0;
        bool vertical = false;

        QSizeF card() const;
        // The cards' own frame (without the caption) at this spread.
        QSizeF cardsSize() const;
        QSizeF size() const;
        // Card `i`'s transform within the cards' frame.
        QTransform cardTransform(int i) const;
        void paint(QPainter& painter, const QPointF& origin) const;
    };

    // Where the header's text starts for a layout kind.
    static double headerLeading(ShelfLayoutKind kind);
};

} // namespace ostrel
