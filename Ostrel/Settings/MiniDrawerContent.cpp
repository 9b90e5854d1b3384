#include "Ostrel/Settings/MiniDrawerContent.h"

#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QPainter>
#include <QTransform>

#include <array>
#include <cmath>
#include <vector>

namespace ostrel {

using Motion::clamp01;
using Motion::lerp;

namespace {

constexpr double padding = ShelfMetrics::drawerPadding;
constexpr double spacing = 14;

QColor faded(QColor c, double opacity) {
    c.setAlphaF(static_cast<float>(c.alphaF() * clamp01(opacity)));
    return c;
}

// A capsule standing for a line of text.
void bar(QPainter& p, double x, double y, double w, double h, const QColor& colour) {
    p.fillPath(CornerShape::uniform(h / 2).path(QRectF(x, y, w, h)), colour);
}

// A bar centred vertically in a line of `line` height starting at `y`.
void barInLine(QPainter& p, double x, double y, double line, double w, double h,
               const QColor& colour) {
    bar(p, x, y + (line - h) / 2, w, h, colour);
}

void thumb(QPainter& p, const QRectF& r, int variant, double opacity = 1) {
    static constexpr std::array<double, 3> levels{0.2, 0.14, 0.17};
    QColor c(Qt::white);
    c.setAlphaF(static_cast<float>(levels[static_cast<std::size_t>(variant % 3)] * opacity));
    p.fillPath(CornerShape::uniform(Motion::cardCorner).path(r), c);
}

void header(QPainter& p, double y, double width, double height, double leading) {
    barInLine(p, leading, y, height, 90, 8, ShelfStyle::secondaryText());
    for (int i = 0; i < 2; ++i) {
        const double cx = width - 12 - 28 * (1 - i) - 14;
        const QRectF dot(cx - 6, y + height / 2 - 6, 12, 12);
        QPainterPath circle;
        circle.addEllipse(dot);
        p.fillPath(circle, ShelfStyle::tertiaryText());
    }
}

void chip(QPainter& p, double x, double y) {
    barInLine(p, x, y, 15, 84, 8, ShelfStyle::primaryText());
    barInLine(p, x, y + 17, 13, 70, 6, ShelfStyle::tertiaryText());
    barInLine(p, x, y + 32, 13, 30, 6, ShelfStyle::tertiaryText());
}

constexpr double chipWidth = 100;
constexpr double chipHeight = 45;

void sidebar(QPainter& p, double x, double y, double width, double selected) {
    static constexpr std::array<double, 3> titles{96, 70, 84};
    static constexpr std::array<double, 3> details{104, 88, 96};
    for (int i = 0; i < 3; ++i) {
        const double top = y + 2 + 42 * i;
        const double share = i == 0 ? 1 - selected : i == 1 ? selected : 0;
        if (share > 0) {
            p.fillPath(CornerShape::uniform(7).path(QRectF(x, top, width, 40)),
                       faded(ShelfStyle::rowSelected(), share));
        }
        const double inner = x + 8;
        barInLine(p, inner, top + 5, 15, titles[static_cast<std::size_t>(i)], 8,
                  ShelfStyle::primaryText());
        if (i == 1) {
            // The unread mark: a dot and a short count.
            const double right = x + width - 8;
            barInLine(p, right - 6, top + 5, 15, 6, 8, ShelfStyle::primaryText());
            QPainterPath dot;
            dot.addEllipse(QRectF(right - 6 - 4 - 6, top + 5 + 4.5, 6, 6));
            p.fillPath(dot, ShelfStyle::accent());
        }
        barInLine(p, inner, top + 5 + 17, 13, details[static_cast<std::size_t>(i)], 6,
                  ShelfStyle::tertiaryText());
    }
}

void turns(QPainter& p, double x, double y, double width, const std::vector<int>& counts,
           const QSizeF& size, int columns, double opacity) {
    double top = y + 2;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const int n = counts[i];
        const double line = 120 - 30 * static_cast<double>(i);
        barInLine(p, x, top, 13, line, 6, faded(ShelfStyle::tertiaryText(), opacity));
        p.fillRect(QRectF(x + line + 8, top + 6, std::max(width - line - 8, 0.0), 1),
                   faded(ShelfStyle::hairline(), opacity));
        top += 13 + 6;
        const int rows = (n + columns - 1) / columns;
        for (int r = 0; r < rows; ++r) {
            const int inRow = std::min(n - r * columns, columns);
            for (int k = 0; k < inRow; ++k) {
                thumb(p, QRectF(x + (size.width() + 8) * k, top, size.width(), size.height()),
                      static_cast<int>(i) + r + k, opacity);
            }
            top += size.height() + (r + 1 < rows ? 8 : 0);
        }
        top += 12;
    }
}

// The session list and the turns of the selected session beside it.
void split(QPainter& p, const QRectF& area, double sidebarWidth, double selected,
           const QSizeF& thumbSize, int columns) {
    sidebar(p, area.x(), area.y(), sidebarWidth, selected);
    p.fillRect(QRectF(area.x() + sidebarWidth, area.y() + 2, 1, area.height() - 4),
               ShelfStyle::hairline());
    const QRectF turnsArea(area.x() + sidebarWidth + 1 + 12, area.y(),
                           std::max(area.width() - sidebarWidth - 13, 0.0), area.height());
    p.save();
    p.setClipRect(turnsArea, Qt::IntersectClip);
    if (selected < 1) {
        turns(p, turnsArea.x(), turnsArea.y(), turnsArea.width(), {3, 2}, thumbSize, columns,
              1 - selected);
    }
    if (selected > 0) {
        turns(p, turnsArea.x(), turnsArea.y(), turnsArea.width(), {2, 1}, thumbSize, columns,
              selected);
    }
    p.restore();
}

} // namespace

