#include "Ostrel/Surface/ShelfSignal.h"

#include "OstrelCore/Display/StripScroll.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ostrel;

namespace {

constexpr quint32 display = 7;

// A shelf signal over inputs the test sets directly, as the model would publish them.
struct Rig {
    ShelfSignal::Inputs inputs;
    Motion::Context motion;
    std::vector<bool> peekCalls;
    int arrivals = 1;
    std::vector<std::optional<QImage>> thumbs;
    ShelfSignal signal{display, ShelfSignal::Hooks{
                                    [this] { return inputs; },
                                    [this] { return motion; },
                                    [this](bool on) { peekCalls.push_back(on); },
                                    [this] { return arrivals; },
                                    [this](int n) {
                                        auto out = thumbs;
                                        if (static_cast<int>(out.size()) > n) {
                                            out.resize(static_cast<size_t>(n));
                                        }
                                        return out;
                                    },
                                }};

    // One snapshot that brings `unread` unread items, handled in the shelf's handler order.
    void arrive(int unread, double now) {
        inputs.signalUnread = unread;
        inputs.countWidth = inputs.signal == ArrivalSignal::count ? Motion::countWidth(unread) : 0;
        signal.advance(now);
        signal.arrivalChanged(now);
        signal.unreadChanged(unread, now);
    }
    double glowAt(double t) {
        signal.advance(t);
        return signal.glow().value(t);
    }
    double trailingAt(double t) {
        signal.advance(t);
        return signal.trailing().value(t);
    }
    double highlightAt(double t) {
        signal.advance(t);
        return signal.highlight().value(t);
    }
};

QImage solid(QColor c) {
    QImage image(4, 3, QImage::Format_ARGB32_Premultiplied);
    image.fill(c);
    return image;
}

} // namespace

TEST(ShelfSignal, TwoGlowPulsesRiseFallAndSettle) {
    Rig rig;
    rig.signal.refresh(false, 0);
    rig.arrive(1, 0);
    EXPECT_TRUE(rig.signal.pulsing());

    // Rising on an ease-out: past half way at half its 0.36 s.
    const double rising = rig.glowAt(0.18);
    EXPECT_GT(rising, 0.5);
    EXPECT_LT(rising, 1.0);
    EXPECT_DOUBLE_EQ(rig.glowAt(0.36), 1.0);
    EXPECT_DOUBLE_EQ(rig.glowAt(0.84), 0.75);
    EXPECT_DOUBLE_EQ(rig.glowAt(1.20), 1.0);
    EXPECT_TRUE(rig.signal.pulsing());
    EXPECT_DOUBLE_EQ(rig.glowAt(1.68), 0.75);
    EXPECT_FALSE(rig.signal.pulsing());
    EXPECT_FALSE(rig.signal.isBusy(2.40));
    EXPECT_DOUBLE_EQ(rig.glowAt(2.40), 0.75);
}

TEST(ShelfSignal, PulsesFollowTheMotionScaleAndIgnoreAnArrivalWhilePulsing) {
    Rig rig;
    rig.motion.scale = 2;
    rig.inputs.glowPulses = 1;
    rig.arrive(1, 10);
    EXPECT_DOUBLE_EQ(rig.glowAt(10.72), 1.0);
    // A second arrival during the pulse neither restarts nor lengthens it.
    rig.arrive(2, 11);
    EXPECT_DOUBLE_EQ(rig.glowAt(10 + 2 * 0.84), 0.75);
    EXPECT_FALSE(rig.signal.pulsing());
}

TEST(ShelfSignal, ReduceMotionOnlyFadesTheSignalIn) {
    Rig rig;
    rig.motion.reduceMotion = true;
    rig.arrive(1, 0);
    EXPECT_FALSE(rig.signal.pulsing());
    EXPECT_FALSE(rig.signal.nextDue().has_value());
    for (double t = 0; t < 1.5; t += 0.05) {
        EXPECT_LE(rig.glowAt(t), 0.75 + 1e-12) << t;
    }
    EXPECT_DOUBLE_EQ(rig.glowAt(1.5), 0.75);
}

