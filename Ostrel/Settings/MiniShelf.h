#pragma once

#include "Ostrel/Settings/MiniSpace.h"
#include "Ostrel/Settings/PreviewDisplay.h"
#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QGraphicsObject>

#include <optional>

namespace ostrel {

// The shelf inside a preview's mini screen, drawn with the real shelf's geometry, glow, pill line
// and peek pile, passed through the preview's mapping. Its state is a value the preview sets on
// every frame (animated values already interpolated).
class MiniShelf : public QGraphicsObject {
public:
    struct State {
        double progress = 0;
        double trailing = 0;
        ShelfLayoutKind kind = ShelfLayoutKind::rail;
        double glow = 0;
        double restLevel = 1;
        bool halo = false;
        Motion::GlowLook strength{16, 28};
        int count = 0;
        // 0 tucked away, 1 out.
        double peeking = 0;
        PeekPileStyle pile = PeekPileStyle::fan;
        int peekCount = 1;
        double beat = 0;
        double lifted = 0;
        // While the arrangement changes: the kind shown before, and how far `kind` has taken
        // over from it (1: done).
        std::optional<ShelfLayoutKind> fromKind;
        double kindShare = 1;
        friend bool operator==(const State&, const State&) = default;
    };

    // What is drawn where, in the viewport's coordinates, for one state.
    struct Frame {
        DrawerGeometry geometry;
        double swell = 1;
        QRectF pillLine;
        QRectF peekCard;
        QRectF markerRect;
        double markerOpacity = 0;
        double contentScale = 0;
        QRectF content;
        QRectF badge;
        double badgeOpacity = 0;
    };

    MiniShelf(const PreviewDisplay& display, const MiniSpace& space,
              QGraphicsItem* parent = nullptr);

    void setDisplay(const PreviewDisplay& display, const MiniSpace& space);
    void setState(const State& state);
    const State& state() const { return state_; }

    // The drawer's size for a kind on this display, in shelf points.
    QSizeF drawerSize(ShelfLayoutKind kind) const;
    // The size drawn now: between the two kinds' sizes while the arrangement changes.
    QSizeF currentSize() const;
    Frame frame() const;
    // The pill's line for its resting rectangle (already in the viewport's coordinates): never
    // smaller than 10 × 2 and never closer than 3 points to the screen's edge.
    static QRectF pillLineRect(DisplayStylePosition edge, const QRectF& resting, double scale);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    PreviewDisplay display_;
    MiniSpace space_;
    State state_;
};

} // namespace ostrel
