#include "Ostrel/Views/ScrollArea.h"
#include "Ostrel/Views/ScrollTopPin.h"
#include "Ostrel/Views/SidebarLayout.h"
#include "Ostrel/Views/TurnGridLayout.h"

#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace ostrel;

namespace {

// The rail's grid: three 160 x 120 columns, a 14-point caption line, 499 points of width.
TurnGridLayout railGrid(QList<TurnGridLayout::Section> sections) {
    return TurnGridLayout(std::move(sections), QSizeF(160, 120), 3, 14, 499);
}

} // namespace

TEST(SidebarLayout, RowsAndTheRangeThatIntersectsTheViewport) {
    const SidebarLayout list{500, 40, 180};
    EXPECT_EQ(list.rowRect(0), QRectF(0, 2, 180, 40));
    EXPECT_EQ(list.rowRect(3), QRectF(0, 128, 180, 40));
    EXPECT_EQ(list.contentHeight(), 2 + 500 * 40 + 499 * 2 + 2);

    struct Case {
        double offset, viewport;
        SidebarLayout::Range range;
    };
    const Case cases[] = {
        {0, 272, {0, 7}},         // rows 0..6: row 6 starts at 254
        {40, 272, {0, 8}},        // row 0 ends at 42 > 40
        {42, 272, {1, 8}},        // row 0 only touches the top
        {44, 42, {1, 2}},         // exactly row 1
        {20880, 272, {497, 500}}, // the end
        {0, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.visible(c.offset, c.viewport), c.range) << c.offset << " " << c.viewport;
    }
    EXPECT_TRUE((SidebarLayout{0, 40, 180}).visible(0, 272).isEmpty());

    EXPECT_EQ(list.rowAt(1), -1);
    EXPECT_EQ(list.rowAt(2), 0);
    EXPECT_EQ(list.rowAt(42.5), -1); // the gap
    EXPECT_EQ(list.rowAt(44), 1);
    EXPECT_EQ(list.rowAt(1e9), -1);
}

TEST(ScrollExtent, RevealScrollsTheLeastAndStaysInRange) {
    const ScrollExtent e{1000, 272};
    EXPECT_EQ(e.maxOffset(), 728);
    EXPECT_EQ(e.reveal(100, 140, 0), 0);     // already in view
    EXPECT_EQ(e.reveal(300, 340, 0), 68);    // bottom lines up
    EXPECT_EQ(e.reveal(300, 340, 400), 300); // top lines up
    EXPECT_EQ(e.reveal(990, 1030, 0), 728);  // clamped
    EXPECT_EQ(e.reveal(10, 400, 200), 10);   // taller than the viewport: its top
    EXPECT_EQ((ScrollExtent{100, 272}).maxOffset(), 0);
}

