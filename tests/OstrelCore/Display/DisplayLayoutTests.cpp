#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DisplayVisibility.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/NotchGeometry.h"

#include "DisplayTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

const QRectF screen(0, 0, 1512, 982);
const QRectF visible(0, 0, 1512, 950);
const QRectF housing(663, 950, 186, 32);

DisplayLayout pill(PillSide side, const QRectF& v = visible) {
    return DisplayLayout(DisplayStyle::pill(side), screen, v, std::nullopt);
}

TEST(DisplayStyleTest, ChoiceResolvesPerScreenAndPicksTheLayoutKind) {
    EXPECT_EQ(style(DisplayStyleChoice::notch(), true), DisplayStyle::notch());
    EXPECT_EQ(style(DisplayStyleChoice::notch(), false), DisplayStyle::hoverNotch());
    EXPECT_EQ(style(DisplayStyleChoice::pill(PillSide::left), true),
              DisplayStyle::pill(PillSide::left));
    EXPECT_EQ(DisplayStyle::hoverNotch().position(), DisplayStylePosition::top);

    const auto kind = resolveShelfLayoutKind;
    EXPECT_EQ(kind(DisplayStyle::pill(PillSide::bottom), LayoutChoice::stacks),
              ShelfLayoutKind::stacks);
    EXPECT_EQ(kind(DisplayStyle::pill(PillSide::left), LayoutChoice::rail),
              ShelfLayoutKind::column);
    EXPECT_EQ(kind(DisplayStyle::pill(PillSide::right), LayoutChoice::stacks),
              ShelfLayoutKind::sideStacks);
    EXPECT_EQ(kind(DisplayStyle::hoverNotch(), LayoutChoice::stacks), ShelfLayoutKind::stacks);
    EXPECT_EQ(shelfLayoutKindFromRaw("sideStacks"), ShelfLayoutKind::sideStacks);
    EXPECT_EQ(shelfLayoutKindFromRaw("Rail"), std::nullopt);
}

TEST(DrawerSizeTest, SizesOnLargeAndTooSmallScreens) {
    EXPECT_EQ(DrawerSize::expanded(ShelfLayoutKind::rail, screen, std::nullopt), QSizeF(720, 320));
    const auto column = DrawerSize::expanded(ShelfLayoutKind::column, screen, std::nullopt);
    EXPECT_EQ(column.width(), 480);
    EXPECT_DOUBLE_EQ(column.height(), 0.72 * 982);
    EXPECT_EQ(DrawerSize::expanded(ShelfLayoutKind::column, QRectF(0, 0, 1440, 400), std::nullopt),
              QSizeF(480, 352));
    // Smaller than the margins: nothing left in either direction.
    const auto tiny = DrawerSize::expanded(ShelfLayoutKind::rail, QRectF(0, 0, 40, 40), visible);
    EXPECT_EQ(tiny.width(), 0);
    EXPECT_EQ(tiny.height(), 0);

    EXPECT_EQ(DrawerSize::panel(DisplayStyle::notch(), screen, QRectF(0, 0, 1512, 100)),
              QSizeF(880, 360));
    EXPECT_EQ(DrawerSize::panel(DisplayStyle::pill(PillSide::left), screen, visible),
              QSizeF(480, 920));
    EXPECT_EQ(DrawerSize::fillingCard(141, 0), QSizeF(141, 106));
}

TEST(DisplayLayoutTest, ConstructionClipsTheVisibleFrameAndKeepsTheNotchForNotchesOnly) {
    EXPECT_TRUE(
        rectIs(DisplayLayout(DisplayStyle::notch(), screen, QRectF(2000, 0, 10, 10), std::nullopt)
                   .visibleFrame(),
               0, 0, 1512, 982));
    EXPECT_TRUE(
        rectIs(DisplayLayout(DisplayStyle::notch(), screen, QRectF(1512, 0, 10, 10), std::nullopt)
                   .visibleFrame(),
               0, 0, 1512, 982));
    EXPECT_TRUE(rectIs(
        DisplayLayout(DisplayStyle::notch(), screen, QRectF(-5, 20, 2000, 2000), std::nullopt)
            .visibleFrame(),
        0, 20, 1512, 962));
    EXPECT_EQ(DisplayLayout(DisplayStyle::hoverNotch(), screen, std::nullopt, housing).notch(),
              std::nullopt);

    const auto hover =
        DisplayLayout::make(DisplayStyleChoice::notch(), NotchGeometry{screen, std::nullopt}, {});
    EXPECT_EQ(hover.style(), DisplayStyle::hoverNotch());
    EXPECT_TRUE(rectIs(hover.collapsedRect(), 656, 950, 200, 32));
    EXPECT_TRUE(rectIs(hover.hotZone(0), 632, 972, 248, 11));
}

