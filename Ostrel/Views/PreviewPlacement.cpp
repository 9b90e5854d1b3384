#include "Ostrel/Views/PreviewPlacement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace ostrel {

namespace {

// The rectangle between two corners; empty where they cross, rather than the one Qt would turn
// round from them.
QRect between(int left, int top, int right, int bottom) {
    return right < left || bottom < top ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The room on one side of an obstacle within the area; where two sides give the same, the first
// in the table wins.
using Side = QRect (*)(const QRect& area, const QRect& obstacle);
constexpr Side sides[] = {
    [](const QRect& a, const QRect& o) { // below
        return between(a.left(), std::max(a.top(), o.bottom() + 1), a.right(), a.bottom());
    },
    [](const QRect& a, const QRect& o) { // above
        return between(a.left(), a.top(), a.right(), std::min(a.bottom(), o.top() - 1));
    },
    [](const QRect& a, const QRect& o) { // right
        return between(std::max(a.left(), o.right() + 1), a.top(), a.right(), a.bottom());
    },
    [](const QRect& a, const QRect& o) { // left
        return between(a.left(), a.top(), std::min(a.right(), o.left() - 1), a.bottom());
    },
};

// The parts of `area` clear of every obstacle. What keeps clear of a rectangle lies wholly on one
// of its sides, so there is one part for each choice of a side of each obstacle; they come in
// the order of the sides, the first obstacle's changing slowest.
std::vector<QRect> clearOf(const QRect& area, const std::vector<QRect>& obstacles) {
    std::vector<QRect> spaces{area};
    for (const QRect& obstacle : obstacles) {
        std::vector<QRect> next;
        for (const QRect& space : spaces) {
            for (const Side side : sides) {
                const QRect part = side(area, obstacle).intersected(space);
                if (!part.isEmpty()) {
                    next.push_back(part);
                }
            }
        }
        spaces = std::move(next);
    }
    return spaces;
}

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

// The largest frame, at most `size` and at least `least`, that one of the spaces holds; among
// equals the one nearest the centre, then the first. None when no space holds `least`.
std::optional<QRect> largest(const std::vector<QRect>& spaces, QSize size, QSize least,
                             const QRect& centre) {
    const auto rank = [&](const QRect& f) {
        return std::tuple(-qint64(f.width()) * f.height(), moved(f, centre));
    };
    std::optional<QRect> best;
    for (const QRect& space : spaces) {
        const QSize fits = size.boundedTo(space.size());
        if (fits.width() < least.width() || fits.height() < least.height()) {
            continue;
        }
        const QRect r = placeIn(fits, space, centre);
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
    const QSize least = smallest.boundedTo(wanted).boundedTo(visible.size());
    const QRect header(drawer->topLeft(),
                       QSize(drawer->width(), std::min(headerDepth, drawer->height())));
    const QRect selected = card && !card->isEmpty() ? *card : QRect();
    // A smaller preview beside the drawer hides nothing of it; one over the drawer keeps its
    // header and the selected card in view. The margins go before the room does.
    const std::vector<QRect> drawerOnly{grown(*drawer, gap)};
    const std::vector<QRect> headerOnly{grown(header, gap)};
    const std::vector<QRect> headerAndCard =
        selected.isEmpty() ? headerOnly : std::vector{grown(header, gap), grown(selected, gap)};
    for (const auto* obstacles : std::array{&drawerOnly, &headerAndCard}) {
        for (const QRect& area : {room(visible), visible}) {
            const QSize size = wanted.boundedTo(area.size());
            if (const auto r = largest(clearOf(area, *obstacles), size, least, centre)) {
                return *r;
            }
        }
    }
    // No room even for the smallest: where it hides the least of the header and the card, then of
    // the drawer.
    const auto rank = [&](const QRect& f) {
        return std::tuple(hidden(f, header) + hidden(f, selected), hidden(f, *drawer),
                          moved(f, centre));
    };
    QRect best = placeIn(least, visible, centre);
    for (const auto* obstacles : std::array{&headerAndCard, &drawerOnly, &headerOnly}) {
        for (const QRect& space : clearOf(visible, *obstacles)) {
            const QRect r = placeIn(least, visible, placeIn(least, space, centre));
            if (rank(r) < rank(best)) {
                best = r;
            }
        }
    }
    return best;
}

} // namespace ostrel