TEST(TurnGridLayout, SectionsCaptionsAndCardsOfTheRailGrid) {
    // Four items open, five folded, one open.
    const auto grid = railGrid({{4, false}, {5, true}, {1, false}});
    EXPECT_EQ(grid.columns(), 3);
    EXPECT_EQ(grid.captionRect(0), QRectF(0, 2, 499, 14));
    EXPECT_EQ(grid.cardRect(0, 0), QRectF(0, 22, 160, 120));
    EXPECT_EQ(grid.cardRect(0, 2), QRectF(336, 22, 160, 120));
    EXPECT_EQ(grid.cardRect(0, 3), QRectF(0, 150, 160, 120));
    // Section 0: 14 + 6 + 120 + 8 + 120 = 268, ends at 270; the folded one is its caption.
    EXPECT_EQ(grid.sectionRect(1), QRectF(0, 282, 499, 14));
    EXPECT_EQ(grid.sectionRect(2).top(), 308);
    EXPECT_EQ(grid.contentHeight(), 308 + 140 + 2);

    using Card = TurnGridLayout::Card;
    EXPECT_EQ(grid.visibleCards(0, 272), (QList<Card>{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
    EXPECT_EQ(grid.visibleCards(150, 272), (QList<Card>{{0, 3}, {2, 0}}));
    EXPECT_EQ(grid.visibleSections(150, 272), std::make_pair(qsizetype(0), qsizetype(3)));
    EXPECT_EQ(grid.visibleSections(271, 30), std::make_pair(qsizetype(1), qsizetype(2)));
    EXPECT_EQ(grid.visibleSections(271, 40), std::make_pair(qsizetype(1), qsizetype(3)));

    EXPECT_EQ(grid.hit({10, 5}), TurnGridLayout::Hit(TurnGridLayout::Caption{0}));
    EXPECT_EQ(grid.hit({170, 30}), TurnGridLayout::Hit(Card{0, 1}));
    EXPECT_EQ(grid.hit({163, 30}), TurnGridLayout::Hit(TurnGridLayout::Background{}));
    EXPECT_EQ(grid.hit({170, 160}), TurnGridLayout::Hit(TurnGridLayout::Background{})); // no 5th
    EXPECT_EQ(grid.hit({10, 290}), TurnGridLayout::Hit(TurnGridLayout::Caption{1}));
    EXPECT_EQ(grid.hit({10, 276}), TurnGridLayout::Hit(TurnGridLayout::Background{}));
}

TEST(TurnGridLayout, AdaptiveColumnsFitTheWidth) {
    struct Case {
        double width;
        qsizetype columns;
    };
    for (const auto& c : {Case{141, 1}, Case{289, 1}, Case{290, 2}, Case{439, 3}, Case{10, 1}}) {
        EXPECT_EQ(TurnGridLayout({{1, false}}, QSizeF(141, 106), 0, 14, c.width).columns(),
                  c.columns)
            << c.width;
    }
}

TEST(TurnGridLayout, FiveThousandItemsInOneTurnYieldOnlyTheCardsInView) {
    const auto grid = railGrid({{5000, false}});
    // 1667 rows of 128.
    EXPECT_EQ(grid.contentHeight(), 2 + 14 + 6 + 1667 * 120.0 + 1666 * 8 + 2);
    const double deep = grid.cardRect(0, 4500).top() - 8; // the row above only touches it
    const auto cards = grid.visibleCards(deep, 272);
    ASSERT_EQ(cards.size(), 9);
    EXPECT_EQ(cards.front().item, 4500);
    EXPECT_EQ(grid.reveal({0, 4998}, 0, 272), grid.cardRect(0, 4998).bottom() - 272);
    EXPECT_EQ(grid.reveal({0, 1}, 5000, 272), grid.cardRect(0, 1).top());
}

TEST(ScrollTopPin, RepinsBeyondHalfAPointAndOnlyOnAChangeToPinned) {
    ScrollTopPin pin;
    EXPECT_EQ(pin.repin(-9.6, 10), std::nullopt);
    EXPECT_EQ(pin.repin(-9.4, 10), -10.0);
    EXPECT_EQ(pin.repin(-8, 10), -10.0);
    pin.holding = true;
    EXPECT_EQ(pin.repin(-8, 10), std::nullopt);
    pin.holding = false;

    EXPECT_FALSE(pin.setPinned(true)); // unchanged: no re-pin by itself
    EXPECT_FALSE(pin.wheel(0, false)); // horizontal only
    EXPECT_TRUE(pin.wheel(0, true));   // a gesture begins
    EXPECT_FALSE(pin.pinned);
    EXPECT_EQ(pin.repin(-8, 10), std::nullopt);
    EXPECT_FALSE(pin.wheel(3, false)); // told once
    EXPECT_TRUE(pin.setPinned(true));
}

TEST(ScrollArea, StaysAtTheTopUntilTheUserScrollsThenFollowsWheelLines) {
    ScrollArea area;
    area.setPinEnabled(true);
    area.setSize({400, 272});
    area.setContentHeight(1000);
    QSignalSpy released(&area, &ScrollArea::userScrolled);

    area.setOffset(300); // content moved under a pinned view: back to the top
    EXPECT_EQ(area.offset(), 0);

    area.wheel(-120); // one notch toward the bottom
    EXPECT_EQ(released.size(), 1);
    EXPECT_EQ(area.offset(), 24);
    EXPECT_EQ(area.content()->pos(), QPointF(0, -24));
    area.wheel(-120 * 100);
    EXPECT_EQ(area.offset(), 728);
    EXPECT_EQ(released.size(), 1);

    area.setContentHeight(500); // the content shrank: kept in range
    EXPECT_EQ(area.offset(), 228);
    area.setPinned(true);
    EXPECT_EQ(area.offset(), 0);
}
