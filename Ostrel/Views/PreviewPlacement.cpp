#include "Ostrel/Views/PreviewPlacement.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace ostrel {

namespace {

// The room on one side of what the preview keeps clear of, within the area; where two sides give
// the same, the first in the table wins.
using Side = QRect (*)(const QRect& area, const QRect& obstacle);
constexpr Side sides[] = {
    [](const QRect& a, const QRect& o) { // below
        return QRect(QPoint(a.left(), o.bottom() + 1), a.bottomRight());
    },
    [](const QRect& a, const QRect& o) { // above
        return QRect(a.topLeft(), QPoint(a.right(), o.top() - 1));
    },
    [](const QRect& a, const QRect& o) { // right
        return QRect(QPoint(o.right() + 1, a.top()), a.bottomRight());
    },
    [](const QRect& a, const QRect& o) { // left
        return QRect(a.topLeft(), QPoint(o.left() - 1, a.bottom()));
    },
};

// The visible frame less its margins; all of it when the margins would leave nothing.
QRect room(const QRect& visible) {
    const int m = PreviewPlacement::margin;
    const QRect inner = visible.adjusted(m, m, -m, -m);
    return inner.isEmpty() ? visible : inner;
}

QRect grown(const QRect& r, int by) {
    return r.adjusted(-by, -by, by, by);
}

// A frame of `size` within `space`, as near to `centre` as the space allows; where the space is
// too small, against its leading edges.
QRect placeIn(QSize size, const QRect& space, const QRect& centre) {
    const int x = std::max(space.left(), std::min(centre.x(), space.right() + 1 - size.width()));
    const int y = std::max(space.top(), std::min(centre.y(), space.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}

qint64 hidden(const QRect& frame, const QRect& under) {
    const QRect covered = frame.intersected(under);
    return qint64(covered.width()) * covered.height();
}

qint64 moved(const QRect& frame, const QRect& centre) {
    return qint64(std::abs(frame.x() - centre.x())) + std::abs(frame.y() - centre.y());
}

// The largest frame, at most `size` and at least `least`, that one side of `obstacle` holds;
// among equals the one nearest the centre. None when no side holds `least`.
std::optional<QRect> beside(const QRect& obstacle, QSize size, QSize least, const QRect& area,
                            const QRect& centre) {
    std::optional<QRect> best;
    for (const Side side : sides) {
        const QRect space = side(area, obstacle).intersected(area);
        const QSize fits = size.boundedTo(space.size());
        if (space.isEmpty() || fits.width() < least.width() || fits.height() < least.height()) {
            continue;
        }
        const QRect r = placeIn(fits, space, centre);
        const auto rank = [&](const QRect& f) {
            return std::tuple(-qint64(f.width()) * f.height(), moved(f, centre));
        };
        if (!best || rank(r) < rank(*best)) {
            best = r;
        }
    }
    return best;
}

} // namespace

QRect PreviewPlacement::centred(QSize wanted, QRect visible) {
    const QSize size = wanted.boundedTo(room(visible).size());
    const double midX = visible.x() + visible.width() / 2.0;
    const double midY = visible.y() + visible.height() / 2.0;
    return QRect(int(std::floor(midX - size.width() / 2.0)),
                 int(std::floor(midY - size.height() / 2.0)), size.width(), size.height());
}

QRect PreviewPlacement::frame() const {
    const QRect centre = centred(wanted, visible);
    if (!drawer || visible.isEmpty()) {
        return centre;
    }
    const QRect area = room(visible);
    const QSize least = minimum.boundedTo(centre.size());
    if (const auto clear = beside(grown(*drawer, gap), centre.size(), least, area, centre)) {
        return *clear;
    }
    // Over the drawer: its header and the selected card stay in view.
    QRect keep(drawer->topLeft(), QSize(drawer->width(), std::min(headerDepth, drawer->height())));
    if (card && !card->isEmpty()) {
        keep = keep.united(*card);
    }
    if (const auto over = beside(grown(keep, gap), centre.size(), least, area, centre)) {
        return *over;
    }
    // No room even for that: as small as it goes, where it hides the least of the header and the
    // card, then of the drawer.
    QRect best = placeIn(least, area, centre);
    const auto rank = [&](const QRect& f) {
        return std::tuple(hidden(f, keep), hidden(f, *drawer), moved(f, centre));
    };
    for (const QRect& obstacle : {grown(keep, gap), grown(*drawer, gap)}) {
        for (const Side side : sides) {
            const QRect near = placeIn(least, side(area, obstacle), centre);
            const QRect r = placeIn(least, area, near);
            if (rank(r) < rank(best)) {
                best = r;
            }
        }
    }
    return best;
}

} // namespace ostrel
