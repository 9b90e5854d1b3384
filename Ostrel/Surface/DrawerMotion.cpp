#include "Ostrel/Surface/DrawerMotion.h"

#include "Ostrel/Surface/SurfacePaint.h"
#include "Ostrel/Views/CountRoll.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel {

namespace {

using Motion::clamp01;

QPointF towardEdge(DisplayStylePosition position, double distance) {
    switch (position) {
    case DisplayStylePosition::left:
        return {-distance, 0};
    case DisplayStylePosition::top:
        return {0, -distance};
    case DisplayStylePosition::right:
        return {distance, 0};
    case DisplayStylePosition::bottom:
        return {0, distance};
    }
    return {};
}

QBrush peekCardBrush(const std::vector<std::optional<QImage>>& images, int index,
                     const QRectF& card) {
    const auto i = static_cast<size_t>(index);
    if (index >= 0 && i < images.size() && images[i] && !images[i]->isNull()) {
        const QImage& image = *images[i];
        QBrush brush(image);
        QTransform t;
        t.translate(card.x(), card.y());
        t.scale(card.width() / image.width(), card.height() / image.height());
        brush.setTransform(t);
        return brush;
    }
    QLinearGradient gradient(card.topLeft(), card.bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.23f, 0.23f, 0.23f));
    gradient.setColorAt(1, QColor::fromRgbF(0.12f, 0.12f, 0.12f));
    return QBrush(gradient);
}

// The pile fades as one picture: cards drawn one by one at a fraction of their opacity would show
// the card behind, and the pill line, through the front card.
void paintFaded(QPainter& painter, const PeekPile& pile, double pixels, double opacity) {
    if (opacity >= 1) {
        pile.paint(painter, pixels);
        return;
    }
    const QRectF bounds = pile.bounds();
    const QRect area = painter.worldTransform().mapRect(bounds).toAlignedRect();
    if (area.isEmpty()) {
        return;
    }
    const double ratio = std::max(pixels, 1.0);
    QImage layer((QSizeF(area.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) {
        return;
    }
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHints(painter.renderHints());
        p.translate(-area.topLeft());
        p.setTransform(painter.worldTransform(), true);
        pile.paint(p, pixels);
    }
    painter.save();
    painter.resetTransform();
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawImage(area.topLeft(), layer);
    painter.restore();
}

} // namespace

QRectF DrawerMotion::toPanel(const QRectF& panel, const QRectF& r) {
    return QRectF(r.x() - panel.x(), panel.y() + panel.height() - (r.y() + r.height()), r.width(),
                  r.height());
}