double MiniDrawerContent::headerLeading(ShelfLayoutKind kind) {
    switch (kind) {
    case ShelfLayoutKind::rail:
    case ShelfLayoutKind::column:
        return 22;
    case ShelfLayoutKind::stacks:
        return 16;
    case ShelfLayoutKind::sideStacks:
        return 14;
    }
    return 16;
}

QSizeF MiniDrawerContent::Deck::card() const {
    return vertical ? ShelfMetrics::columnCard() : ShelfMetrics::stackCard;
}

QSizeF MiniDrawerContent::Deck::cardsSize() const {
    const QSizeF c = card();
    const double spread = count == 1 ? 1.0 : clamp01(fanned);
    if (vertical) {
        const double fannedHeight = (c.height() + 8) * count - 8;
        return QSizeF(c.width(),
                      lerp(ShelfMetrics::fanHeight(c.width(), c.height()), fannedHeight, spread));
    }
    return QSizeF(lerp(c.width() + ShelfMetrics::deckDepth, (c.width() + 8) * count - 8, spread),
                  c.height());
}

QSizeF MiniDrawerContent::Deck::size() const {
    const QSizeF cards = cardsSize();
    return QSizeF(std::max(cards.width(), 90.0), cards.height() + 6 + 13);
}

QTransform MiniDrawerContent::Deck::cardTransform(int i) const {
    const QSizeF c = card();
    const double spread = count == 1 ? 1.0 : clamp01(fanned);
    const double lift = clamp01(lifted);
    const double depth = ShelfMetrics::deckDepth + 3 * lift;
    const double tilt = ShelfMetrics::deckTilt + 1.5 * lift;
    const double k = i;
    QTransform stacked;
    QTransform apart;
    if (vertical) {
        stacked.translate(-2 * k, depth * k);
        stacked.translate(c.width(), 0);
        stacked.rotate(-tilt * k);
        stacked.translate(-c.width(), 0);
        apart.translate(0, (c.height() + 8) * k);
    } else {
        stacked.translate(depth * k, -2 * k);
        stacked.translate(0, c.height());
        stacked.rotate(tilt * k);
        stacked.translate(0, -c.height());
        apart.translate((c.width() + 8) * k, 0);
    }
    if (spread <= 0) {
        return stacked;
    }
    if (spread >= 1) {
        return apart;
    }
    // Part way: blend the two placements entry by entry, which moves and turns the card evenly.
    const auto mix = [spread](double a, double b) { return lerp(a, b, spread); };
    return QTransform(mix(stacked.m11(), apart.m11()), mix(stacked.m12(), apart.m12()),
                      mix(stacked.m21(), apart.m21()), mix(stacked.m22(), apart.m22()),
                      mix(stacked.dx(), apart.dx()), mix(stacked.dy(), apart.dy()));
}

