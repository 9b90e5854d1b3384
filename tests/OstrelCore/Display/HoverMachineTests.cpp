#include "OstrelCore/Display/HoverMachine.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using Action = HoverMachine::Action;
using Reason = HoverMachine::Reason;

constexpr double dwell = 0.12;
constexpr double close = 0.32;

// A hover-opened shelf on display 1 at time 1.12.
HoverMachine openedByHover() {
    HoverMachine m(0.2);
    m.pointer(1.0, 1u, dwell, false, close);
    m.pointer(1.12, 1u, dwell, false, close);
    return m;
}

TEST(HoverMachineTest, DwellOpensOnTheFirstSampleAtItsDeadline) {
    HoverMachine m(0.2);
    EXPECT_EQ(m.pointer(1.0, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.pointer(1.0, 1u, dwell, false, close), Action::none());
    EXPECT_EQ(m.deadline(), 1.12);
    EXPECT_EQ(m.pointer(1.1, 1u, 0.5, false, close), Action::none());
    // The dwell stored at the start counts, and the deadline carries a microsecond's margin.
    EXPECT_EQ(m.pointer(1.12 - 0.9e-6, 1u, 0.5, false, close), Action::open(1));
    EXPECT_EQ(m.phase(), HoverMachine::Phase(HoverMachine::Open{1, Reason::hover, true, {}}));
    EXPECT_EQ(m.openTarget(), 1u);
    EXPECT_EQ(m.deadline(), std::nullopt);

    HoverMachine instant(0.2);
    EXPECT_EQ(instant.pointer(3, 2u, 0, false, close), Action::open(2));
}

TEST(HoverMachineTest, MovingIntoAnotherHotZoneRestartsTheDwell) {
    HoverMachine m(0.2);
    m.pointer(1.0, 1u, dwell, false, close);
    EXPECT_EQ(m.pointer(1.1, 2u, 0, false, close), Action::none()); // no instant open here
    EXPECT_EQ(m.phase(), HoverMachine::Phase(HoverMachine::Dwelling{2, 1.1, 0}));
    EXPECT_EQ(m.pointer(1.1, 2u, 0, false, close), Action::open(2));

    HoverMachine away(0.2);
    away.pointer(1.0, 1u, dwell, false, close);
    EXPECT_EQ(away.pointer(1.05, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(away.phase(), HoverMachine::Phase(HoverMachine::Closed{}));
}

TEST(HoverMachineTest, GraceKeepsTheShelfOpenBriefly) {
    auto m = openedByHover();
    EXPECT_EQ(m.pointer(2.0, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.deadline(), 2.2);
    EXPECT_EQ(m.pointer(2.1, std::nullopt, 0, true, close), Action::none());
    EXPECT_EQ(m.deadline(), std::nullopt); // back inside: outsideSince cleared
    m.pointer(3.0, std::nullopt, 0, false, close);
    EXPECT_EQ(m.pointer(3.19, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.pointer(3.2 - 0.9e-6, std::nullopt, 0, false, close), Action::close());
    EXPECT_EQ(m.closing(3.3)->target, 1u);
    EXPECT_NEAR(m.closing(3.3)->remaining, 0.22 - 0.9e-6, 1e-12);
    EXPECT_EQ(m.closing(3.52), std::nullopt);
    EXPECT_EQ(m.deadline(), std::nullopt);

    auto instant = openedByHover();
    instant.pointer(2.0, std::nullopt, 0, false, 0);
    EXPECT_EQ(instant.pointer(2.2, std::nullopt, 0, false, 0), Action::close());
    EXPECT_EQ(instant.phase(), HoverMachine::Phase(HoverMachine::Closed{}));
}

TEST(HoverMachineTest, ClosingReopensOrHandsOverToAnotherDisplay) {
    auto m = openedByHover();
    m.pointer(2.0, std::nullopt, 0, false, close);
    m.pointer(2.2, std::nullopt, 0, false, close); // closing until 2.52
    EXPECT_EQ(m.pointer(2.3, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.pointer(2.4, std::nullopt, 0, true, close), Action::open(1));
    EXPECT_EQ(m.phase(), HoverMachine::Phase(HoverMachine::Open{1, Reason::hover, true, {}}));

    m.pointer(3.0, std::nullopt, 0, false, close);
    m.pointer(3.2, std::nullopt, 0, false, close);
    // Another display's hot zone ends the closing and starts dwelling there in the same call.
    EXPECT_EQ(m.pointer(3.3, 2u, dwell, false, close), Action::none());
    EXPECT_EQ(m.phase(), HoverMachine::Phase(HoverMachine::Dwelling{2, 3.3, dwell}));

    auto over = openedByHover();
    over.pointer(2.0, std::nullopt, 0, false, close);
    over.pointer(2.2, std::nullopt, 0, false, close);
    EXPECT_EQ(over.pointer(2.52, 1u, 0, false, close), Action::open(1)); // over, zero dwell
}

TEST(HoverMachineTest, HotKeyOpensUntilThePointerHasBeenInside) {
    HoverMachine m(0.2);
    EXPECT_EQ(m.hotkey(2), Action::open(2));
    EXPECT_EQ(m.pointer(5.0, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.pointer(9.0, std::nullopt, 0, false, close), Action::none());
    EXPECT_EQ(m.deadline(), std::nullopt);
    EXPECT_TRUE(ShelfKeyRule::panelMayBeKey(m.phase(), false, false));
    m.pointer(9.1, std::nullopt, 0, true, close);
    m.pointer(9.2, std::nullopt, 0, false, close);
    EXPECT_EQ(m.pointer(9.4, std::nullopt, 0, false, close), Action::close());

    // The hot key closes wherever the pointer is, and the next one opens under the pointer.
    HoverMachine twice(0.2);
    twice.hotkey(2);
    EXPECT_EQ(twice.hotkey(1), Action::close());
    EXPECT_EQ(twice.hotkey(1), Action::open(1));

    HoverMachine dwelling(0.2);
    dwelling.pointer(1, 1u, dwell, false, close);
    EXPECT_EQ(dwelling.hotkey(3), Action::open(3));
}

TEST(HoverMachineTest, ClicksOpenMoveAndClose) {
    HoverMachine m(0.2);
    EXPECT_EQ(m.clickOutside(), Action::none());
    EXPECT_EQ(m.click(1), Action::open(1));
    const auto before = m;
    EXPECT_EQ(m.click(1), Action::none());
    EXPECT_EQ(m, before);
    EXPECT_EQ(m.click(2), Action::open(2));
    EXPECT_FALSE(ShelfKeyRule::panelMayBeKey(m.phase(), false, false));
    EXPECT_TRUE(ShelfKeyRule::panelMayBeKey(m.phase(), false, true));
    EXPECT_TRUE(ShelfKeyRule::panelMayBeKey(m.phase(), true, false));
    EXPECT_EQ(m.clickOutside(), Action::close());
    EXPECT_FALSE(ShelfKeyRule::panelMayBeKey(m.phase(), true, true));
    m.click(1);
    m.reset();
    EXPECT_EQ(m.phase(), HoverMachine::Phase(HoverMachine::Closed{}));
}

TEST(HoverFreezeTest, ScrollFreezesAtTheFirstPointUntilARealMove) {
    HoverFreeze f;
    f.moved({1, 1});
    EXPECT_FALSE(f.isFrozen());
    f.scrolled({10, 20});
    f.scrolled({30, 40});
    EXPECT_EQ(f.frozenAt(), QPointF(10, 20));
    f.moved({10, 20});
    EXPECT_TRUE(f.isFrozen());
    f.moved({10, 20.001});
    EXPECT_FALSE(f.isFrozen());
    f.scrolled({1, 2});
    f.reset();
    EXPECT_FALSE(f.isFrozen());
}

} // namespace
} // namespace ostrel