DrawerMotion::Frame DrawerMotion::compose() const {
    Frame f;
    const QRectF panel = layout.panelFrame();
    const DisplayStyle& style = layout.style();
    const DisplayStylePosition position = style.position();
    f.panel = panel.size();

    const auto toView = [panel](const QRectF& r) { return toPanel(panel, r); };
    const auto pillStart = [position](const QRectF& resting) {
        return EdgePlacement::lineRect(position, resting, Motion::pillLineSize.width(),
                                       Motion::pillLineSize.height());
    };
    const DrawerGeometry g = DrawerGeometry::make(
        layout, progress, trailing, base, std::max(message, 0.0), DrawerGeometry::unit, halo,
        hidesAtRest, toView, pillStart, reduceMotion);
    f.geometry = g;

    const double sink = clamp01(sunk);
    f.sinkFactor = 1 - sink;
    f.sinkOffset = reduceMotion ? QPointF() : towardEdge(position, Motion::sinkOffset * sink);
    f.swell = std::max(Motion::swell(glow, restLevel), Motion::swell(highlight, 0));
    const double visibleAtRest = hidesAtRest ? 0 : 1;
    const double glowLevel = halo ? std::max(glow, highlight) : std::max(0.0, highlight);

    if (style.isNotch()) {
        f.notchHalo = Halo{g.restShape, toView(layout.restRect(0)), strength, false, 1, f.swell};
        f.notchHaloOpacity = f.sinkFactor * g.signal * glowLevel;
    }

    if (style.isHoverNotch()) {
        f.hoverLine = true;
        f.lineRect = EdgePlacement::lineRect(DisplayStylePosition::top, g.resting,
                                             Motion::edgeLineLength, Motion::edgeLineThickness);
        const CornerShape outline =
            EdgePlacement::shape(DisplayStylePosition::top, Motion::edgeLineThickness);
        f.lineHalo = Halo{outline, f.lineRect, strength, true, 1, f.swell};
        f.lineHaloOpacity = g.atRest ? 1 : 1 - g.surface;
        f.lineFillOpacity = g.atRest ? 1 : 0;
        f.lineGroupOpacity = f.sinkFactor * g.signal * glowLevel;
    }

    if (style.isPill()) {
        f.pill = true;
        f.card = toView(layout.peekCardRect());
        const double depth = isSide(position) ? f.card.width() : f.card.height();
        double restTuck = 0;
        if (!reduceMotion && depth > 0) {
            const double room = layout.peekTuckRoom();
            restTuck =
                std::isinf(room) ? Motion::tuckShare : std::min(Motion::tuckShare, room / depth);
        }
        f.tuck = (1 - peeking) * restTuck;
        const QRectF tucked = EdgePlacement::offset(position, f.card, f.tuck);
        const QPointF drag = towardEdge(position, cardDrag);
        f.pileRect = tucked.translated(drag);
        f.pileOpacity = clamp01(peeking);
        f.peekPile.style = pile;
        f.peekPile.count = peekCount;
        f.peekPile.edge = position;
        f.peekPile.size = f.card.size();
        f.peekPile.scale = 1;

        f.pillLine =
            PillLine{pillStart(g.resting), count >= 1 ? clamp01(lineLit) : 0.0, highlight, 1};
        f.pillLineOpacity = g.atRest ? 1 : 0;
        const double lineLevel = count == 0 ? std::max(0.0, highlight) : std::max(glow, highlight);
        const double thickness = std::min(f.pillLine.rect.width(), f.pillLine.rect.height());
        f.pillHalo =
            Halo{CornerShape::uniform(thickness / 2), f.pillLine.rect, strength, true, 1, f.swell};
        f.pillHaloOpacity = (g.atRest ? 1 : 1 - g.surface) * lineLevel;
        f.pillGroupOpacity = visibleAtRest * g.signal * f.sinkFactor;
        if (peekActive && !hidesAtRest) {
            f.cardHitArea = f.card.translated(drag);
        }
    }

    // The content is laid out at its open size and scaled about the edge it grows from.
    f.contentSize = QSizeF(base.width(), base.height() + message);
    f.contentFrame = QRectF(
        g.frame.topLeft(), QSizeF(std::max(g.frame.width(), 0.0), std::max(g.frame.height(), 0.0)));
    const double sw = base.width() > 0 ? clamp01(g.frame.width() / base.width()) : 1;
    const double sh =
        f.contentSize.height() > 0 ? clamp01(g.frame.height() / f.contentSize.height()) : 1;
    f.contentScale = std::max(std::min(sw, sh), 0.01);
    const QPointF unit = EdgePlacement::anchor(position);
    // A spring coming to rest shrinks the frame by a few ten-thousandths for a moment. Content
    // scaled by that hair is drawn anew through a layer, each picture in it resampled and each
    // line spread over two pixels, for a movement nobody sees: where no point of it would move by
    // a quarter of a point, it keeps its open size.
    const double reach = std::max(std::max(unit.x(), 1 - unit.x()) * f.contentSize.width(),
                                  std::max(unit.y(), 1 - unit.y()) * f.contentSize.height());
    if ((1 - f.contentScale) * reach < 0.25) {
        f.contentScale = 1;
    }
    const QPointF frameAnchor(f.contentFrame.x() + unit.x() * f.contentFrame.width(),
                              f.contentFrame.y() + unit.y() * f.contentFrame.height());
    const QPointF contentAnchor(unit.x() * f.contentSize.width(),
                                unit.y() * f.contentSize.height());
    QTransform t;
    t.translate(frameAnchor.x(), frameAnchor.y());
    t.scale(f.contentScale, f.contentScale);
    t.translate(-contentAnchor.x(), -contentAnchor.y());
    f.contentTransform = t;
    f.contentOpacity = g.reveal;
    f.contentHits = g.reveal > 0.9;
    f.contentAccessible = !g.atRest;
    f.shape = outlinePath(g.shape, f.contentFrame);

    // Growing, the tint stands for the rest look the drawer grows out of. Fading in place under
    // reduce motion, the rest look is still there beneath: a tint over the whole drawer would be a
    // wash of colour the desktop never shows, so the drawer fades straight to its black.
    const bool fading = reduceMotion && !g.atRest;
    if (style.isPill()) {
        f.blackOpacity = g.atRest ? 0 : fading ? g.surface : 1;
        f.tint = count == 0 ? QColor(Qt::white) : SurfacePaint::accent();
        f.tintOpacity = g.atRest || fading ? 0 : 1 - g.surface;
    } else {
        f.blackOpacity = g.surface * (style.isHoverNotch() && g.atRest ? f.sinkFactor : 1);
    }
    if (style.isHoverNotch() && g.counted == 0 && !fading) {
        f.accentOpacity =
            halo && !g.atRest && count >= 1 ? (1 - g.surface) * glow * f.sinkFactor : 0;
    }

    if (!halo && !style.isPill()) {
        f.badgeText = ShelfStyle::badgeText(count);
        f.badgeFrom = ShelfStyle::badgeText(countFrom);
        f.badgeRoll = f.badgeFrom == f.badgeText ? 1 : countRoll;
        const double w = std::max(trailing, 0.0);
        f.badgeRect = QRectF(g.rest.x() + g.rest.width() - w - 3, g.rest.y(), w, g.rest.height());
        f.badgeOpacity = count < 1 ? 0 : g.counted * visibleAtRest * g.signal * f.sinkFactor;
    }
    return f;
}

