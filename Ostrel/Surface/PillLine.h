#pragma once

#include <QRectF>

class QPainter;

namespace ostrel {

// The short capsule that marks a pill at its screen edge: a white line with a faint shadow, and
// an accent line over it that lights while arrivals are unread.
struct PillLine {
    QRectF rect;
    // 1 while arrivals are unread; between 0 and 1 while the accent fades in or out.
    double lit = 0;
    // Brightness of the accent line while it is not lit (a style pulse raises it).
    double highlight = 0;
    // Blur radius of the base line's shadow, in points.
    double scale = 1;

    double accentOpacity() const { return highlight + (1 - highlight) * lit; }
    void paint(QPainter& painter, double pixels) const;
};

} // namespace ostrel
