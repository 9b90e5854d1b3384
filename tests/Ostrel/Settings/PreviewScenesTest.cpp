#include "Ostrel/Settings/DisplayStylePreview.h"
#include "Ostrel/Settings/LayoutPreview.h"
#include "Ostrel/Settings/SignalPreview.h"
#include "PreviewSupport.h"
#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

constexpr double near = 0.02;

PreviewDisplay pillDisplay(PillSide side) {
    const QRectF frame(0, 0, 1440, 900);
    return PreviewDisplay::make(DisplayStyleChoice::pill(side), frame, QRectF(0, 0, 1440, 870),
                                std::nullopt, DockSide::bottom);
}

void expectNear(const QPointF& a, const QPointF& b) {
    EXPECT_NEAR(a.x(), b.x(), 0.05) << a.x() << "," << a.y() << " vs " << b.x() << "," << b.y();
    EXPECT_NEAR(a.y(), b.y(), 0.05) << a.x() << "," << a.y() << " vs " << b.x() << "," << b.y();
}

using LayoutPreviewTest = PreviewFixture;

TEST_F(LayoutPreviewTest, ZoomFillsTheFrameAndFollowsTheDrawerOnSidePills) {
    const PreviewDisplay notch = PreviewDisplay::standard();
    const MiniSpace rail = LayoutPreview::spaceFor(notch, ShelfLayoutKind::rail);
    EXPECT_EQ(rail, LayoutPreview::spaceFor(notch, ShelfLayoutKind::stacks));
    EXPECT_NEAR(rail.size().width(), 160, 1e-9);
    EXPECT_NEAR(rail.size().height(), 100, 1e-9);
    // The viewport touches the top of the screen.
    EXPECT_NEAR(rail.viewport.bottom(), 982, 1e-9);

    const PreviewDisplay left = pillDisplay(PillSide::left);
    const MiniSpace column = LayoutPreview::spaceFor(left, ShelfLayoutKind::column);
    const MiniSpace side = LayoutPreview::spaceFor(left, ShelfLayoutKind::sideStacks);
    EXPECT_NEAR(column.size().width(), 160, 1e-9);
    EXPECT_NEAR(column.size().height(), 100, 1e-9);
    EXPECT_EQ(column.viewport.x(), 0);
    EXPECT_NE(column.scale, side.scale);
    // The right pill's viewport ends at the screen's right edge.
    const MiniSpace right =
        LayoutPreview::spaceFor(pillDisplay(PillSide::right), ShelfLayoutKind::column);
    EXPECT_NEAR(right.viewport.right(), 1440, 1e-9);
}

TEST_F(LayoutPreviewTest, PointerTargetsLieInsideTheOpenDrawerOneRowApart) {
    for (const PreviewDisplay& display :
         {PreviewDisplay::standard(), pillDisplay(PillSide::bottom), pillDisplay(PillSide::left)}) {
        for (const ShelfLayoutKind kind : allShelfLayoutKinds) {
            if (isSide(display.layout.style().position()) !=
                (kind == ShelfLayoutKind::column || kind == ShelfLayoutKind::sideStacks)) {
                continue;
            }
            const MiniSpace space = LayoutPreview::spaceFor(display, kind);
            const QRectF drawer =
                space.map(display.layout.drawerRect(display.layout.drawerSize(kind), 0));
            const QPointF first = LayoutPreview::pointerTarget(display, kind, space, false);
            const QPointF second = LayoutPreview::pointerTarget(display, kind, space, true);
            EXPECT_TRUE(drawer.contains(first)) << rawValue(kind).toStdString();
            const bool list = kind == ShelfLayoutKind::rail || kind == ShelfLayoutKind::column;
            EXPECT_NEAR(second.y() - first.y(), list ? 42 * space.scale : 0, 1e-9);
        }
    }
}

