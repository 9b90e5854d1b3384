#include "OstrelCore/Display/StripScroll.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ostrel {
namespace {

using Input = StripScroll::Input;
using Move = StripScroll::Move;

const StripScroll::Limits limits(100, 300, 0.55, 0.5);

TEST(RubberBandTest, GivesLessAndLessPastEitherEnd) {
    EXPECT_DOUBLE_EQ(RubberBand::band(100, 300, 0.55), 46.47887323943662);
    EXPECT_EQ(RubberBand::band(0, 300, 0.55), 0);
    EXPECT_EQ(RubberBand::band(50, 0, 0.55), 0);
    EXPECT_DOUBLE_EQ(RubberBand::offset(-100, 100, 300, 0.55), -46.47887323943662);
    EXPECT_EQ(RubberBand::offset(60, 100, 300, 0.55), 60);
    EXPECT_TRUE(std::signbit(RubberBand::offset(-5, 100, 0, 0.55)));

    // A touch scroll past the end: smaller and smaller steps, never the full dimension.
    StripScroll s;
    double previous = 0;
    double step = 1e9;
    s.handle(Input::touch(100), 0, limits);
    for (int i = 0; i < 50; ++i) {
        previous = s.offset;
        s.handle(Input::touch(100), 0, limits);
        EXPECT_LT(s.offset - previous, step);
        step = s.offset - previous;
    }
    EXPECT_LT(s.offset, 100 + 300);
}

TEST(ScrollSettleTest, CriticallyDampedPositionAndEnd) {
    const ScrollSettle settle{120, 100, 0, 2, 0.5};
    EXPECT_EQ(settle.position(1), 120);
    EXPECT_NEAR(settle.position(2.1), 112.84520887060872, 1e-12);
    EXPECT_FALSE(settle.isOver(2.749));
    EXPECT_TRUE(settle.isOver(2.75));
    EXPECT_DOUBLE_EQ((ScrollSettle{0, 50, 100, 0, 1}.unitVelocity()), 2);
    EXPECT_EQ((ScrollSettle{5, 5, 100, 0, 1}.unitVelocity()), 0);
}

TEST(ScrollSettleTest, NoDurationIsOverAtOnceAtItsTarget) {
    for (const double duration : {0.0, -1.0}) {
        const ScrollSettle settle{120, 100, 30, 2, duration};
        EXPECT_EQ(settle.position(2), 100);
        EXPECT_EQ(settle.position(2.5), 100);
        EXPECT_TRUE(settle.isOver(2));
    }
    StripScroll s;
    s.drag(130, StripScroll::Limits(100, 300, 0.55, 0));
    s.handle(Input::lifted(), 4, StripScroll::Limits(100, 300, 0.55, 0));
    EXPECT_EQ(s.shown(4), 100);
}

TEST(StripScrollTest, LinesRevealsAndRefit) {
    StripScroll s;
    EXPECT_EQ(s.handle(Input::line(30), 0, limits), Move::jump(30));
    EXPECT_EQ(s.handle(Input::line(200), 0, limits), Move::jump(100));
    EXPECT_EQ(s.handle(Input::reveal(-500), 0, limits), Move::glide(0));
    s.offset = 80;
    EXPECT_EQ(s.refit(StripScroll::Limits(50, 300, 0.55, 0.5)), Move::jump(50));
    EXPECT_EQ(s.refit(StripScroll::Limits(50, 300, 0.55, 0.5)), Move::none());
    // A negative largest offset behaves as 0.
    EXPECT_EQ(s.handle(Input::line(10), 0, StripScroll::Limits(-20, 300, 0.55, 0.5)),
              Move::jump(0));
}

TEST(StripScrollTest, LiftingPastTheEndSettlesBackAndSpendsTheMomentum) {
    StripScroll s;
    s.handle(Input::touch(140), 0, limits);
    EXPECT_DOUBLE_EQ(s.offset, 120.49689440993785);
    const Move lift = s.handle(Input::lifted(), 1, limits);
    ASSERT_EQ(lift.kind, Move::Kind::settle);
    EXPECT_EQ(lift.run, (ScrollSettle{120.49689440993785, 100, 0, 1, 0.5}));
    EXPECT_EQ(s.offset, 100);
    // After one and a half durations the settle's end is what shows.
    EXPECT_GT(s.shown(1.74), 100);
    EXPECT_EQ(s.shown(1.75), 100);
    EXPECT_EQ(s.handle(Input::momentum(-5, 1.01), 1.01, limits), Move::none());
    EXPECT_EQ(s.handle(Input::momentum(-5, 2.0), 2.0, limits), Move::none());
    EXPECT_EQ(s.handle(Input::momentumEnded(), 2.0, limits), Move::none());
    EXPECT_EQ(s.handle(Input::momentum(-5, 2.1), 2.1, limits), Move::jump(95));
}

TEST(StripScrollTest, MomentumFollowsInsideAndBouncesOnceAtAnEnd) {
    StripScroll s;
    s.offset = 10;
    EXPECT_EQ(s.handle(Input::momentum(-4, 5.0), 5.0, limits), Move::jump(6));
    // 1 ms after the previous event: dt is floored at 1/240 s.
    const Move bounce = s.handle(Input::momentum(-8, 5.001), 5.001, limits);
    ASSERT_EQ(bounce.kind, Move::Kind::settle);
    EXPECT_EQ(bounce.run, (ScrollSettle{6, 0, -8 * 240.0, 5.001, 0.5}));
    EXPECT_TRUE(s.momentumSpent);
    EXPECT_EQ(s.handle(Input::momentum(-8, 5.01), 5.01, limits), Move::none());

    StripScroll first;
    first.offset = 95;
    const Move over = first.handle(Input::momentum(10, 3), 3, limits);
    EXPECT_EQ(over.run, (ScrollSettle{95, 100, 600, 3, 0.5}));
}

TEST(StripScrollTest, PressFreezesARunningSettleWhereItShows) {
    StripScroll s;
    s.release(60, 0, 0, limits);
    const double onScreen = s.shown(0.1);
    EXPECT_GT(onScreen, 0);
    EXPECT_LT(onScreen, 60);
    EXPECT_EQ(s.handle(Input::press(), 0.1, limits), Move::jump(onScreen));
    EXPECT_EQ(s.settle, std::nullopt);
    EXPECT_EQ(s.handle(Input::press(), 0.2, limits), Move::none());

    // A press while banded past the end settles back.
    s.drag(-30, limits);
    const Move back = s.handle(Input::press(), 1, limits);
    ASSERT_EQ(back.kind, Move::Kind::settle);
    EXPECT_EQ(back.run.to, 0);
    EXPECT_EQ(s.offset, 0);
}

TEST(StripScrollTest, TouchCatchesARunningSettle) {
    StripScroll s;
    s.release(60, 0, 0, limits);
    const double onScreen = s.shown(0.1);
    EXPECT_EQ(s.handle(Input::touch(5), 0.1, limits), Move::jump(onScreen + 5));
    EXPECT_EQ(s.raw, onScreen + 5);
    EXPECT_EQ(s.release(s.offset, 0, 0.2, limits), Move::none());
}

} // namespace
} // namespace ostrel