void DrawerMotion::paintBehind(QPainter& painter, const Frame& f, double pixels, bool glows,
                               const QRectF& exposed) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (glows && f.notchHalo) {
        f.notchHalo->paint(painter, pixels, f.notchHaloOpacity);
    }

    if (f.hoverLine && f.lineGroupOpacity > 0) {
        painter.save();
        painter.translate(f.sinkOffset);
        painter.setOpacity(std::min(f.lineGroupOpacity, 1.0));
        if (glows && f.lineHalo) {
            f.lineHalo->paint(painter, pixels, f.lineHaloOpacity);
        }
        if (f.lineFillOpacity > 0) {
            painter.setOpacity(std::min(f.lineGroupOpacity, 1.0) * f.lineFillOpacity);
            painter.fillPath(
                EdgePlacement::shape(DisplayStylePosition::top, Motion::edgeLineThickness)
                    .path(f.lineRect),
                SurfacePaint::accent());
        }
        painter.restore();
    }

    if (f.pill && f.pillGroupOpacity > 0) {
        painter.save();
        painter.translate(f.sinkOffset);
        const double group = std::min(f.pillGroupOpacity, 1.0);
        if (glows && f.pillHalo && f.pillHaloOpacity > 0) {
            painter.setOpacity(group);
            f.pillHalo->paint(painter, pixels, f.pillHaloOpacity);
        }
        if (f.pillLineOpacity > 0) {
            painter.setOpacity(group * f.pillLineOpacity);
            f.pillLine.paint(painter, pixels);
        }
        if (f.pileOpacity > 0) {
            painter.translate(f.pileRect.topLeft());
            PeekPile pileView = f.peekPile;
            const auto& images = peekImages;
            pileView.card = [&images](int index, const QRectF& card) {
                return peekCardBrush(images, index, card);
            };
            paintFaded(painter, pileView, pixels, group * f.pileOpacity);
        }
        painter.restore();
    }

    if (!f.shape.isEmpty()) {
        // Filling the whole smoothed outline only for the clip to keep a rectangle of it costs
        // far more than the rectangle. The rectangle is the exposed one grown to whole device
        // pixels: at a fractional scale its edges fall inside a pixel, which the repaint cleared
        // and an edge-smoothed fill would leave half covered, to show as a line of the desktop
        // through the drawer (dropped from the window's shape without a compositor).
        QRectF area;
        if (!exposed.isEmpty() && painter.worldTransform().type() <= QTransform::TxTranslate) {
            const QTransform toDevice = painter.deviceTransform();
            const QRect pixels = toDevice.mapRect(exposed).toAlignedRect();
            area = toDevice.inverted().mapRect(QRectF(pixels));
        }
        const bool inside = !area.isEmpty() && f.shape.contains(area);
        // Back in logical units the grown edges lie a rounding error off the pixel grid, which a
        // smoothed fill would leave a shade short of covered.
        painter.setRenderHint(QPainter::Antialiasing, !inside);
        const auto fill = [&](double opacity, const QBrush& brush) {
            if (opacity <= 0) {
                return;
            }
            painter.setOpacity(std::min(opacity, 1.0));
            if (inside) {
                painter.fillRect(area, brush);
            } else {
                painter.fillPath(f.shape, brush);
            }
        };
        fill(f.blackOpacity, ShelfStyle::drawerGround());
        fill(f.tintOpacity, f.tint);
        fill(f.accentOpacity, SurfacePaint::accent());
    }
    painter.restore();
}

void DrawerMotion::paintBadge(QPainter& painter, const Frame& f) {
    if (f.badgeOpacity <= 0 || f.badgeRect.width() <= 0) {
        return;
    }
    painter.save();
    painter.setOpacity(std::min(f.badgeOpacity, 1.0));
    painter.setClipRect(f.badgeRect, Qt::IntersectClip);
    const QFont& font = ShelfStyle::countFont();
    painter.setFont(font);
    painter.setPen(Qt::white);
    const double opacity = painter.opacity();
    for (const auto& glyph :
         CountRoll{f.badgeFrom, f.badgeText, f.badgeRoll}.glyphs(f.badgeRect, font)) {
        painter.setOpacity(opacity * glyph.opacity);
        painter.drawText(glyph.origin, glyph.text);
    }
    painter.restore();
}

} // namespace ostrel
