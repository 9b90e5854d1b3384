#pragma once

#include "Ostrel/Surface/Halo.h"
#include "Ostrel/Surface/PeekPile.h"
#include "Ostrel/Surface/PillLine.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Records/Preferences.h"

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <optional>
#include <vector>

class QPainter;

namespace ostrel {

// Turns one display's drawer content into the shelf the user sees at one moment: the resting
// shape, the arrival glow or count, the pill line and peek pile, and the drawer growing out of
// the rest shape with its content scaled and faded inside. It decides nothing about timing: every
// input is a value of that moment (the animated ones already interpolated by the shelf view), so
// `compose()` is a pure function of them. Everything is in panel coordinates.
struct DrawerMotion {
    double progress = 0;
    double trailing = 0;
    double message = 0;
    DisplayLayout layout{DisplayStyle::notch(), QRectF(), std::nullopt, std::nullopt};
    QSizeF base;
    double glow = 0;
    bool halo = true;
    Motion::GlowLook strength;
    int count = 0;
    // The count the badge's number rolls from, and how far it has rolled (1: done).
    int countFrom = 0;
    double countRoll = 1;
    bool hidesAtRest = false;
    // 0 hidden, 1 shown; in between while the peek card slides out or fades away.
    double peeking = 0;
    // The peek is on (its card takes taps and drags), whatever its animation shows.
    bool peekActive = false;
    std::vector<std::optional<QImage>> peekImages;
    int peekCount = 0;
    PeekPileStyle pile = PeekPileStyle::fan;
    double cardDrag = 0;
    // 0 normal, 1 sunk during a display-style change.
    double sunk = 0;
    double highlight = 0;
    double restLevel = 0.75;
    // 0 unlit, 1 lit: how far the pill line's accent has faded in for unread arrivals.
    double lineLit = 0;
    bool reduceMotion = false;

    struct Frame {
        QSizeF panel;
        DrawerGeometry geometry;
        double sinkFactor = 1;
        QPointF sinkOffset;
        double swell = 1;

        // Notch halo.
        std::optional<Halo> notchHalo;
        double notchHaloOpacity = 0;

        // Hover-notch line group.
        bool hoverLine = false;
        QRectF lineRect;
        std::optional<Halo> lineHalo;
        double lineHaloOpacity = 0;
        double lineFillOpacity = 0;
        double lineGroupOpacity = 0;

        // Pill group: line, its halo and the peek pile.
        bool pill = false;
        QRectF card;
        double tuck = 0;
        QRectF pileRect;
        double pileOpacity = 0;
        PeekPile peekPile;
        PillLine pillLine;
        double pillLineOpacity = 0;
        std::optional<Halo> pillHalo;
        double pillHaloOpacity = 0;
        double pillGroupOpacity = 0;
        std::optional<QRectF> cardHitArea;

        // The drawer content, laid out at `contentSize` and mapped into the panel.
        QSizeF contentSize;
        double contentScale = 1;
        QTransform contentTransform;
        QRectF contentFrame;
        double contentOpacity = 0;
        bool contentHits = false;
        bool contentAccessible = false;
        QPainterPath shape;

        // The surface fills behind the content, back to front.
        double blackOpacity = 0;
        QColor tint;
        double tintOpacity = 0;
        double accentOpacity = 0;

        // Count badge.
        QString badgeText;
        // The text the number rolls from while `badgeRoll` is below 1.
        QString badgeFrom;
        double badgeRoll = 1;
        QRectF badgeRect;
        double badgeOpacity = 0;
    };

    Frame compose() const;

    // Screen rectangle to panel coordinates: origin at the panel's top left, y down.
    static QRectF toPanel(const QRectF& panel, const QRectF& rect);

    // Layers behind the content: halos, line groups, pill group and the surface fills. Glows are
    // left out when `glows` is off (no compositor to blend them). `exposed`, when given, is the
    // part being repainted: lying inside the surface (the drawer's content scrolling), it is
    // filled as the rectangle it is.
    void paintBehind(QPainter& painter, const Frame& frame, double pixels, bool glows,
                     const QRectF& exposed = {}) const;
    // The count badge, in front of the content.
    static void paintBadge(QPainter& painter, const Frame& frame);
};

} // namespace ostrel