TEST(DisplayLayoutTest, RestingShapesAndHotZonesOfEveryStyle) {
    const DisplayLayout notch(DisplayStyle::notch(), screen, visible, housing);
    EXPECT_TRUE(rectIs(notch.restRect(24), 663, 950, 210, 32));
    EXPECT_TRUE(rectIs(notch.hotZone(0), 655, 950, 202, 33));
    EXPECT_EQ(notch.pillLineRect(), std::nullopt);
    // A notch style without its housing falls back to the drawn one.
    EXPECT_TRUE(
        rectIs(DisplayLayout(DisplayStyle::notch(), screen, visible, std::nullopt).collapsedRect(),
               656, 950, 200, 32));

    const auto left = pill(PillSide::left);
    EXPECT_TRUE(rectIs(left.collapsedRect(), 10, 425.5, 132, 99));
    EXPECT_TRUE(rectIs(left.peekCardRect(), 20, 425.5, 132, 99));
    EXPECT_TRUE(rectIs(left.restRect(30), 10, 425.5, 132, 99));
    EXPECT_TRUE(rectIs(*left.pillLineRect(), 10, 451, 4, 48));
    EXPECT_TRUE(rectIs(left.hotZone(0), 0, 441, 24, 68));

    const auto bottom = pill(PillSide::bottom);
    EXPECT_TRUE(rectIs(bottom.collapsedRect(), 690, 10, 132, 99));
    EXPECT_TRUE(rectIs(bottom.peekCardRect(), 690, 20, 132, 99));
    EXPECT_TRUE(rectIs(bottom.hotZone(0), 722, 0, 68, 24));

    const auto right = pill(PillSide::right);
    EXPECT_TRUE(rectIs(right.collapsedRect(), 1370, 425.5, 132, 99));
    EXPECT_TRUE(rectIs(right.peekCardRect(), 1360, 425.5, 132, 99));
    EXPECT_TRUE(rectIs(right.hotZone(0), 1488, 441, 24, 68));
}

TEST(DisplayLayoutTest, HotZoneEdgesAreHalfOpen) {
    using Geometry::contains;
    const DisplayLayout notch(DisplayStyle::notch(), screen, visible, housing);
    const QRectF zone = notch.hotZone(0); // (655, 950, 202, 33)
    EXPECT_TRUE(contains(zone, {655, 950}));
    EXPECT_TRUE(contains(zone, {700, 982})); // the screen's top row
    EXPECT_FALSE(contains(zone, {857, 960}));
    EXPECT_FALSE(contains(zone, {700, 983}));
    EXPECT_FALSE(contains(zone, {700, 949.999}));

    const QRectF rightZone = pill(PillSide::right).hotZone(0); // (1488, 441, 24, 68)
    EXPECT_TRUE(contains(rightZone, {1511.5, 441}));
    EXPECT_FALSE(contains(rightZone, {1512, 450}));
    EXPECT_FALSE(contains(rightZone, {1500, 509}));
}

