#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/DrawerGrowth.h"
#include "OstrelCore/Display/DrawerLife.h"
#include "OstrelCore/Display/PulseSchedule.h"
#include "OstrelCore/Display/StyleChange.h"

#include "DisplayTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ostrel {
namespace {

TEST(DrawerLifeTest, KeepsContentWarmForItsIntervalAfterAClose) {
    DrawerLife life(30);
    EXPECT_TRUE(life.warm(0, false));
    EXPECT_EQ(life.coolAt(), 30);
    EXPECT_FALSE(life.warm(0, false));
    EXPECT_EQ(life.check(10, false), DrawerLife::Check::wait(30));
    EXPECT_EQ(life.check(31, true), DrawerLife::Check::wait(61));
    EXPECT_EQ(life.check(62, false), DrawerLife::Check::cool());
    EXPECT_FALSE(life.built());
    EXPECT_EQ(life.check(70, false), DrawerLife::Check::idle());

    EXPECT_TRUE(life.warm(100, true));
    EXPECT_EQ(life.check(500, false), DrawerLife::Check::idle());
    life.closed(510);
    EXPECT_EQ(life.check(511, false), DrawerLife::Check::wait(540));
}

TEST(DrawerGrowthTest, PerceivedGrowthAndFrames) {
    EXPECT_EQ(DrawerGrowth::perceived(0), 0);
    EXPECT_NEAR(DrawerGrowth::perceived(1), 1, 1e-15);
    EXPECT_NEAR(DrawerGrowth::perceived(0.5), 0.6871351629405907, 1e-15);
    EXPECT_NEAR(std::log(DrawerGrowth::referenceRatio), 1.658179250862563, 1e-15);
    EXPECT_LT(DrawerGrowth::perceived(-0.1), 0);

    const QRectF rest(0, 0, 220, 38);
    const QRectF open(0, 0, 720, 320);
    EXPECT_TRUE(rectIs(DrawerGrowth::frame(rest, open, 0.5, RectSide::minY, 0.1),
                       -13.749439319936386, 0, 469.721100862095, 164.2991724965114));

    const QRectF from(300, 500, 4, 48);
    const QRectF to(10, 200, 480, 600);
    for (const auto edge : {RectSide::minX, RectSide::maxX, RectSide::minY, RectSide::maxY}) {
        for (const double hold : {0.0, 0.1, 0.5}) {
            EXPECT_TRUE(rectIs(DrawerGrowth::frame(from, to, 0, edge, hold), 300, 500, 4, 48));
            EXPECT_TRUE(rectIs(DrawerGrowth::frame(from, to, 1, edge, hold), 10, 200, 480, 600));
        }
    }
    // Across the edge the drawer grows at once; along it, it waits for the hold.
    const QRectF early = DrawerGrowth::frame(from, to, 0.05, RectSide::minX, 0.1);
    EXPECT_GT(early.width(), 4);
    EXPECT_EQ(early.height(), 48);
    EXPECT_EQ(early.x(), 300);

    EXPECT_EQ(DrawerGrowth::reveal(0.6475), 0);
    EXPECT_EQ(DrawerGrowth::reveal(0.9559375), 1);
    EXPECT_EQ(DrawerGrowth::proportional(14, 16, 32), 7);
    EXPECT_EQ(DrawerGrowth::proportional(14, -3, 32), 0);
    EXPECT_EQ(DrawerGrowth::proportional(14, 5, 0), 14);
}

TEST(PulseScheduleTest, StepsAndLevels) {
    using PulseSchedule::Step;
    EXPECT_EQ(PulseSchedule::steps(0), (std::vector<Step>{Step::up, Step::down}));
    EXPECT_EQ(PulseSchedule::steps(3).size(), 6u);
    EXPECT_EQ(PulseSchedule::level(Step::up, 0.22), 1.0);
    EXPECT_EQ(PulseSchedule::level(Step::down, 0.22), 0.22);
}

TEST(StyleChangeTest, LeavesBeforeArrivingAndRecognisesStaleCompletions) {
    using Action = StyleChange::Action;
    const auto notch = DisplayStyleChoice::notch();
    const auto a = DisplayStyleChoice::pill(PillSide::left);
    const auto b = DisplayStyleChoice::pill(PillSide::right);

    StyleChange change(notch);
    EXPECT_EQ(change.request(a, true, true), Action::leave(1));
    EXPECT_EQ(change.request(b, true, true), Action::none());
    EXPECT_EQ(change.leaveEnded(1), Action::apply(b, true, 2));
    EXPECT_EQ(change.leaveEnded(1), Action::none());
    EXPECT_EQ(change.applied(), b);

    EXPECT_EQ(change.request(b, true, true), Action::none());
    EXPECT_EQ(change.request(b, false, false), Action::none());
    EXPECT_EQ(change.request(notch, false, true), Action::apply(notch, true, 3));
    EXPECT_EQ(change.request(a, false, false), Action::apply(a, false, 4));

    // Asking for the shown style during a leave cancels it; its completion is then stale.
    EXPECT_EQ(change.request(b, true, true), Action::leave(5));
    EXPECT_EQ(change.request(a, true, true), Action::apply(a, true, 6));
    EXPECT_EQ(change.leaveEnded(5), Action::none());

    EXPECT_EQ(change.request(notch, true, true), Action::leave(7));
    EXPECT_EQ(change.settle(), Action::apply(notch, false, 8));
    EXPECT_FALSE(change.isLeaving());
    EXPECT_EQ(change.settle(), Action::none());

    EXPECT_TRUE(StyleChange::pulses(false, false));
    EXPECT_FALSE(StyleChange::pulses(true, false));
    EXPECT_FALSE(StyleChange::pulses(false, true));
}

const QRectF screen(0, 0, 1512, 982);

DrawerGeometry geometryAt(const DisplayLayout& layout, double progress, double trailing,
                          const QSizeF& size, double message, bool reduceMotion = false) {
    const QRectF panel = layout.panelFrame();
    const auto toView = [panel](const QRectF& r) {
        return QRectF(r.x() - panel.x(), panel.y() + panel.height() - (r.y() + r.height()),
                      r.width(), r.height());
    };
    const auto position = layout.style().position();
    const auto pillStart = [position](const QRectF& r) {
        return EdgePlacement::lineRect(position, r, 48, 4);
    };
    return DrawerGeometry::make(layout, progress, trailing, size, message, DrawerGeometry::unit,
                                false, false, toView, pillStart, reduceMotion);
}

TEST(DrawerGeometryTest, NotchGrowsLinearlyAndOvershoots) {
    const DisplayLayout notch(DisplayStyle::notch(), screen, std::nullopt,
                              QRectF(663, 950, 186, 32));
    const auto closed = geometryAt(notch, 0, 0, {720, 320}, 40);
    EXPECT_TRUE(closed.atRest);
    EXPECT_EQ(closed.signal, 1);
    EXPECT_EQ(closed.reveal, 0);
    EXPECT_EQ(closed.surface, 1);
    EXPECT_TRUE(rectIs(closed.frame, 371, 0, 186, 32));

    const auto over = geometryAt(notch, 1.2, 0, {720, 320}, 40);
    EXPECT_TRUE(rectIs(over.frame, 50.6, 0, 826.8, 425.6));
    EXPECT_FALSE(over.atRest);
    EXPECT_EQ(over.reveal, 1);
    EXPECT_EQ(over.signal, 0);
    EXPECT_EQ(over.shape, DrawerShape(NotchShape{NotchShape::Edge::top, 24, 12}));
    EXPECT_EQ(over.restShape, DrawerShape(NotchShape{NotchShape::Edge::top, 14, 7}));
}

TEST(DrawerGeometryTest, HoverNotchGrowsFromALineUntilTheCountSlidesIn) {
    const auto hover = DisplayLayout::make(DisplayStyleChoice::notch(),
                                           NotchGeometry{screen, std::nullopt}, std::nullopt);
    const auto bare = geometryAt(hover, 0, 0, {720, 320}, 40);
    EXPECT_TRUE(rectIs(bare.resting, 364, 0, 200, 32));
    EXPECT_TRUE(rectIs(bare.rest, 364, -32, 200, 32));
    EXPECT_TRUE(rectIs(bare.frame, 384, 0, 160, 3));
    EXPECT_EQ(bare.surface, 0);

    const auto counted = geometryAt(hover, 0, 24, {720, 320}, 40);
    EXPECT_EQ(counted.counted, 1);
    EXPECT_TRUE(rectIs(counted.rest, 364, 0, 224, 32));
    EXPECT_TRUE(rectIs(counted.frame, 364, 0, 224, 32));
    EXPECT_EQ(counted.surface, 1);

    const auto faded = geometryAt(hover, 0.5, 0, {720, 320}, 40, true);
    EXPECT_TRUE(rectIs(faded.frame, 104, 0, 720, 360));
    EXPECT_EQ(faded.reveal, 0.5);
    EXPECT_EQ(faded.surface, 0.5);
}

TEST(DrawerGeometryTest, PillSurfaceFadesInEarly) {
    const DisplayLayout left(DisplayStyle::pill(PillSide::left), screen, std::nullopt,
                             std::nullopt);
    const auto g = geometryAt(left, 0.05, 0, {480, 707.04}, 40);
    EXPECT_NEAR(g.surface, 0.375, 1e-12);
    EXPECT_EQ(g.restShape, DrawerShape(CornerShape::uniform(10)));
    const auto start = geometryAt(left, 0, 0, {480, 707.04}, 40);
    EXPECT_EQ(start.frame.width(), 4);
    EXPECT_EQ(start.frame.height(), 48);
}

TEST(DrawerGeometryTest, OpenSizeOfZeroRevealsInsteadOfNaN) {
    const QRectF tiny(0, 0, 40, 40);
    for (const auto& choice :
         {DisplayStyleChoice::notch(), DisplayStyleChoice::pill(PillSide::bottom)}) {
        const auto layout = DisplayLayout::make(choice, NotchGeometry{tiny, std::nullopt}, tiny);
        const QSizeF size = layout.drawerSize(ShelfLayoutKind::rail);
        ASSERT_EQ(size.width(), 0);
        for (const double progress : {0.3, 0.7, 1.0}) {
            const auto g = geometryAt(layout, progress, 0, size, 0);
            EXPECT_FALSE(std::isnan(g.reveal));
            EXPECT_FALSE(std::isnan(g.surface));
            EXPECT_FALSE(std::isnan(g.frame.width()));
        }
        EXPECT_EQ(geometryAt(layout, 1.0, 0, size, 0).reveal, 1);
    }
}

TEST(EdgePlacementTest, PlacesAlongTheEdge) {
    const QRectF r(100, 50, 200, 32);
    EXPECT_TRUE(rectIs(EdgePlacement::offset(DisplayStylePosition::top, r, 0), 100, 50, 200, 32));
    EXPECT_TRUE(rectIs(EdgePlacement::offset(DisplayStylePosition::left, r, 0.5), 0, 50, 200, 32));
    EXPECT_TRUE(
        rectIs(EdgePlacement::lineRect(DisplayStylePosition::bottom, r, 48, 4), 176, 78, 48, 4));
    EXPECT_TRUE(
        rectIs(EdgePlacement::lineRect(DisplayStylePosition::right, r, 48, 4), 296, 42, 4, 48));
    EXPECT_EQ(EdgePlacement::shape(DisplayStylePosition::left, 10), (CornerShape{0, 10, 0, 10}));
    EXPECT_EQ(EdgePlacement::anchor(DisplayStylePosition::bottom), QPointF(0.5, 1));
    EXPECT_EQ(DrawerGeometry::topReserve(
                  DisplayLayout(DisplayStyle::notch(), screen, {}, QRectF(663, 950, 186, 38))),
              38);
    EXPECT_EQ(DrawerGeometry::topReserve(
                  DisplayLayout(DisplayStyle::pill(PillSide::right), screen, {}, {})),
              0);
    EXPECT_EQ(DrawerGeometry::topReserve(
                  DisplayLayout(DisplayStyle::pill(PillSide::bottom), screen, {}, {})),
              32);
}

TEST(NotchShapeTest, OutlineFlaresAlongItsEdgeAndCutsTheRadius) {
    const NotchShape top{NotchShape::Edge::top, 14, 8};
    EXPECT_TRUE(rectIs(top.path(QRectF(10, 0, 100, 30)).boundingRect(), 2, 0, 116, 30));
    const NotchShape left{NotchShape::Edge::left, 14, 8};
    EXPECT_TRUE(rectIs(left.path(QRectF(0, 10, 30, 100)).boundingRect(), 0, 2, 30, 116));
    const NotchShape bottom{NotchShape::Edge::bottom, 14, 8};
    const auto flipped = bottom.path(QRectF(10, 0, 100, 30));
    EXPECT_TRUE(rectIs(flipped.boundingRect(), 2, 0, 116, 30));
    EXPECT_TRUE(flipped.contains(QPointF(60, 29)));

    // Lower than twice the radius: the radius becomes half the height, so the lower edge is
    // reached only at the middle.
    const auto low = NotchShape{NotchShape::Edge::top, 14, 0}.path(QRectF(0, 0, 100, 10));
    EXPECT_TRUE(low.contains(QPointF(50, 9.9)));
    EXPECT_FALSE(low.contains(QPointF(1, 9.5)));
}

} // namespace
} // namespace ostrel
