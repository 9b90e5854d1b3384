#include "OstrelCore/Display/Motion.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ostrel {
namespace {

using Motion::Animated;
using Motion::Curve;

const Motion::Context plain{1.0, false, false};
const Motion::Context doubled{2.0, false, false};
const Motion::Context reduced{1.5, true, false};

TEST(MotionTimingTest, ScaleComesFromTheEnvironmentWithinItsRange) {
    EXPECT_EQ(Motion::scaleFrom({}), 1.0);
    EXPECT_EQ(Motion::scaleFrom({{"OSTREL_MOTION_SCALE", "2"}}), 2.0);
    EXPECT_EQ(Motion::scaleFrom({{"OSTREL_MOTION_SCALE", "0.01"}}), 1.0);
    EXPECT_EQ(Motion::scaleFrom({{"OSTREL_MOTION_SCALE", "abc"}}), 1.0);
    EXPECT_EQ(Motion::scaleFrom({{"OSTREL_MOTION_SCALE", "20"}}), 20.0);
}

TEST(MotionTimingTest, ScaleStretchesCurvesAndScaledDelaysOnly) {
    const auto notch = DisplayStyle::notch();
    EXPECT_EQ(Motion::drawerClose(notch, doubled), Curve::spring(0.64, 1.0));
    EXPECT_DOUBLE_EQ(Motion::drawerCloseDuration(notch, doubled), 0.64);
    EXPECT_DOUBLE_EQ(Motion::drawerCloseDuration(std::nullopt, plain), 0.32);
    EXPECT_DOUBLE_EQ(Motion::drawerCloseDuration(DisplayStyle::hoverNotch(), plain), 0.45);
    EXPECT_EQ(Motion::drawerOpen(DisplayStyle::pill(PillSide::left), plain),
              Curve::spring(0.42, 0.8));
    EXPECT_EQ(Motion::drawerOpen(std::nullopt, doubled), Curve::spring(0.9, 0.9));
    EXPECT_EQ(Motion::pulseDown(doubled), Curve::easeInOut(0.96));
    EXPECT_DOUBLE_EQ(Motion::settleDuration(doubled), 1.0);
    EXPECT_DOUBLE_EQ(Motion::tipHideDelay(doubled), 1.52);
    EXPECT_EQ(Motion::pulseStep(PulseSchedule::Step::up, doubled),
              std::make_pair(Curve::easeOut(0.72), 0.36));
    EXPECT_EQ(Motion::rowChange(false, doubled), Curve::none());
}

TEST(MotionTimingTest, ReduceMotionSoftensOnlyTheMarkedCurves) {
    const auto softened = Curve::easeOut(0.2 * 1.5);
    for (const auto& style : {DisplayStyle::notch(), DisplayStyle::hoverNotch(),
                              DisplayStyle::pill(PillSide::bottom)}) {
        EXPECT_EQ(Motion::drawerOpen(style, reduced), softened);
        EXPECT_EQ(Motion::drawerClose(style, reduced), softened);
        EXPECT_DOUBLE_EQ(Motion::drawerCloseDuration(style, reduced), 0.2 * 1.5);
    }
    EXPECT_EQ(Motion::standard(reduced), softened);
    EXPECT_EQ(Motion::settingsChange(reduced), softened);
    EXPECT_EQ(Motion::pulseUp(reduced), Curve::easeOut(0.36 * 1.5));
    EXPECT_EQ(Motion::tipFade(reduced), Curve::easeOut(0.12 * 1.5));
    EXPECT_DOUBLE_EQ(Motion::standardDuration(reduced), 0.3);
    EXPECT_EQ(Motion::dropIn(reduced), (Motion::Transition{0, true}));
    EXPECT_EQ(Motion::slide(true, plain), (Motion::Transition{-8, true}));
}

TEST(MotionTimingTest, HoverDwellByStyle) {
    const auto notch = DisplayStyle::notch();
    const auto hover = DisplayStyle::hoverNotch();
    const auto pill = DisplayStyle::pill(PillSide::right);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(notch, 60), 0.06);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(hover, 60), 0.2);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(pill, 60), 0.35);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(notch, 600), 0.6);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(hover, 600), 0.68);
    EXPECT_DOUBLE_EQ(Motion::hoverDwell(pill, 600), 0.75);
}

TEST(MotionTimingTest, AccessibilityHookAndGlow) {
    EXPECT_FALSE(Motion::reduceMotion());
    EXPECT_FALSE(Motion::increaseContrast());
    Motion::setAccessibilityHook([] { return Accessibility{true, true}; });
    EXPECT_TRUE(Motion::current().reduceMotion);
    EXPECT_EQ(Motion::glowOpacity(GlowStrength::subtle), 1.0);
    Motion::setAccessibilityHook({});
    EXPECT_EQ(Motion::glowOpacity(GlowStrength::subtle), 0.6);
    EXPECT_EQ(Motion::glowOpacity(GlowStrength::strong, plain), 0.85);
    EXPECT_EQ(Motion::glowLook(GlowStrength::strong), (Motion::GlowLook{22, 40}));
    EXPECT_EQ(Motion::countWidth(9), 24);
    EXPECT_EQ(Motion::countWidth(10), 30);
    EXPECT_EQ(Motion::countWidth(100), 38);
    EXPECT_DOUBLE_EQ(Motion::swell(0.75, 0.5), 1.175);
    EXPECT_EQ(Motion::swell(1.0, 0.999), 1.0);
}