void MiniDrawerContent::Deck::paint(QPainter& p, const QPointF& origin) const {
    const QSizeF c = card();
    const double spread = count == 1 ? 1.0 : clamp01(fanned);
    const QSizeF cards = cardsSize();
    // Stacked, only the top two cards show; the rest come in as the deck spreads.
    const int shown = count < 2 ? count : (spread > 0 ? count : std::min(count, 2));
    for (int i = shown - 1; i >= 0; --i) {
        const double opacity = i >= 2 ? spread : 1.0;
        p.save();
        p.translate(origin);
        p.setTransform(cardTransform(i), true);
        p.setOpacity(p.opacity() * opacity);
        thumb(p, QRectF(QPointF(), c), i);
        if (i == 0 && lifted > 0 && spread < 1) {
            QColor glint(Qt::white);
            glint.setAlphaF(static_cast<float>(Motion::fanShrink * clamp01(lifted) * (1 - spread)));
            p.fillPath(CornerShape::uniform(Motion::cardCorner).path(QRectF(QPointF(), c)), glint);
        }
        p.restore();
    }
    if (spread < 1 && count > 1) {
        // The count mark over the bottom right corner.
        const QRectF mark(origin.x() + cards.width() - 4 - 19, origin.y() + cards.height() - 4 - 18,
                          19, 18);
        QColor back(Qt::black);
        back.setAlphaF(static_cast<float>(0.7 * (1 - spread)));
        p.fillPath(CornerShape::uniform(9).path(mark), back);
        bar(p, mark.x() + 6, mark.y() + 5, 7, 8, faded(Qt::white, 1 - spread));
    }
    barInLine(p, origin.x(), origin.y() + cards.height() + 6, 13, 90, 6,
              ShelfStyle::tertiaryText());
}

void MiniDrawerContent::paint(QPainter& p) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    double y = 0;
    if (band > 0) {
        header(p, bandTop, size.width(), band, headerLeading(kind));
        y = bandTop + band;
    }
    const QRectF body(0, y, size.width(), std::max(size.height() - y, 0.0));
    p.setClipRect(body, Qt::IntersectClip);
    const double selected = clamp01(beat);
    switch (kind) {
    case ShelfLayoutKind::rail: {
        const QRectF area(padding, body.y() + ShelfMetrics::railTopPadding,
                          body.width() - 2 * padding, body.height() - 4 - 12);
        split(p, area, ShelfMetrics::railWidth, selected, ShelfMetrics::railCard, 3);
        break;
    }
    case ShelfLayoutKind::column: {
        const double top = body.y() + 8;
        header(p, top, body.width(), DisplayLayout::topBand, 22);
        const QRectF area(padding, top + DisplayLayout::topBand + 6, body.width() - 2 * padding,
                          body.height() - 8 - 12 - DisplayLayout::topBand - 6);
        split(p, area, ShelfMetrics::columnSidebar, selected, ShelfMetrics::columnGridCard, 2);
        break;
    }
    case ShelfLayoutKind::stacks: {
        const QRectF area(padding, body.y() + 6, body.width() - 2 * padding,
                          body.height() - 6 - 10);
        p.setClipRect(area, Qt::IntersectClip);
        double x = area.x() + 2;
        const double top = area.y();
        const auto deck = [&](int count, double fanned, double lift) {
            const Deck d{count, fanned, lift, false};
            d.paint(p, QPointF(x, top));
            x += d.size().width() + spacing;
        };
        chip(p, x, top);
        x += chipWidth + spacing;
        deck(3, 0, 0);
        deck(3, beat, lifted);
        deck(1, 0, 0);
        p.fillRect(QRectF(x + 4, top, 1, ShelfMetrics::stackCard.height() + 6 + 13),
                   ShelfStyle::hairline());
        x += 9 + spacing;
        chip(p, x, top);
        x += chipWidth + spacing;
        deck(2, 0, 0);
        break;
    }
    case ShelfLayoutKind::sideStacks: {
        const double top = body.y() + 8;
        header(p, top, body.width(), DisplayLayout::topBand, 14);
        const double width = size.width() - 2 * padding;
        const QRectF area(padding, top + DisplayLayout::topBand + 6, width,
                          std::max(body.bottom() - 10 - (top + DisplayLayout::topBand + 6), 0.0));
        p.setClipRect(area, Qt::IntersectClip);
        double y2 = area.y() + 2;
        const auto deck = [&](int count, double fanned, double lift) {
            const Deck d{count, fanned, lift, true};
            d.paint(p, QPointF(area.x(), y2));
            y2 += d.size().height() + spacing;
        };
        chip(p, area.x(), y2);
        y2 += chipHeight + spacing;
        deck(3, 0, 0);
        deck(3, beat, lifted);
        deck(1, 0, 0);
        p.fillRect(QRectF(area.x(), y2 + 4, width, 1), ShelfStyle::hairline());
        y2 += 9 + spacing;
        chip(p, area.x(), y2);
        y2 += chipHeight + spacing;
        deck(2, 0, 0);
        break;
    }
    }
    p.restore();
}

} // namespace ostrel
