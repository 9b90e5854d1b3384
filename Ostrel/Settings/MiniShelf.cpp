#include "Ostrel/Settings/MiniShelf.h"

#include "Ostrel/Settings/MiniDrawerContent.h"
#include "Ostrel/Surface/Halo.h"
#include "Ostrel/Surface/PeekPile.h"
#include "Ostrel/Surface/PillLine.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace ostrel {

using Motion::clamp01;

namespace {

QColor withOpacity(QColor c, double opacity) {
    c.setAlphaF(static_cast<float>(c.alphaF() * clamp01(opacity)));
    return c;
}

// Moves `r` by `d` away from the screen edge it sits on.
QRectF inward(DisplayStylePosition edge, const QRectF& r, double d) {
    switch (edge) {
    case DisplayStylePosition::left:
        return r.translated(d, 0);
    case DisplayStylePosition::right:
        return r.translated(-d, 0);
    case DisplayStylePosition::top:
        return r.translated(0, d);
    case DisplayStylePosition::bottom:
        return r.translated(0, -d);
    }
    return r;
}

double pixelsOf(const QPainter* painter) {
    const QPaintDevice* device = painter->device();
    return device ? device->devicePixelRatioF() * painter->transform().m11() : 1.0;
}

} // namespace

MiniShelf::MiniShelf(const PreviewDisplay& display, const MiniSpace& space, QGraphicsItem* parent)
    : QGraphicsObject(parent), display_(display), space_(space) {
    setAcceptedMouseButtons(Qt::NoButton);
}

void MiniShelf::setDisplay(const PreviewDisplay& display, const MiniSpace& space) {
    prepareGeometryChange();
    display_ = display;
    space_ = space;
}

void MiniShelf::setState(const State& state) {
    if (!(state == state_)) {
        state_ = state;
        update();
    }
}

QSizeF MiniShelf::drawerSize(ShelfLayoutKind kind) const {
    return display_.layout.drawerSize(kind);
}

QSizeF MiniShelf::currentSize() const {
    const QSizeF to = drawerSize(state_.kind);
    if (!state_.fromKind || state_.kindShare >= 1) {
        return to;
    }
    const QSizeF from = drawerSize(*state_.fromKind);
    const double t = clamp01(state_.kindShare);
    return QSizeF(Motion::lerp(from.width(), to.width(), t),
                  Motion::lerp(from.height(), to.height(), t));
}

QRectF MiniShelf::pillLineRect(DisplayStylePosition edge, const QRectF& resting, double scale) {
    const QRectF line =
        EdgePlacement::lineRect(edge, resting, std::max(10.0, Motion::pillLineSize.width() * scale),
                                std::max(2.0, Motion::pillLineSize.height() * scale));
    return inward(edge, line, std::max(3 - DisplayLayout::peekGap * scale, 0.0));
}

MiniShelf::Frame MiniShelf::frame() const {
    const DisplayLayout& layout = display_.layout;
    const DisplayStyle& style = layout.style();
    const DisplayStylePosition edge = style.position();
    const double scale = space_.scale;
    const MiniSpace space = space_;
    const QSizeF size = currentSize();

    Frame f;
    f.geometry = DrawerGeometry::make(
        layout, state_.progress, state_.trailing, size, 0, scale, state_.halo, false,
        [space](const QRectF& r) { return space.map(r); },
        [edge, scale](const QRectF& r) { return pillLineRect(edge, r, scale); });
    const DrawerGeometry& g = f.geometry;
    f.swell = Motion::swell(state_.glow, state_.restLevel);

    if (style.isHoverNotch()) {
        f.markerRect = EdgePlacement::lineRect(DisplayStylePosition::top, g.resting,
                                               Motion::edgeLineLength * scale,
                                               std::max(1.5, Motion::edgeLineThickness * scale));
        f.markerOpacity = state_.halo && state_.count > 0 ? g.signal * state_.glow : 0;
    }
    if (style.isPill()) {
        f.pillLine = pillLineRect(edge, g.resting, scale);
        QRectF card = space_.map(layout.peekCardRect());
        const QRectF& line = f.pillLine;
        switch (edge) {
        case DisplayStylePosition::left:
            card.moveLeft(std::max(card.left(), line.right() + 2));
            break;
        case DisplayStylePosition::right:
            card.moveRight(std::min(card.right(), line.left() - 2));
            break;
        case DisplayStylePosition::bottom:
            card.moveBottom(std::min(card.bottom(), line.top() - 2));
            break;
        case DisplayStylePosition::top:
            break;
        }
        f.peekCard = card;
    }

    // The content grows with the drawer from its edge instead of being uncovered.
    const double t = std::max(std::min(clamp01(g.frame.width() / (scale * size.width())),
                                       clamp01(g.frame.height() / (scale * size.height()))),
                              0.01);
    f.contentScale = scale * t;
    const QSizeF shown = size * f.contentScale;
    const QPointF anchor = EdgePlacement::anchor(edge);
    f.content = QRectF(g.frame.x() + (g.frame.width() - shown.width()) * anchor.x(),
                       g.frame.y() + (g.frame.height() - shown.height()) * anchor.y(),
                       shown.width(), shown.height());

    if (!state_.halo && !style.isPill()) {
        const double room = std::max(state_.trailing, 0.0) * scale;
        f.badge = QRectF(g.rest.right() - room - 3 * scale, g.rest.top(), room, g.rest.height());
        f.badgeOpacity = state_.count >= 1 ? g.counted * g.signal : 0;
    }
    return f;
}

