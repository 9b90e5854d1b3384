#include "OstrelCore/Shelf/SeenClock.h"
#include "OstrelCore/Shelf/TipTimer.h"
#include "OstrelCore/Shelf/UndoClock.h"

#include "ShelfFixtures.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ostrel;

TEST(SeenClock, DueAtTheDelayWithinTheMicrosecondMargin) {
    SeenClock clock(0.5);
    EXPECT_TRUE(clock.update({"a"}, 10.0).isEmpty());
    EXPECT_EQ(clock.deadline(), 10.5);
    EXPECT_TRUE(clock.update({"a"}, 10.4999).isEmpty());
    EXPECT_EQ(clock.update({"a"}, 10.49999995), QStringList{"a"});

    SeenClock exact(0.5);
    exact.update({"a"}, 10.0);
    EXPECT_EQ(exact.update({"a"}, 10.5), QStringList{"a"});
    EXPECT_FALSE(exact.deadline().has_value());
}

TEST(SeenClock, ABreakRestartsTheWait) {
    SeenClock clock(0.5);
    clock.update({"a"}, 10.0);
    clock.update({}, 10.3);
    EXPECT_FALSE(clock.deadline().has_value());
    clock.update({"a"}, 10.4);
    EXPECT_TRUE(clock.update({"a"}, 10.5).isEmpty());
    EXPECT_EQ(clock.deadline(), 10.9);
    EXPECT_EQ(clock.update({"a"}, 10.9), QStringList{"a"});
}

TEST(SeenClock, ReportsOnceUntilResetInTextOrder) {
    SeenClock clock(0.5);
    clock.update({"b0"}, 1.0);
    clock.update({"b0", "a1"}, 1.2);
    EXPECT_EQ(clock.update({"b0", "a1"}, 2.0), (QStringList{"a1", "b0"}));
    clock.update({}, 3.0);
    EXPECT_TRUE(clock.update({"a1"}, 4.0).isEmpty());
    EXPECT_TRUE(clock.update({"a1"}, 9.0).isEmpty());
    clock.reset();
    clock.update({"a1"}, 10.0);
    EXPECT_EQ(clock.update({"a1"}, 10.5), QStringList{"a1"});

    SeenClock instant(0);
    EXPECT_EQ(instant.update({"x"}, 5.0), QStringList{"x"});
}

TEST(UndoClock, CountsOnlyRunningTime) {
    UndoClock running(4, 100, false);
    EXPECT_EQ(running.remaining(100), 4);
    EXPECT_EQ(running.remaining(102.5), 1.5);
    EXPECT_EQ(running.remaining(105), 0);

    UndoClock paused(4, 100, false);
    paused.setPaused(true, 101);
    paused.setPaused(true, 105); // repeated: ignored
    EXPECT_EQ(paused.remaining(109), 3);
    paused.setPaused(false, 110);
    paused.setPaused(false, 111); // repeated: ignored
    EXPECT_EQ(paused.remaining(110), 3);
    EXPECT_EQ(paused.remaining(112), 1);

    const UndoClock neverRun(4, 100, true);
    EXPECT_TRUE(neverRun.isPaused());
    EXPECT_EQ(neverRun.remaining(1e9), 4);
    EXPECT_EQ(UndoClock(std::numeric_limits<double>::quiet_NaN(), 0, true).remaining(0), 0);
}

namespace {
using Timer = TipTimer<int>;
Timer timer() {
    return Timer(0.5, 0.24, 0.76);
}
} // namespace

TEST(TipTimer, WarmSpellAfterATipShortensTheNextWait) {
    Timer tips = timer();
    EXPECT_EQ(tips.rest(0), 0.5);
    tips.rested(1, 1);
    EXPECT_EQ(tips.shown(), 1);
    EXPECT_EQ(tips.rest(1), 0.24);

    tips.moved(true, 5);
    EXPECT_EQ(tips.shown(), 1);
    tips.moved(false, 10);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Warm{10.76}));
    EXPECT_EQ(tips.rest(10.5), 0.24);
    EXPECT_EQ(tips.rest(10.76), 0.5);
    tips.tick(10.7);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Warm{10.76}));
    tips.tick(10.76);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Idle{}));
}

TEST(TipTimer, DismissedTipStaysAwayOnItsAnchor) {
    Timer tips = timer();
    tips.rested(1, 0);
    tips.dismiss(std::nullopt);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Held{1}));
    EXPECT_EQ(tips.current(), 1);
    EXPECT_FALSE(tips.shown().has_value());
    tips.rested(1, 1);
    EXPECT_FALSE(tips.shown().has_value());
    tips.rested(std::nullopt, 1);
    EXPECT_EQ(tips.current(), 1);
    tips.rested(2, 2);
    EXPECT_EQ(tips.shown(), 2);

    tips.reset();
    tips.dismiss(3);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Held{3}));
    tips.moved(false, 4);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Idle{}));

    tips.phase = Timer::Warm{9};
    tips.dismiss(std::nullopt);
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Idle{}));
    tips.phase = Timer::Warm{9};
    tips.rested(std::nullopt, 8); // a warm spell not yet over stays
    EXPECT_EQ(tips.phase, Timer::Phase(Timer::Warm{9}));
}

TEST(TipPlacement, StaysInsideTheBoundsAndBelowTheAvoidedRect) {
    using TipPlacement::Edge;
    using TipPlacement::frame;
    const QRectF bounds(0, 0, 200, 100);
    const QSizeF pad(4, 2);

    EXPECT_EQ(frame({80, 20}, {50, 30}, Edge::top, pad, bounds, std::nullopt),
              QRectF(46, 28, 80, 20));
    EXPECT_EQ(frame({80, 20}, {50, 30}, Edge::bottom, pad, bounds, std::nullopt),
              QRectF(46, 12, 80, 20));
    // Too wide: cut to the bounds and put at their left edge.
    EXPECT_EQ(frame({300, 20}, {50, 30}, Edge::top, pad, bounds, std::nullopt),
              QRectF(0, 28, 200, 20));
    // Would cross the right edge: moved left just enough.
    EXPECT_EQ(frame({80, 20}, {180, 30}, Edge::top, pad, bounds, std::nullopt),
              QRectF(120, 28, 80, 20));
    // Overlaps the avoided rect: moved below it, or to the bounds' bottom.
    EXPECT_EQ(frame({80, 20}, {50, 30}, Edge::top, pad, bounds, QRectF(0, 20, 200, 30)),
              QRectF(46, 50, 80, 20));
    EXPECT_EQ(frame({80, 20}, {50, 30}, Edge::top, pad, bounds, QRectF(0, 20, 200, 75)),
              QRectF(46, 80, 80, 20));
    // Only touching it is no overlap.
    EXPECT_EQ(frame({80, 20}, {50, 30}, Edge::top, pad, bounds, QRectF(0, 48, 200, 10)),
              QRectF(46, 28, 80, 20));
}