TEST_F(LayoutPreviewTest, SelectionScriptClicksBetweenTheFirstTwoRows) {
    auto* preview = adopt(new LayoutPreview(PreviewDisplay::standard(), LayoutChoice::rail));
    const MiniSpace space = preview->space();
    const QPointF row0 =
        LayoutPreview::pointerTarget(preview->display(), ShelfLayoutKind::rail, space, false);
    const QPointF row1 =
        LayoutPreview::pointerTarget(preview->display(), ShelfLayoutKind::rail, space, true);
    at(preview, 0.9);
    expectNear(preview->pointerAt(0.9), LayoutPreview::restPoint);
    EXPECT_EQ(preview->pointer()->opacity(), 1);
    at(preview, 1.5);
    expectNear(preview->pointerAt(1.5), row1);
    EXPECT_EQ(preview->beat(1.5), 0);
    at(preview, 1.7);
    EXPECT_EQ(preview->beat(1.7), 1);
    // The next click goes back to the first row, 3.3 s after the first.
    at(preview, 4.3);
    at(preview, 4.8);
    expectNear(preview->pointerAt(4.8), row0);
    at(preview, 5.0);
    EXPECT_EQ(preview->beat(5.0), 0);
}

TEST_F(LayoutPreviewTest, StackScriptLiftsPressesOpensAndClosesWithEsc) {
    auto* preview = adopt(new LayoutPreview(PreviewDisplay::standard(), LayoutChoice::stacks));
    EXPECT_EQ(preview->kind(), ShelfLayoutKind::stacks);
    at(preview, 1.5);
    EXPECT_EQ(preview->lifted(1.5), 0);
    at(preview, 1.8);
    EXPECT_GT(preview->lifted(1.8), 0.6);
    at(preview, 1.9);
    EXPECT_GT(preview->pressed(1.9), 0.2);
    at(preview, 3.5);
    EXPECT_NEAR(preview->beat(3.5), 1, near);
    EXPECT_NEAR(preview->pressed(3.5), 0, near);
    EXPECT_FALSE(preview->escaping());
    at(preview, 4.3);
    EXPECT_TRUE(preview->escaping());
    EXPECT_EQ(preview->keyCap()->opacity(), 1);
    expectNear(preview->pointerAt(4.3), LayoutPreview::restPoint);
    at(preview, 4.8);
    EXPECT_FALSE(preview->escaping());
    EXPECT_NEAR(preview->beat(4.8), 0, near);
}

TEST_F(LayoutPreviewTest, ANewArrangementRestartsFromTheStillStateAndHidingStops) {
    auto* preview = adopt(new LayoutPreview(PreviewDisplay::standard(), LayoutChoice::rail));
    at(preview, 2.0);
    EXPECT_EQ(preview->beat(2.0), 1);
    preview->setInputs(PreviewDisplay::standard(), LayoutChoice::stacks);
    EXPECT_EQ(preview->beat(2.0), 0);
    EXPECT_DOUBLE_EQ(preview->player().nextDue(), 3.0);
    // The new arrangement fades in over the old one for 0.18 s.
    EXPECT_EQ(preview->shelf()->state().fromKind, ShelfLayoutKind::rail);
    EXPECT_EQ(preview->kindShare(2.0), 0);
    at(preview, 2.1);
    keep(preview, QStringLiteral("layout-crossfade"));
    EXPECT_GT(preview->shelf()->state().kindShare, 0.3);
    EXPECT_LT(preview->shelf()->state().kindShare, 0.7);
    at(preview, 2.18);
    EXPECT_EQ(preview->shelf()->state().kindShare, 1);
    EXPECT_FALSE(preview->shelf()->state().fromKind.has_value());

    setPreviewsPlaying(host.get(), false);
    EXPECT_FALSE(preview->player().running());
    EXPECT_EQ(preview->pointer()->opacity(), 0);
    at(preview, 10);
    EXPECT_EQ(preview->lifted(10), 0);
    EXPECT_EQ(preview->shelf()->state().progress, 1);
}

using SignalPreviewTest = PreviewFixture;