TEST(MotionCurveTest, BezierCurvesAtChosenTimes) {
    Animated v(0);
    v.animate(10, Curve::easeIn(2), 100);
    EXPECT_EQ(v.value(99), 0);
    EXPECT_NEAR(v.value(101), 3.1535681257253945, 1e-9);
    EXPECT_EQ(v.value(102), 10);
    EXPECT_FALSE(v.isRunning(102));

    Animated out(0);
    out.animate(10, Curve::easeOut(1), 0);
    EXPECT_NEAR(out.value(0.5), 6.846431874274606, 1e-9);
    // Both first derivatives vanish at the start; the slope is the ratio of the second ones.
    EXPECT_NEAR(out.velocity(0), 10 / 0.58, 1e-6);

    Animated both(0);
    both.animate(1, Curve::easeInOut(1), 0);
    EXPECT_NEAR(both.value(0.25), 0.1291619310473198, 1e-9);
    EXPECT_NEAR(both.value(0.5), 0.5, 1e-12);
    EXPECT_NEAR(both.velocity(0), 0, 1e-9);

    Animated line(4);
    line.animate(8, Curve::linear(0.5), 1);
    EXPECT_DOUBLE_EQ(line.value(1.25), 6);
    EXPECT_DOUBLE_EQ(line.velocity(1.25), 8);
}

TEST(MotionCurveTest, SpringsAtChosenTimes) {
    Animated critical(0);
    critical.animate(1, Curve::spring(0.5, 1.0), 0);
    EXPECT_NEAR(critical.value(0.1), 0.35773955646956457, 1e-12);
    EXPECT_NEAR(critical.velocity(0.1), 4.494373762402091, 1e-9);

    Animated bouncy(0);
    bouncy.animate(10, Curve::spring(1, 0.5), 0);
    EXPECT_NEAR(bouncy.value(0.3), 7.994529886083104, 1e-9);
    EXPECT_NEAR(bouncy.velocity(0.3), 28.217024271227352, 1e-9);

    // Once it has died down it rests exactly at its target.
    EXPECT_TRUE(critical.isRunning(0.3));
    EXPECT_FALSE(critical.isRunning(3));
    EXPECT_EQ(critical.value(3), 1);
    EXPECT_EQ(critical.velocity(3), 0);
}

TEST(MotionCurveTest, RetargetedSpringKeepsValueAndVelocity) {
    Animated v(0);
    const auto spring = Curve::spring(0.5, 1.0);
    v.animate(1, spring, 0);
    const double before = v.value(0.1);
    const double speed = v.velocity(0.1);
    v.animate(2, spring, 0.1);
    EXPECT_EQ(v.target(), 2);
    EXPECT_DOUBLE_EQ(v.value(0.1), before);
    EXPECT_DOUBLE_EQ(v.velocity(0.1), speed);
    EXPECT_NEAR(v.value(0.2), 1.073155245555522, 1e-12);
    EXPECT_NEAR(v.velocity(0.2), 7.052657090599473, 1e-9);

    // The same target again changes nothing.
    const auto run = v.run();
    v.animate(2, Curve::easeIn(5), 0.15);
    EXPECT_EQ(v.run(), run);
}

TEST(MotionCurveTest, DegenerateLengthsArriveAtOnce) {
    for (const auto& curve :
         {Curve::none(), Curve::easeIn(0), Curve::linear(-1), Curve::spring(0, 1)}) {
        Animated v(3);
        v.animate(7, curve, 10);
        EXPECT_EQ(v.value(10), 7);
        EXPECT_FALSE(v.isRunning(10));
        EXPECT_FALSE(std::isnan(v.velocity(10)));
    }
}

TEST(MotionAnimatorTest, ReadsTheClockOncePerFrameAndAfreshPerAssignment) {
    double clock = 5;
    Motion::Animator animator([&] { return clock; });
    Animated v(0);
    clock = 6;
    animator.animate(v, 1, Curve::linear(1));
    EXPECT_EQ(animator.value(v), 0); // the frame is still the one read at 5
    clock = 6.25;
    EXPECT_EQ(animator.value(v), 0);
    EXPECT_EQ(animator.tick(), 6.25);
    EXPECT_DOUBLE_EQ(animator.value(v), 0.25);
    EXPECT_TRUE(animator.isRunning(v));
    clock = 7;
    animator.tick();
    EXPECT_EQ(animator.value(v), 1);
    EXPECT_FALSE(animator.isRunning(v));
}

} // namespace
} // namespace ostrel
