#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <vector>

namespace ostrel {

// How the count badge's number changes: characters are matched by place value from the right;
// a character that stays glides to its new place, one that changes leaves upwards while its
// successor rises from below, fading as they go. The direction is always that of counting up,
// whichever way the number moved. `progress` runs from 0 (the old text) to 1 (the new one) and
// may overshoot on a spring: places follow it, opacities stay within 0 and 1.
struct CountRoll {
    struct Glyph {
        QString text;
        // Left end of the glyph's baseline.
        QPointF origin;
        double opacity = 1;

        friend bool operator==(const Glyph&, const Glyph&) = default;
    };

    QString from;
    QString to;
    double progress = 1;

    // The glyphs to draw, each text centred in `rect`.
    std::vector<Glyph> glyphs(const QRectF& rect, const QFont& font) const;
    // How far a changing character travels: most of a digit's height.
    static double travel(const QFont& font);
};

} // namespace ostrel
