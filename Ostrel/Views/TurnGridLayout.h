#pragma once

#include "Ostrel/Views/ScrollExtent.h"

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QtGlobal>

#include <optional>
#include <variant>

namespace ostrel {

// Where the turns of one session lie in the turn grid's scrolled content: each turn a caption
// line and, unless folded, a grid of cards, turns 12 points apart and 2 points of padding above
// and below. Built from counts alone, so a session of thousands of items is placed in time
// proportional to its turns, and the cards in view are found without walking the others.
class TurnGridLayout {
public:
    static constexpr double padding = 2;
    static constexpr double turnSpacing = 12;
    static constexpr double captionGap = 6; // caption to grid
    static constexpr double cardSpacing = 8;

    struct Section {
        qsizetype items = 0;
        bool folded = false;
        friend bool operator==(const Section&, const Section&) = default;
    };

    // `columns` 0 or less: as many `thumb`-wide columns as `width` holds, at least one.
    TurnGridLayout(QList<Section> sections, QSizeF thumb, qsizetype columns, double captionHeight,
                   double width);
    TurnGridLayout() = default;

    qsizetype columns() const { return columns_; }
    qsizetype sectionCount() const { return sections_.size(); }
    const QList<Section>& sections() const { return sections_; }
    const QSizeF& thumb() const { return thumb_; }
    double contentHeight() const { return height_; }
    ScrollExtent extent(double viewport) const { return {height_, viewport}; }

    QRectF sectionRect(qsizetype section) const;
    QRectF captionRect(qsizetype section) const;
    // Card `item` of a section; its place is kept while the section is folded (nothing shows it).
    QRectF cardRect(qsizetype section, qsizetype item) const;

    struct Card {
        qsizetype section = 0;
        qsizetype item = 0;
        friend bool operator==(const Card&, const Card&) = default;
    };
    // Sections whose rectangle intersects the viewport, as [first, last).
    std::pair<qsizetype, qsizetype> visibleSections(double offset, double viewport) const;
    // Cards of open sections that intersect the viewport, in order.
    QList<Card> visibleCards(double offset, double viewport) const;

    struct Caption {
        qsizetype section = 0;
        friend bool operator==(const Caption&, const Caption&) = default;
    };
    struct Background {
        friend bool operator==(const Background&, const Background&) = default;
    };
    using Hit = std::variant<Background, Caption, Card>;
    // What a content point falls on; the gaps between cards and turns are background.
    Hit hit(QPointF point) const;

    // The offset that shows the card with the least scrolling.
    double reveal(Card card, double offset, double viewport) const {
        const QRectF r = cardRect(card.section, card.item);
        return extent(viewport).reveal(r.top(), r.bottom(), offset);
    }

private:
    qsizetype rows(qsizetype section) const;

    QList<Section> sections_;
    QList<double> tops_;
    QSizeF thumb_;
    qsizetype columns_ = 1;
    double caption_ = 0;
    double width_ = 0;
    double height_ = 2 * padding;
};

} // namespace ostrel
