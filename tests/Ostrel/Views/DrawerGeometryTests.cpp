#include "Ostrel/Views/DrawerContentLayout.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"

#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(ShelfHeaderLayout, ControlsFromTheTrailingEndAndASwitcherThatGivesWay) {
    ShelfHeaderLayout::Input in;
    in.width = 720;
    in.height = 32;
    in.leading = 22;
    in.projectText = 70;
    in.textHeight = 14;

    auto h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.menuButton, QRectF(680, 2, 28, 28));
    EXPECT_EQ(h.filterButton, QRectF(644, 2, 28, 28));
    EXPECT_FALSE(h.chip.has_value());
    EXPECT_FALSE(h.unread.has_value());
    EXPECT_EQ(h.switcher, QRectF(22, 5, 82, 22));

    in.unreadText = 40;
    in.chipText = 50;
    h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.unread, QRectF(586, 9, 50, 14));
    EXPECT_EQ(h.chip, QRectF(503, 6, 75, 20));

    // A long name stops at 180 on a notch display; on a pill it takes what the gap leaves.
    in.projectText = 2000;
    h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.switcher.width(), 180);
    EXPECT_EQ(h.projectTextWidth, 168);
    in.capped = false;
    h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.switcher.right(), 503 - 8 - 8 - 8);

    // Compact: 2-point spacing and trailing inset, 4-point gap.
    in.compact = true;
    in.width = 204;
    in.leading = 14;
    in.chipText.reset();
    in.unreadText = 7;
    h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.menuButton.left(), 204 - 2 - 28);
    EXPECT_EQ(h.filterButton.left(), 174 - 2 - 28);
    EXPECT_EQ(h.unread->left(), 144 - 2 - 17);
    EXPECT_EQ(h.switcher.right(), 125 - 2 - 4 - 2);

    // No room at all: the switcher shrinks to nothing rather than overlapping.
    in.width = 60;
    h = ShelfHeaderLayout::make(in);
    EXPECT_EQ(h.switcher.width(), 0);
}

TEST(DrawerContentLayout, HeaderContentAndMessageBandPerStyle) {
    // The hover notch's rail drawer: 720 x 320, 360 with the toast's room.
    auto d = DrawerContentLayout::make({{720, 320}, 32, 0, 0, false});
    EXPECT_EQ(d.header, QRectF(0, 0, 720, 32));
    EXPECT_EQ(d.content, QRectF(0, 32, 720, 288));
    d = DrawerContentLayout::make({{720, 360}, 32, 0, 40, false});
    EXPECT_EQ(d.content, QRectF(0, 32, 720, 288));
    EXPECT_EQ(DrawerContentLayout::toast({720, 360}, 200, false), QRectF(260, 322, 200, 28));
    EXPECT_EQ(DrawerContentLayout::toast({720, 360}, 900, false).width(), 320);
    EXPECT_EQ(DrawerContentLayout::toast({200, 360}, 900, false), QRectF(14, 322, 172, 28));

    // The bottom pill: the band 8 lower, the message room and the toast above.
    d = DrawerContentLayout::make({{720, 360}, 32, 8, 40, true});
    EXPECT_EQ(d.header, QRectF(0, 48, 720, 32));
    EXPECT_EQ(d.content, QRectF(0, 80, 720, 280));
    EXPECT_EQ(DrawerContentLayout::toast({720, 360}, 200, true).top(), 10);

    // A side pill has no band.
    d = DrawerContentLayout::make({{480, 600}, 0, 0, 0, false});
    EXPECT_FALSE(d.header.has_value());
    EXPECT_EQ(d.content, QRectF(0, 0, 480, 600));
}

TEST(RailLayout, SidebarDividerAndGridArea) {
    const auto rail = RailLayout::make(QRectF(0, 32, 720, 288));
    EXPECT_EQ(rail.sidebar, QRectF(14, 36, 180, 272));
    EXPECT_EQ(rail.divider, QRectF(194, 38, 1, 268));
    EXPECT_EQ(rail.content, QRectF(207, 36, 499, 272));
    // The grid's three 160-point columns and two 8-point gaps fit with room to spare.
    EXPECT_GE(rail.content.width(), 3 * 160 + 2 * 8);
}