TEST(ShelfSignal, CountArrivalOvershootsTheBadgeRoomThenSettles) {
    Rig rig;
    rig.inputs.signal = ArrivalSignal::count;
    rig.arrive(3, 0);
    // The unread handler that runs in the same update must not take the overshoot back.
    EXPECT_DOUBLE_EQ(rig.signal.trailing().target(), 24 + 6);
    EXPECT_GT(rig.trailingAt(0.21), 27);
    rig.signal.advance(0.22);
    EXPECT_DOUBLE_EQ(rig.signal.trailing().target(), 24);
    EXPECT_FALSE(rig.signal.pulsing());
    EXPECT_NEAR(rig.trailingAt(2.0), 24, 1e-3);

    // A later change of the count while nothing pulses resizes the room directly.
    rig.inputs.signalUnread = 120;
    rig.inputs.countWidth = Motion::countWidth(120);
    rig.signal.unreadChanged(120, 3);
    EXPECT_DOUBLE_EQ(rig.signal.trailing().target(), 38);
}

TEST(ShelfSignal, ReadingEverythingPutsTheSignalOut) {
    Rig rig;
    rig.arrive(2, 0);
    rig.inputs.signalUnread = 0;
    rig.signal.unreadChanged(0, 0.5);
    EXPECT_FALSE(rig.signal.pulsing());
    EXPECT_FALSE(rig.signal.nextDue().has_value());
    EXPECT_DOUBLE_EQ(rig.glowAt(0.5 + 0.3), 0);
}

TEST(ShelfSignal, StylePulseLightsTheHighlightOrTheGlow) {
    Rig rig;
    rig.signal.restartStylePulse(0);
    EXPECT_DOUBLE_EQ(rig.highlightAt(0.21), 0);
    EXPECT_FALSE(rig.signal.stylePulsing());
    EXPECT_DOUBLE_EQ(rig.highlightAt(0.22 + 0.36), 1.0);
    EXPECT_TRUE(rig.signal.stylePulsing());
    EXPECT_DOUBLE_EQ(rig.highlightAt(0.22 + 0.36 + 0.48), 0);
    EXPECT_FALSE(rig.signal.stylePulsing());

    // With unread items and the glow signal, the glow rises instead and returns to its rest.
    Rig lit;
    lit.inputs.signalUnread = 1;
    lit.signal.refresh(false, 0);
    lit.signal.restartStylePulse(0);
    EXPECT_DOUBLE_EQ(lit.glowAt(0.58), 1.0);
    EXPECT_DOUBLE_EQ(lit.highlightAt(0.58), 0);
    // No flash starts while the style pulse runs.
    lit.arrive(2, 0.6);
    EXPECT_FALSE(lit.signal.pulsing());
    EXPECT_DOUBLE_EQ(lit.glowAt(1.06), 0.75);
}

TEST(ShelfSignal, SinkingStopsEveryPulseAndEndsThePeek) {
    Rig rig;
    rig.inputs.style = DisplayStyle::pill(PillSide::left);
    rig.inputs.peekCard = QSizeF(132, 99);
    rig.arrive(1, 0);
    ASSERT_TRUE(rig.signal.peeking());
    rig.signal.restartStylePulse(0.1);
    rig.signal.sunkChanged(true, 0.2);
    EXPECT_FALSE(rig.signal.peeking());
    EXPECT_FALSE(rig.signal.nextDue().has_value());
    EXPECT_EQ(rig.peekCalls, (std::vector<bool>{true, false}));
    EXPECT_DOUBLE_EQ(rig.glowAt(2), 0);
}

