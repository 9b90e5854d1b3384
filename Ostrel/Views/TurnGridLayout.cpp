#include "Ostrel/Views/TurnGridLayout.h"

#include <algorithm>
#include <cmath>

namespace ostrel {

TurnGridLayout::TurnGridLayout(QList<Section> sections, QSizeF thumb, qsizetype columns,
                               double captionHeight, double width)
    : sections_(std::move(sections)), thumb_(thumb), caption_(captionHeight), width_(width) {
    if (columns > 0) {
        columns_ = columns;
    } else {
        const double pitch = thumb.width() + cardSpacing;
        columns_ = pitch > 0 ? std::max<qsizetype>(1, qsizetype((width + cardSpacing) / pitch)) : 1;
    }
    tops_.reserve(sections_.size());
    double y = padding;
    for (qsizetype i = 0; i < sections_.size(); ++i) {
        if (i > 0) {
            y += turnSpacing;
        }
        tops_.append(y);
        y += sectionRect(i).height();
    }
    height_ = y + padding;
}

qsizetype TurnGridLayout::rows(qsizetype section) const {
    const qsizetype n = std::max<qsizetype>(0, sections_[section].items);
    return (n + columns_ - 1) / columns_;
}

QRectF TurnGridLayout::sectionRect(qsizetype section) const {
    double h = caption_;
    const qsizetype r = rows(section);
    if (!sections_[section].folded && r > 0) {
        h += captionGap + double(r) * thumb_.height() + double(r - 1) * cardSpacing;
    }
    const double top = section < tops_.size() ? tops_[section] : 0;
    return QRectF(0, top, width_, h);
}

QRectF TurnGridLayout::captionRect(qsizetype section) const {
    return QRectF(0, tops_[section], width_, caption_);
}

QRectF TurnGridLayout::cardRect(qsizetype section, qsizetype item) const {
    const qsizetype row = item / columns_;
    const qsizetype column = item % columns_;
    return QRectF(double(column) * (thumb_.width() + cardSpacing),
                  tops_[section] + caption_ + captionGap +
                      double(row) * (thumb_.height() + cardSpacing),
                  thumb_.width(), thumb_.height());
}

std::pair<qsizetype, qsizetype> TurnGridLayout::visibleSections(double offset,
                                                                double viewport) const {
    if (sections_.isEmpty() || viewport <= 0) {
        return {0, 0};
    }
    const double bottom = offset + viewport;
    // The first section that starts at or below the viewport's bottom ends the range; the one
    // before the first section starting below the top may reach into the viewport.
    const auto end =
        qsizetype(std::lower_bound(tops_.begin(), tops_.end(), bottom) - tops_.begin());
    auto first = qsizetype(std::upper_bound(tops_.begin(), tops_.end(), offset) - tops_.begin());
    first = std::max<qsizetype>(0, first - 1);
    while (first < end && sectionRect(first).bottom() <= offset) {
        ++first;
    }
    return {first, std::max(first, end)};
}

QList<TurnGridLayout::Card> TurnGridLayout::visibleCards(double offset, double viewport) const {
    QList<Card> cards;
    const auto [first, last] = visibleSections(offset, viewport);
    const double pitch = thumb_.height() + cardSpacing;
    for (qsizetype s = first; s < last; ++s) {
        const qsizetype n = sections_[s].items;
        if (sections_[s].folded || n <= 0 || pitch <= 0) {
            continue;
        }
        const double gridTop = tops_[s] + caption_ + captionGap;
        const qsizetype rowCount = rows(s);
        // Row r spans [gridTop + r * pitch, ... + height).
        auto firstRow = qsizetype(std::floor((offset - gridTop - thumb_.height()) / pitch) + 1);
        auto lastRow = qsizetype(std::ceil((offset + viewport - gridTop) / pitch));
        firstRow = std::clamp<qsizetype>(firstRow, 0, rowCount);
        lastRow = std::clamp<qsizetype>(lastRow, 0, rowCount);
        for (qsizetype r = firstRow; r < lastRow; ++r) {
            const double top = gridTop + double(r) * pitch;
            if (top >= offset + viewport || top + thumb_.height() <= offset) {
                continue;
            }
            const qsizetype end = std::min(n, (r + 1) * columns_);
            for (qsizetype i = r * columns_; i < end; ++i) {
                cards.append({s, i});
            }
        }
    }
    return cards;
}

TurnGridLayout::Hit TurnGridLayout::hit(QPointF p) const {
    const auto [first, last] = visibleSections(p.y(), 1e-6);
    for (qsizetype s = first; s < last; ++s) {
        if (captionRect(s).contains(p) && p.y() < captionRect(s).bottom()) {
            return Caption{s};
        }
        if (sections_[s].folded) {
            continue;
        }
        const double gridTop = tops_[s] + caption_ + captionGap;
        const double pitchY = thumb_.height() + cardSpacing;
        const double pitchX = thumb_.width() + cardSpacing;
        if (p.y() < gridTop || pitchX <= 0 || pitchY <= 0 || p.x() < 0) {
            continue;
        }
        const auto row = qsizetype(std::floor((p.y() - gridTop) / pitchY));
        const auto column = qsizetype(std::floor(p.x() / pitchX));
        if (column >= columns_ || p.x() - double(column) * pitchX >= thumb_.width() ||
            p.y() - gridTop - double(row) * pitchY >= thumb_.height()) {
            continue;
        }
        const qsizetype item = row * columns_ + column;
        if (item < sections_[s].items) {
            return Card{s, item};
        }
    }
    return Background{};
}

} // namespace ostrel