TEST_F(SignalPreviewTest, GlowPulsesThenRestsThenFades) {
    auto* preview = adopt(new SignalPreview(PreviewDisplay::standard(), {}));
    EXPECT_DOUBLE_EQ(preview->restLevel(), 0.75);
    at(preview, 0.9);
    EXPECT_EQ(preview->glow(0.9), 0);
    EXPECT_EQ(preview->count(0.9), 0);
    at(preview, 1.36);
    EXPECT_NEAR(preview->glow(1.36), 1.0, 1e-9);
    EXPECT_EQ(preview->count(1.36), 3);
    at(preview, 1.84);
    EXPECT_NEAR(preview->glow(1.84), 0.75, 1e-9);
    at(preview, 2.2);
    EXPECT_NEAR(preview->glow(2.2), 1.0, 1e-9);
    at(preview, 4.4);
    EXPECT_NEAR(preview->glow(4.4), 0.75, near);
    at(preview, 4.9);
    EXPECT_EQ(preview->glow(4.9), 0);
    EXPECT_EQ(preview->count(4.9), 0);
    // 4.48 s a round: the next one lights again.
    at(preview, 5.48 + 0.36);
    EXPECT_NEAR(preview->glow(5.84), 1.0, 1e-9);
}

TEST_F(SignalPreviewTest, CountPopsOutBeyondItsRoomAndSettles) {
    SignalPreview::Inputs inputs;
    inputs.signal = ArrivalSignal::count;
    auto* preview = adopt(new SignalPreview(PreviewDisplay::standard(), inputs));
    EXPECT_EQ(preview->badgeRoom(), 24);
    at(preview, 1.0);
    at(preview, 1.22);
    EXPECT_GT(preview->trailing(1.22), 24);
    at(preview, 2.5);
    EXPECT_NEAR(preview->trailing(2.5), 24, near);
    EXPECT_EQ(preview->shelf()->state().count, 3);
    EXPECT_FALSE(preview->shelf()->state().halo);
}

TEST_F(SignalPreviewTest, PillWithPreviewSlidesThePileOutForFourSeconds) {
    SignalPreview::Inputs inputs;
    inputs.pillPreview = true;
    auto* preview = adopt(new SignalPreview(pillDisplay(PillSide::bottom), inputs));
    EXPECT_TRUE(preview->peek());
    at(preview, 1.0);
    at(preview, 2.0);
    EXPECT_NEAR(preview->peeking(2.0), 1, near);
    // No pulses: the glow only fades in.
    EXPECT_LT(preview->glow(2.0), 0.75 + 1e-9);
    at(preview, 4.9);
    EXPECT_NEAR(preview->peeking(4.9), 1, near);
    at(preview, 5.0);
    at(preview, 5.3);
    EXPECT_NEAR(preview->peeking(5.3), 0, 1e-9);
}

TEST_F(SignalPreviewTest, StrengthMovesALitGlowWithoutRestartingWhilePulsesRestart) {
    auto* preview = adopt(new SignalPreview(PreviewDisplay::standard(), {}));
    at(preview, 3.5);
    const double due = preview->player().nextDue();
    SignalPreview::Inputs strong;
    strong.strength = GlowStrength::strong;
    preview->setInputs(PreviewDisplay::standard(), strong);
    EXPECT_DOUBLE_EQ(preview->player().nextDue(), due);
    at(preview, 3.5 + 0.36);
    // The glow widens towards the strong look (radius 16 to 22) meanwhile.
    EXPECT_NEAR(preview->shelf()->state().strength.radius, 19, 0.5);
    at(preview, 3.5 + 0.72);
    EXPECT_NEAR(preview->glow(4.22), 0.85, 1e-9);
    EXPECT_EQ(preview->shelf()->state().strength, Motion::glowLook(GlowStrength::strong));

    SignalPreview::Inputs three = strong;
    three.pulses = 3;
    preview->setInputs(PreviewDisplay::standard(), three);
    EXPECT_EQ(preview->glow(4.22), 0);
    EXPECT_DOUBLE_EQ(preview->player().nextDue(), 5.22);
}

TEST_F(SignalPreviewTest, StillFrameShowsTheRestingSignal) {
    setPreviewsPlaying(host.get(), false);
    SignalPreview::Inputs inputs;
    inputs.signal = ArrivalSignal::count;
    auto* preview = adopt(new SignalPreview(PreviewDisplay::standard(), inputs));
    at(preview, 5);
    EXPECT_EQ(preview->count(5), 3);
    EXPECT_EQ(preview->trailing(5), 24);
    EXPECT_EQ(preview->glow(5), 0.75);
    EXPECT_EQ(preview->peeking(5), 0);
}

