#include "Ostrel/Surface/PeekPile.h"

#include "Ostrel/Surface/SurfacePaint.h"

#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/Motion.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace ostrel {

namespace {

QString badgeText(int count) {
    return count > 99 ? QStringLiteral("99+") : QString::number(count);
}

// The badge's font at the shelf's own size; smaller piles draw it scaled, since a font's pixel
// size is a whole number.
constexpr int badgePixels = 9;

QFont badgeFont() {
    QFont font;
    font.setPixelSize(badgePixels);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

int PeekPile::behind() const {
    const int most = style == PeekPileStyle::count ? 0 : Motion::peekBehindMax;
    return std::min(std::max(count - 1, 0), most);
}

double PeekPile::corner() const {
    return Motion::cardCorner * scale;
}

double PeekPile::outlineWidth() const {
    return std::max(1.5 * scale, 0.75);
}

std::vector<PeekPile::Card> PeekPile::cards() const {
    std::vector<Card> result;
    const double w = size.width();
    const double h = size.height();
    for (int i = behind(); i >= 0; --i) {
        Card c;
        c.index = i;
        const bool front = i == 0;
        c.outlineOpacity = front ? 0.8 : style == PeekPileStyle::stack ? 0.6 : 0.4;
        c.darken = front ? 0 : style == PeekPileStyle::stack ? 0.1 : 0.2;
        c.shadowOpacity = front ? 0.5 : 0;
        // Built outermost first: offset, then rotation about its pivot, then scale about the
        // centre, so that a point of the card is scaled first and moved last.
        QTransform t;
        if (style == PeekPileStyle::stack) {
            const double d = Motion::pileOffset * scale * i;
            t.translate(edge == DisplayStylePosition::right ? -d : d, -d);
        }
        if (style == PeekPileStyle::fan && i > 0) {
            const double angle =
                i * Motion::pileTilt * (edge == DisplayStylePosition::left ? 1 : -1);
            const QPointF pivot(edge == DisplayStylePosition::right ? w : 0, h);
            t.translate(pivot.x(), pivot.y());
            t.rotate(angle);
            t.translate(-pivot.x(), -pivot.y());
        }
        if (style == PeekPileStyle::stack && i > 0) {
            const double s = 1 - 0.03 * i;
            t.translate(w / 2, h / 2);
            t.scale(s, s);
            t.translate(-w / 2, -h / 2);
        }
        c.transform = t;
        result.push_back(c);
    }
    return result;
}

bool PeekPile::showsBadge() const {
    return style == PeekPileStyle::count && count >= 2;
}

QRectF PeekPile::badgeRect() const {
    const QFontMetricsF metrics(badgeFont());
    const double text = (metrics.horizontalAdvance(badgeText(count)) + 8) * scale;
    const double bw = std::max(text, 15 * scale);
    const double bh = std::max(metrics.height() * scale, 15 * scale);
    return QRectF(size.width() - 5 * scale - bw, 5 * scale, bw, bh);
}

QRectF PeekPile::dotRect() const {
    const double d = 8 * scale;
    return QRectF(size.width() - 7 * scale - d, 7 * scale, d, d);
}

QRectF PeekPile::bounds() const {
    QRectF united;
    for (const Card& c : cards()) {
        united |= c.transform.mapRect(QRectF(QPointF(), size));
    }
    // The front card's glow: a blur of 7 reaches about one and a half times as far.
    const double glow = 7 * scale * 1.5 + 1;
    return united.adjusted(-glow, -glow, glow, glow);
}

void PeekPile::paint(QPainter& painter, double pixels) const {
    if (size.isEmpty()) {
        return;
    }
    const QRectF bounds(QPointF(0, 0), size);
    const QPainterPath outline = CornerShape::uniform(corner()).path(bounds);
    const double lw = outlineWidth();
    const QPainterPath inner = CornerShape::uniform(std::max(corner() - lw / 2, 0.0))
                                   .path(bounds.adjusted(lw / 2, lw / 2, -lw / 2, -lw / 2));
    const QColor accent = SurfacePaint::accent();

    for (const Card& c : cards()) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setTransform(c.transform, true);
        if (c.shadowOpacity > 0) {
            QColor glow = accent;
            glow.setAlphaF(static_cast<float>(c.shadowOpacity));
            const auto shade = SurfacePaint::shadow(outline, glow, 7 * scale, pixels);
            if (!shade.image.isNull()) {
                painter.drawImage(shade.frame, shade.image);
            }
        }
        painter.fillPath(outline, card ? card(c.index, bounds) : QBrush(Qt::gray));
        if (c.darken > 0) {
            painter.fillPath(outline, QColor::fromRgbF(0, 0, 0, static_cast<float>(c.darken)));
        }
        QColor rim = accent;
        rim.setAlphaF(static_cast<float>(c.outlineOpacity));
        QPen pen(rim, lw, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.strokePath(inner, pen);

        if (c.index == 0) {
            if (showsBadge()) {
                const QRectF b = badgeRect();
                painter.fillPath(CornerShape::uniform(b.height() / 2).path(b), accent);
                if (scale > 0) {
                    painter.save();
                    painter.translate(b.topLeft());
                    painter.scale(scale, scale);
                    painter.setFont(badgeFont());
                    painter.setPen(QColor::fromRgbF(0, 0, 0, 0.85f));
                    painter.drawText(QRectF(QPointF(), b.size() / scale), Qt::AlignCenter,
                                     badgeText(count));
                    painter.restore();
                }
            } else {
                const QRectF d = dotRect();
                QPainterPath dot;
                dot.addEllipse(d);
                painter.fillPath(dot, accent);
                QPainterPath ring;
                const double rw = 1.5 * scale;
                ring.addEllipse(d.adjusted(rw / 2, rw / 2, -rw / 2, -rw / 2));
                painter.strokePath(ring, QPen(QColor::fromRgbF(0, 0, 0, 0.6f), rw));
            }
        }
        painter.restore();
    }
}

} // namespace ostrel