QRectF MiniShelf::boundingRect() const {
    // Glows reach past the shelf; the mini screen clips to its frame anyway.
    const QSizeF s = space_.size();
    return QRectF(QPointF(), s).adjusted(-40, -40, 40, 40);
}

void MiniShelf::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    QPainter& p = *painter;
    p.setRenderHint(QPainter::Antialiasing);
    const DisplayStyle& style = display_.layout.style();
    const DisplayStylePosition edge = style.position();
    const double scale = space_.scale;
    const double pixels = pixelsOf(painter);
    const Frame f = frame();
    const DrawerGeometry& g = f.geometry;
    const double glow = clamp01(state_.glow);

    if (state_.halo && style.isNotch()) {
        const Halo halo{g.restShape, g.rest, state_.strength, false, scale, f.swell};
        halo.paint(p, pixels, g.signal * glow);
    }

    if (style.isHoverNotch() && f.markerOpacity > 0) {
        p.save();
        p.setOpacity(p.opacity() * f.markerOpacity);
        const double thickness = f.markerRect.height();
        const CornerShape outline = EdgePlacement::shape(DisplayStylePosition::top, thickness);
        if (state_.halo) {
            const Halo halo{outline, f.markerRect, state_.strength, false, scale, f.swell};
            halo.paint(p, pixels, g.atRest ? 1 : 1 - g.surface);
        }
        if (g.atRest) {
            p.fillPath(outline.path(f.markerRect), ShelfStyle::accent());
        }
        p.restore();
    }

    if (style.isPill()) {
        p.save();
        p.setOpacity(p.opacity() * g.signal);
        const double peeking = clamp01(state_.peeking);
        if (peeking > 0) {
            const QRectF card =
                EdgePlacement::offset(edge, f.peekCard, Motion::tuckShare * (1 - peeking));
            PeekPile pile{state_.pile, state_.peekCount,
                          edge,        card.size(),
                          scale,       [](int, const QRectF&) { return QBrush(Qt::black); }};
            p.save();
            p.setOpacity(p.opacity() * peeking);
            p.translate(card.topLeft());
            pile.paint(p, pixels);
            p.restore();
        }
        if (state_.halo && state_.count != 0) {
            const double h = std::min(f.pillLine.width(), f.pillLine.height());
            const Halo halo{
                CornerShape::uniform(h / 2), f.pillLine, state_.strength, false, scale, f.swell};
            halo.paint(p, pixels, glow * (g.atRest ? 1 : 1 - g.surface));
        }
        if (g.atRest) {
            const PillLine line{f.pillLine, state_.count > 0 ? 1.0 : 0.0, 0, scale};
            line.paint(p, pixels);
        }
        p.restore();
    }

    const QPainterPath shape = outlinePath(g.shape, g.frame);
    if (style.isPill()) {
        if (!g.atRest) {
            p.fillPath(shape, Qt::black);
            p.fillPath(shape, withOpacity(state_.count >= 1 ? ShelfStyle::accent() : Qt::white,
                                          1 - g.surface));
        }
    } else {
        p.fillPath(shape, withOpacity(Qt::black, g.surface));
        if (style.isHoverNotch() && g.counted == 0 && state_.halo && !g.atRest &&
            state_.count > 0) {
            p.fillPath(shape, withOpacity(ShelfStyle::accent(), (1 - g.surface) * glow));
        }
    }

    if (!g.atRest && g.reveal > 0) {
        // A new arrangement cross-fades with the one it replaces.
        const double share = state_.fromKind ? clamp01(state_.kindShare) : 1.0;
        const auto drawContent = [&](ShelfLayoutKind kind, double opacity) {
            if (opacity <= 0) {
                return;
            }
            p.save();
            p.setClipPath(shape, Qt::IntersectClip);
            p.setOpacity(p.opacity() * clamp01(g.reveal) * opacity);
            p.translate(f.content.topLeft());
            p.scale(f.contentScale, f.contentScale);
            const MiniDrawerContent content{kind,
                                            drawerSize(kind),
                                            DrawerGeometry::topReserve(display_.layout),
                                            ShelfMetrics::bottomInset(style),
                                            state_.beat,
                                            state_.lifted};
            content.paint(p);
            p.restore();
        };
        if (state_.fromKind && *state_.fromKind != state_.kind) {
            drawContent(*state_.fromKind, 1 - share);
        }
        drawContent(state_.kind, share);
    }

    if (f.badgeOpacity > 0 && f.badge.width() > 0) {
        QFont font;
        font.setPixelSize(std::max(1, qRound(11 * scale)));
        font.setWeight(QFont::DemiBold);
        font.setStyleHint(QFont::Monospace);
        p.save();
        p.setOpacity(p.opacity() * clamp01(f.badgeOpacity));
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(f.badge, Qt::AlignCenter, ShelfStyle::badgeText(state_.count));
        p.restore();
    }
}

} // namespace ostrel
