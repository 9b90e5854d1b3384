#include "OstrelCore/Display/DisplayLayout.h"

#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/StripScroll.h"

#include <algorithm>
#include <limits>

namespace ostrel {

using namespace Geometry;

namespace {

QRectF clippedVisible(const QRectF& screen, const std::optional<QRectF>& visible) {
    const auto cut = intersection(visible.value_or(screen), screen);
    if (!cut || cut->width() <= 0 || cut->height() <= 0) {
        return screen;
    }
    return *cut;
}

} // namespace

DisplayLayout::DisplayLayout(const DisplayStyle& style, const QRectF& screenFrame,
                             const std::optional<QRectF>& visibleFrame,
                             const std::optional<QRectF>& notch)
    : style_(style), screen_(screenFrame), visible_(clippedVisible(screenFrame, visibleFrame)),
      notch_(style.isNotch() ? notch : std::nullopt) {}

DisplayLayout DisplayLayout::make(const DisplayStyleChoice& choice, const NotchGeometry& geometry,
                                  const std::optional<QRectF>& visibleFrame) {
    return DisplayLayout(ostrel::style(choice, geometry.hasNotch()), geometry.screenFrame,
                         visibleFrame, geometry.notchRect);
}

QRectF DisplayLayout::collapsedRect() const {
    const QRectF& s = screen_;
    const QRectF& v = visible_;
    if (const auto side = style_.pillSide()) {
        switch (*side) {
        case PillSide::left:
            return QRectF(minX(v) + 10, midY(v) - 49.5, 132, 99);
        case PillSide::bottom:
            return QRectF(midX(s) - 66, minY(v) + 10, 132, 99);
        case PillSide::right:
            return QRectF(maxX(v) - 142, midY(v) - 49.5, 132, 99);
        }
    }
    if (style_.isNotch() && notch_) {
        return *notch_;
    }
    return QRectF(midX(s) - 100, maxY(s) - 32, 200, 32);
}

QRectF DisplayLayout::peekCardRect() const {
    const QRectF c = collapsedRect();
    if (const auto side = style_.pillSide()) {
        switch (*side) {
        case PillSide::left:
            return c.translated(10, 0);
        case PillSide::bottom:
            return c.translated(0, 10);
        case PillSide::right:
            return c.translated(-10, 0);
        }
    }
    return c;
}

QRectF DisplayLayout::restRect(double trailing) const {
    const QRectF c = collapsedRect();
    if (style_.isPill()) {
        return c;
    }
    return QRectF(c.x(), c.y(), c.width() + trailing, c.height());
}

std::optional<QRectF> DisplayLayout::pillLineRect() const {
    const auto side = style_.pillSide();
    if (!side) {
        return std::nullopt;
    }
    const QRectF c = collapsedRect();
    switch (*side) {
    case PillSide::left:
        return QRectF(minX(c), midY(c) - 24, 4, 48);
    case PillSide::bottom:
        return QRectF(midX(c) - 24, minY(c), 48, 4);
    case PillSide::right:
        return QRectF(maxX(c) - 4, midY(c) - 24, 4, 48);
    }
    return std::nullopt;
}

QRectF DisplayLayout::hotZone(double trailing) const {
    if (const auto line = pillLineRect()) {
        return grown(*line, 10, 10);
    }
    const QRectF r = restRect(trailing);
    if (style_.isHoverNotch()) {
        return QRectF(minX(r) - 24, maxY(screen_) - 10, r.width() + 48, 11);
    }
    return QRectF(minX(r) - 8, minY(r), r.width() + 16, r.height() + 1);
}

QRectF DisplayLayout::drawerRect(const QSizeF& size, double message) const {
    const QRectF& s = screen_;
    const QRectF& v = visible_;
    const QRectF c = collapsedRect();
    const double w = size.width();
    const double h = size.height();
    const double m = message;
    const double xHigh = maxX(s) - w;
    const double x = xHigh < minX(s) ? minX(s) : std::clamp(midX(c) - w / 2, minX(s), xHigh);
    const auto side = style_.pillSide();
    if (!side) {
        return QRectF(x, maxY(s) - (h + m), w, h + m);
    }
    const double low = minY(v) + 10 + m;
    const double high = maxY(v) - 10 - h;
    const double y = high < low ? low : std::clamp(midY(c) - h / 2, low, high);
    switch (*side) {
    case PillSide::left:
        return QRectF(minX(v) + 10, y - m, w, h + m);
    case PillSide::right:
        return QRectF(maxX(v) - 10 - w, y - m, w, h + m);
    case PillSide::bottom:
        return QRectF(x, std::min(minY(v) + 10, maxY(s) - (h + m)), w, h + m);
    }
    return {};
}

bool DisplayLayout::messageOnTop() const {
    return style_.pillSide() == PillSide::bottom;
}

QRectF DisplayLayout::messageBand(const QRectF& drawer, double message) const {
    const double h = std::min(drawer.height(), message);
    if (messageOnTop()) {
        return QRectF(minX(drawer), maxY(drawer) - h, drawer.width(), h);
    }
    return QRectF(minX(drawer), minY(drawer), drawer.width(), h);
}

QRectF DisplayLayout::hoverRect(const QRectF& openDrawer) const {
    return style_.isPill() ? grown(openDrawer, 10, 10) : openDrawer;
}

QSizeF DisplayLayout::drawerSize(ShelfLayoutKind kind) const {
    return DrawerSize::expanded(kind, screen_,
                                style_.isPill() ? std::optional<QRectF>(visible_) : std::nullopt);
}

QRectF DisplayLayout::panelFrame(const QSizeF& size) const {
    if (!style_.isPill()) {
        const QRectF g = grown(drawerRect(size, 0), 24, 24);
        return QRectF(minX(g), minY(g), g.width(), maxY(screen_) - minY(g));
    }
    const double m = std::min(size.height(), DrawerSize::messageRoom);
    const QRectF g = grown(drawerRect(QSizeF(size.width(), size.height() - m), m), 24, 24);
    return intersection(g, screen_).value_or(QRectF(minX(g), minY(g), 0, 0));
}

QRectF DisplayLayout::panelFrame() const {
    return panelFrame(DrawerSize::panel(style_, screen_, visible_));
}

QPointF DisplayLayout::drawerOriginInPanel(const QSizeF& size) const {
    const QRectF d = drawerRect(size, 0);
    const QRectF p = panelFrame(size);
    return QPointF(minX(d) - minX(p), maxY(p) - maxY(d));
}

double DisplayLayout::peekTuckRoom() const {
    const auto side = style_.pillSide();
    if (!side) {
        return 0;
    }
    constexpr double unlimited = std::numeric_limits<double>::infinity();
    const QRectF k = peekCardRect();
    const QRectF p = panelFrame();
    switch (*side) {
    case PillSide::left:
        return minX(p) > minX(screen_) ? minX(k) - minX(p) : unlimited;
    case PillSide::bottom:
        return minY(p) > minY(screen_) ? minY(k) - minY(p) : unlimited;
    case PillSide::right:
        return maxX(screen_) > maxX(p) ? maxX(p) - maxX(k) : unlimited;
    }
    return 0;
}

QRectF DisplayLayout::closingDrawerRect(const QRectF& open, double trailing, double elapsed,
                                        double duration) const {
    const QRectF rest = restRect(trailing);
    if (duration <= 0) {
        return rest;
    }
    const ScrollSettle fall{1, 0, 0, 0, duration};
    const double k = Motion::clamp01(fall.position(elapsed));
    return Motion::lerpRect(rest, open, k);
}

bool DisplayLayout::closingDrawerReopens() const {
    return !style_.isPill();
}

bool DisplayLayout::hidesAtRest(bool fullscreen) const {
    return fullscreen && style_.isHoverNotch();
}

bool operator==(const DisplayLayout& a, const DisplayLayout& b) {
    return a.style_ == b.style_ && same(a.screen_, b.screen_) && same(a.visible_, b.visible_) &&
           same(a.notch_, b.notch_);
}

double MenuPlacement::originY(const QRectF& control, double menuHeight, double floor, double gap) {
    if (floor <= minY(control) - gap - menuHeight) {
        return -gap;
    }
    return control.height() + gap + menuHeight;
}

} // namespace ostrel