TEST(ShelfSignal, PeekCollectsArrivalsAndEndsOnItsTimer) {
    Rig rig;
    rig.inputs.style = DisplayStyle::pill(PillSide::bottom);
    rig.inputs.peekCard = QSizeF(132, 99);
    rig.thumbs = {solid(Qt::red)};
    rig.arrive(1, 0);
    EXPECT_TRUE(rig.signal.peeking());
    EXPECT_FALSE(rig.signal.pulsing()); // a peek replaces the glow flash
    EXPECT_EQ(rig.signal.peekCount(), 1);

    rig.thumbs = {solid(Qt::green), std::nullopt};
    rig.arrivals = 2;
    rig.arrive(3, 1);
    ASSERT_EQ(rig.signal.peekImages().size(), 2u);
    EXPECT_EQ(rig.signal.peekImages()[0]->pixelColor(0, 0), QColor(Qt::green));
    EXPECT_FALSE(rig.signal.peekImages()[1].has_value());
    EXPECT_EQ(rig.signal.peekCount(), 3);

    // The timer restarted with the second arrival.
    rig.signal.advance(4.9);
    EXPECT_TRUE(rig.signal.peeking());
    rig.signal.advance(5.0);
    EXPECT_FALSE(rig.signal.peeking());
    EXPECT_EQ(rig.peekCalls, (std::vector<bool>{true, true, false}));

    // Without the pill preview the pill glows instead.
    rig.inputs.pillPreview = false;
    rig.arrive(4, 6);
    EXPECT_FALSE(rig.signal.peeking());
    EXPECT_TRUE(rig.signal.pulsing());
}

TEST(ShelfSignal, HoveringHoldsThePeekAndLeavingEndsItSoon) {
    Rig rig;
    rig.inputs.style = DisplayStyle::pill(PillSide::right);
    rig.arrive(1, 0);
    rig.signal.peekHoverChanged(display, 1);
    rig.signal.advance(100);
    EXPECT_TRUE(rig.signal.peeking());
    rig.signal.peekHoverChanged(std::nullopt, 100);
    rig.signal.advance(101.49);
    EXPECT_TRUE(rig.signal.peeking());
    rig.signal.advance(101.5);
    EXPECT_FALSE(rig.signal.peeking());
}

TEST(ShelfSignal, OpeningThisDisplayEndsItsPeekOnly) {
    Rig rig;
    rig.inputs.style = DisplayStyle::pill(PillSide::left);
    rig.arrive(1, 0);
    rig.signal.openChanged(display + 1, 0.5);
    EXPECT_TRUE(rig.signal.peeking());
    rig.signal.openChanged(display, 0.6);
    EXPECT_FALSE(rig.signal.peeking());
}

TEST(ShelfSignal, PeekCardDragResistsInwardAndTossesOutward) {
    Rig rig;
    rig.inputs.style = DisplayStyle::pill(PillSide::bottom);
    rig.inputs.peekCard = QSizeF(132, 99);
    rig.arrive(1, 0);

    // Inwards (up, for a bottom pill) the card follows with rubber-band resistance.
    rig.signal.cardDragged({0, -50}, {0, -50}, false, 0.1);
    EXPECT_DOUBLE_EQ(rig.signal.cardDrag().value(0.1), -RubberBand::band(50, 99, 0.55));
    EXPECT_GT(rig.signal.cardDrag().value(0.1), -30);
    // Outwards it follows the pointer exactly.
    rig.signal.cardDragged({5, 20}, {5, 20}, false, 0.2);
    EXPECT_DOUBLE_EQ(rig.signal.cardDrag().value(0.2), 20);

    // Released at 20 with a predicted end of 24: it springs back and stays.
    rig.signal.cardDragged({0, 20}, {0, 24}, true, 0.3);
    EXPECT_TRUE(rig.signal.peeking());
    EXPECT_DOUBLE_EQ(rig.signal.cardDrag().target(), 0);
    // A fling whose predicted end lies beyond 24 pt tosses it away.
    rig.signal.cardDragged({0, 10}, {0, 40}, true, 0.5);
    EXPECT_FALSE(rig.signal.peeking());

    // Without a layout a drag does nothing.
    rig.inputs.style.reset();
    rig.signal.cardDragged({0, 90}, {0, 90}, false, 1);
    EXPECT_DOUBLE_EQ(rig.signal.cardDrag().target(), 0);
}