TEST(DisplayLayoutTest, DrawersBandsAndPanels) {
    const DisplayLayout notch(DisplayStyle::notch(), screen, visible, housing);
    const QRectF open = notch.drawerRect({720, 320}, 40);
    EXPECT_TRUE(rectIs(open, 396, 622, 720, 360));
    EXPECT_TRUE(rectIs(notch.messageBand(open, 40), 396, 622, 720, 40));
    EXPECT_TRUE(rectIs(notch.messageBand(QRectF(0, 0, 10, 30), 40), 0, 0, 10, 30));
    EXPECT_TRUE(rectIs(notch.hoverRect(open), 396, 622, 720, 360));
    EXPECT_TRUE(rectIs(notch.panelFrame(), 292, 598, 928, 384));
    EXPECT_EQ(notch.drawerOriginInPanel({880, 360}), QPointF(24, 0));
    EXPECT_EQ(notch.peekTuckRoom(), 0);
    // Wider than the screen: pinned to its left edge.
    EXPECT_TRUE(rectIs(notch.drawerRect({2000, 100}, 0), 0, 882, 2000, 100));

    const auto left = pill(PillSide::left);
    EXPECT_TRUE(rectIs(left.drawerRect({480, 880}, 40), 10, 10, 480, 920));
    EXPECT_TRUE(rectIs(left.hoverRect(QRectF(10, 10, 480, 920)), 0, 0, 500, 940));
    EXPECT_TRUE(rectIs(left.panelFrame(), 0, 0, 514, 954));
    EXPECT_EQ(left.peekTuckRoom(), std::numeric_limits<double>::infinity());
    // Taller than the room: the content starts at the band above the bottom.
    EXPECT_TRUE(rectIs(left.drawerRect({100, 2000}, 40), 10, 10, 100, 2040));

    const auto right = pill(PillSide::right);
    EXPECT_TRUE(rectIs(right.panelFrame(), 998, 0, 514, 954));

    const auto bottom = pill(PillSide::bottom, QRectF(0, 80, 1512, 870));
    EXPECT_TRUE(bottom.messageOnTop());
    const QRectF lifted = bottom.drawerRect({880, 320}, 40);
    EXPECT_TRUE(rectIs(lifted, 316, 90, 880, 360));
    EXPECT_TRUE(rectIs(bottom.messageBand(lifted, 40), 316, 410, 880, 40));
    EXPECT_TRUE(rectIs(bottom.panelFrame(), 292, 66, 928, 408));
    EXPECT_EQ(bottom.peekTuckRoom(), 34);
}

TEST(DisplayLayoutTest, ClosingDrawerFollowsACriticallyDampedFall) {
    const DisplayLayout notch(DisplayStyle::notch(), screen, visible, housing);
    const QRectF open(396, 622, 720, 360);
    EXPECT_TRUE(rectIs(notch.closingDrawerRect(open, 0, 0, 0.32), 396, 622, 720, 360));
    // k = e^(-pi/2) (1 + pi/2) at a quarter of the period.
    EXPECT_TRUE(rectIs(notch.closingDrawerRect(open, 0, 0.08, 0.32), 520.3109143033757,
                       774.7115351741845, 471.3781713932484, 207.2884648258155));
    EXPECT_TRUE(rectIs(notch.closingDrawerRect(open, 0, 0.05, 0), 663, 950, 186, 32));
    EXPECT_TRUE(rectIs(notch.closingDrawerRect(open, 24, 0.05, -1), 663, 950, 210, 32));
    EXPECT_TRUE(notch.closingDrawerReopens());
    EXPECT_FALSE(pill(PillSide::left).closingDrawerReopens());
    EXPECT_TRUE(DisplayLayout(DisplayStyle::hoverNotch(), screen, {}, {}).hidesAtRest(true));
    EXPECT_FALSE(notch.hidesAtRest(true));
}

TEST(DisplayLayoutTest, ScreenSmallerThanItsMargins) {
    const QRectF small(0, 0, 40, 40);
    const auto layout = DisplayLayout::make(DisplayStyleChoice::pill(PillSide::bottom),
                                            NotchGeometry{small, std::nullopt}, std::nullopt);
    EXPECT_EQ(layout.drawerSize(ShelfLayoutKind::rail), QSizeF(0, 0));
    EXPECT_EQ(DrawerSize::panel(layout.style(), small, layout.visibleFrame()), QSizeF(0, 40));
    EXPECT_TRUE(rectIs(layout.drawerRect({0, 0}, 40), 20, 0, 0, 40));
    EXPECT_TRUE(rectIs(layout.panelFrame(), 0, 0, 40, 40));
}