TEST_F(SignalPreviewTest, ViewportStaysOnTheScreen) {
    const PreviewDisplay narrow =
        PreviewDisplay::make(DisplayStyleChoice::notch(), QRectF(0, 0, 200, 150),
                             QRectF(0, 0, 200, 150), std::nullopt, DockSide::bottom);
    const MiniSpace space = SignalPreview::spaceFor(narrow);
    EXPECT_EQ(space.viewport.topLeft(), QPointF(0, 0));
    const MiniSpace right = SignalPreview::spaceFor(pillDisplay(PillSide::right));
    EXPECT_NEAR(right.viewport.right(), 1440, 1e-9);
    EXPECT_NEAR(right.size().width(), 160, 1e-9);
}

using DisplayStylePreviewTest = PreviewFixture;

TEST_F(DisplayStylePreviewTest, HoverScriptWaitsTheStylesDwellBeforeOpening) {
    DisplayStylePreview::Inputs inputs;
    inputs.dwellMs = 120;
    auto* preview = adopt(new DisplayStylePreview(pillDisplay(PillSide::bottom), inputs));
    // A pill waits at least 0.35 s.
    at(preview, 1.5);
    expectNear(preview->pointerAt(1.5), preview->hotPoint());
    at(preview, 1.84);
    EXPECT_EQ(preview->progress(1.84), 0);
    at(preview, 1.86);
    at(preview, 3.2);
    EXPECT_NEAR(preview->progress(3.2), 1, near);
    // Pointer leaves at 3.65, the shelf closes after the 0.2 s grace.
    at(preview, 3.8);
    EXPECT_NEAR(preview->progress(3.8), 1, near);
    at(preview, 3.86);
    at(preview, 4.8);
    EXPECT_NEAR(preview->progress(4.8), 0, near);
    expectNear(preview->pointerAt(4.8), preview->restPoint());
    EXPECT_EQ(preview->keyCap()->opacity(), 0);
}

TEST_F(DisplayStylePreviewTest, HotKeyScriptShowsTheKeyCapWhileOpening) {
    DisplayStylePreview::Inputs inputs;
    inputs.hover = false;
    inputs.hotkey = QStringLiteral("Alt+Space");
    auto* preview = adopt(new DisplayStylePreview(PreviewDisplay::standard(), inputs));
    at(preview, 1.0);
    EXPECT_TRUE(preview->pressed());
    EXPECT_EQ(preview->keyCap()->opacity(), 1);
    EXPECT_EQ(preview->pointer()->opacity(), 0);
    expectNear(preview->keyCap()->pos(), preview->keyPoint());
    // A new shortcut changes the label, not the loop.
    const double due = preview->player().nextDue();
    inputs.hotkey = QStringLiteral("Ctrl+K");
    preview->setInputs(PreviewDisplay::standard(), inputs);
    EXPECT_EQ(preview->keyCap()->text(), QStringLiteral("Ctrl+K"));
    EXPECT_DOUBLE_EQ(preview->player().nextDue(), due);
    at(preview, 2.8);
    EXPECT_FALSE(preview->pressed());
    at(preview, 3.3);
    at(preview, 4.2);
    EXPECT_NEAR(preview->progress(4.2), 0, near);
    // A new dwell does restart it.
    inputs.dwellMs = 600;
    preview->setInputs(PreviewDisplay::standard(), inputs);
    EXPECT_FALSE(preview->pressed());
    EXPECT_DOUBLE_EQ(preview->player().nextDue(), 5.2);
}

TEST_F(DisplayStylePreviewTest, StillFrameIsTheOpenShelfWithoutPointer) {
    setPreviewsPlaying(host.get(), false);
    auto* preview = adopt(new DisplayStylePreview(PreviewDisplay::standard(), {}));
    at(preview, 3);
    EXPECT_EQ(preview->progress(3), 1);
    EXPECT_EQ(preview->pointer()->opacity(), 0);
}

TEST_F(DisplayStylePreviewTest, PointerStaysOnTheDrawnScreenAtATopHotZone) {
    auto* preview = adopt(new DisplayStylePreview(PreviewDisplay::standard(), {}));
    const QPointF hot = preview->hotPoint();
    EXPECT_GE(hot.y(), 1);
    EXPECT_LE(hot.x(), preview->space().size().width() - 7);
}

} // namespace
} // namespace ostrel::test
