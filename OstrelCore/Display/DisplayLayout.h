#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace ostrel {

// The shelf's geometry on one display, in global screen coordinates (points, y up). Every
// rectangle is worked out on demand from the four stored values.
class DisplayLayout {
public:
    static constexpr double topBand = 32;
    static constexpr double margin = 24;
    static constexpr double peekGap = 10;
    static constexpr double peekLineClearance = 10;
    static inline const QSizeF virtualNotchSize{200, 32};
    static inline const QSizeF peekSize{132, 99};
    static inline const QSizeF pillLineSize{48, 4};

    // The visible frame is cut to the screen (the whole screen when none is given or nothing of
    // it is left); the notch is kept for the notch style only.
    DisplayLayout(const DisplayStyle& style, const QRectF& screenFrame,
                  const std::optional<QRectF>& visibleFrame, const std::optional<QRectF>& notch);
    static DisplayLayout make(const DisplayStyleChoice& choice, const NotchGeometry& geometry,
                              const std::optional<QRectF>& visibleFrame);

    const DisplayStyle& style() const { return style_; }
    const QRectF& screenFrame() const { return screen_; }
    const QRectF& visibleFrame() const { return visible_; }
    const std::optional<QRectF>& notch() const { return notch_; }

    // The closed shelf. `trailing` is the width of the count badge right of a notch (0 for none).
    QRectF collapsedRect() const;
    QRectF peekCardRect() const;
    QRectF restRect(double trailing) const;
    std::optional<QRectF> pillLineRect() const;
    QRectF hotZone(double trailing) const;

    // The open shelf.
    QRectF drawerRect(const QSizeF& size, double message) const;
    bool messageOnTop() const;
    QRectF messageBand(const QRectF& drawer, double message) const;
    QRectF hoverRect(const QRectF& openDrawer) const;
    QSizeF drawerSize(ShelfLayoutKind kind) const;
    QRectF panelFrame(const QSizeF& size) const;
    QRectF panelFrame() const;
    // From the panel's upper left corner, downwards.
    QPointF drawerOriginInPanel(const QSizeF& size) const;
    // Infinite when the panel reaches the screen edge on the card's side.
    double peekTuckRoom() const;
    QRectF closingDrawerRect(const QRectF& open, double trailing, double elapsed,
                             double duration) const;
    bool closingDrawerReopens() const;
    bool hidesAtRest(bool fullscreen) const;

    friend bool operator==(const DisplayLayout& a, const DisplayLayout& b);

private:
    DisplayStyle style_;
    QRectF screen_;
    QRectF visible_;
    std::optional<QRectF> notch_;
};

namespace MenuPlacement {
// Where a pop-up menu goes, in the control's own coordinates: below the control when it fits
// above `floor`, else above it.
double originY(const QRectF& control, double menuHeight, double floor, double gap);
} // namespace MenuPlacement

} // namespace ostrel