TEST(MenuPlacementTest, BelowWhenItFitsAboveTheFloor) {
    const QRectF control(0, 300, 80, 20);
    EXPECT_EQ(MenuPlacement::originY(control, 200, 96, 4), -4);
    EXPECT_EQ(MenuPlacement::originY(control, 200, 96.5, 4), 224);
}

TEST(NotchGeometryTest, HousingFromTheAreasBesideIt) {
    const auto found =
        NotchGeometry::compute(screen, 32, QRectF(0, 950, 663, 32), QRectF(849, 950, 663, 32));
    ASSERT_TRUE(found.hasNotch());
    EXPECT_TRUE(rectIs(*found.notchRect, 663, 950, 186, 32));
    EXPECT_FALSE(NotchGeometry::compute(screen, 32, QRectF(0, 950, 663, 32), {}).hasNotch());
    EXPECT_FALSE(
        NotchGeometry::compute(screen, 32, QRectF(0, 950, 900, 32), QRectF(849, 950, 663, 32))
            .hasNotch());
    EXPECT_FALSE(
        NotchGeometry::compute(screen, 0, QRectF(0, 950, 663, 32), QRectF(849, 950, 663, 32))
            .hasNotch());

    const NotchGeometry cached{screen, housing};
    const NotchGeometry moved{QRectF(1512, 100, 1512, 982), std::nullopt};
    EXPECT_TRUE(rectIs(*NotchGeometry::resolve(moved, cached).notchRect, 2175, 1050, 186, 32));
    const NotchGeometry resized{QRectF(0, 0, 1440, 900), std::nullopt};
    EXPECT_EQ(NotchGeometry::resolve(resized, cached), resized);
    const NotchGeometry live{screen, QRectF(600, 950, 100, 32)};
    EXPECT_EQ(NotchGeometry::resolve(live, cached), live);
}

TEST(NativeResolutionTest, PrefersNativeThenUnscaledModes) {
    const std::vector<DisplayModeSize> unscaledFirst{{1440, 900, 2880, 1800, false},
                                                     {1920, 1080, 1920, 1080, false},
                                                     {1280, 800, 1280, 800, false}};
    EXPECT_EQ(NativeResolution::pick(unscaledFirst), (PixelSize{1920, 1080}));
    EXPECT_EQ(NativeResolution::pick({}), std::nullopt);
    const std::vector<DisplayModeSize> natives{{1600, 900, 3200, 1800, true},
                                               {1800, 1600, 1800, 3200, true},
                                               {4000, 4000, 4000, 4000, false}};
    EXPECT_EQ(NativeResolution::pick(natives), (PixelSize{3200, 1800}));
}

TEST(DisplayVisibilityTest, CountsRegionsAndPruning) {
    DisplayVisibility v;
    v.appear("a", 1);
    v.appear("a", 1);
    v.disappear("a", 1);
    EXPECT_EQ(v.visible(1), DisplayVisibility::Ids({"a"}));
    v.disappear("a", 1);
    EXPECT_TRUE(v.visible(1).isEmpty());
    v.disappear("a", 1);
    v.disappear("a", 7);
    EXPECT_TRUE(v.appeared().contains(1)); // an emptied table stays

    EXPECT_TRUE(v.setRegion("strip", {"b", "c"}, 2));
    EXPECT_FALSE(v.setRegion("strip", {"b", "c"}, 2));
    EXPECT_TRUE(v.setRegion("strip", {"b"}, 2));
    EXPECT_TRUE(v.setRegion("other", {"d"}, 2));
    v.appear("e", 1);
    EXPECT_EQ(v.visible(2), DisplayVisibility::Ids({"b", "d"}));
    EXPECT_TRUE(v.visible(std::nullopt).isEmpty());

    v.keep({1});
    EXPECT_TRUE(v.visible(2).isEmpty());
    EXPECT_FALSE(v.regions().contains(2));
    v.clear(1);
    EXPECT_EQ(v, DisplayVisibility());
}

} // namespace
} // namespace ostrel
