#include "Ostrel/Settings/MiniShelf.h"
#include "Ostrel/Settings/MiniSpace.h"
#include "Ostrel/Settings/PreviewDisplay.h"
#include "Ostrel/Settings/PreviewPlayer.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

const QRectF frame(0, 0, 1000, 600);

TEST(PreviewDisplayTest, StandardScreenIsANotchScreenWithTopBarAndNoPanel) {
    const PreviewDisplay d = PreviewDisplay::standard();
    EXPECT_TRUE(d.layout.style().isNotch());
    EXPECT_EQ(d.layout.screenFrame(), QRectF(0, 0, 1512, 982));
    EXPECT_EQ(d.notch, QRectF(663, 950, 186, 32));
    EXPECT_EQ(d.menuBar, QRectF(0, 950, 1512, 32));
    EXPECT_FALSE(d.dock.has_value());
}

TEST(PreviewDisplayTest, PanelAndTopBarFollowTheVisibleFrame) {
    // Panel on the left, 60 points wide; top bar 30 high.
    const QRectF visible(60, 0, 940, 570);
    const PreviewDisplay left = PreviewDisplay::make(DisplayStyleChoice::notch(), frame, visible,
                                                     std::nullopt, DockSide::left);
    EXPECT_EQ(left.dock, QRectF(0, 300 - 180, 60, 360));
    EXPECT_EQ(left.menuBar, QRectF(0, 570, 1000, 30));
    // Without a housing the notch choice becomes the hover notch.
    EXPECT_TRUE(left.layout.style().isHoverNotch());
    EXPECT_FALSE(left.notch.has_value());

    // The panel's side leaves no room there: it is hidden.
    EXPECT_FALSE(PreviewDisplay::make(DisplayStyleChoice::notch(), frame, visible, std::nullopt,
                                      DockSide::right)
                     .dock.has_value());
    const PreviewDisplay bottom =
        PreviewDisplay::make(DisplayStyleChoice::pill(PillSide::right), frame,
                             QRectF(0, 40, 1000, 560), std::nullopt, DockSide::bottom);
    EXPECT_EQ(bottom.dock, QRectF(200, 0, 600, 40));
    EXPECT_FALSE(bottom.menuBar.has_value());
    EXPECT_EQ(bottom.layout.style(), DisplayStyle::pill(PillSide::right));

    const PreviewDisplay housed =
        PreviewDisplay::make(DisplayStyleChoice::notch(), frame, QRectF(0, 0, 1000, 570),
                             QRectF(400, 570, 200, 30), DockSide::bottom);
    EXPECT_TRUE(housed.layout.style().isNotch());
    EXPECT_EQ(housed.notch, QRectF(400, 570, 200, 30));
}

TEST(PreviewDisplayTest, PanelSideIsTheLargestGapBesidesTheTop) {
    EXPECT_EQ(PreviewDisplay::dockSide(frame, QRectF(0, 0, 1000, 570)), DockSide::bottom);
    EXPECT_EQ(PreviewDisplay::dockSide(frame, QRectF(48, 0, 952, 570)), DockSide::left);
    EXPECT_EQ(PreviewDisplay::dockSide(frame, QRectF(0, 0, 950, 600)), DockSide::right);
    EXPECT_EQ(PreviewDisplay::dockSide(frame, QRectF(0, 40, 960, 560)), DockSide::bottom);
}

TEST(MiniSpaceTest, MapsScreenRectanglesIntoTheViewportFlippingY) {
    const MiniSpace space{QRectF(100, 200, 400, 250), 0.5};
    EXPECT_EQ(space.map(QRectF(100, 400, 40, 50)), QRectF(0, 0, 20, 25));
    EXPECT_EQ(space.map(QRectF(300, 200, 10, 10)), QRectF(100, 120, 5, 5));
    EXPECT_EQ(space.size(), QSizeF(200, 125));
}

TEST(MiniShelfTest, PillLineKeepsItsSizeAndClearanceAtSmallScales) {
    const QRectF resting(0, 40, 13, 10);
    const QRectF line = MiniShelf::pillLineRect(DisplayStylePosition::left, resting, 0.1);
    EXPECT_DOUBLE_EQ(line.height(), 10);
    EXPECT_DOUBLE_EQ(line.width(), 2);
    // 3 points from the edge the pill sits on.
    EXPECT_DOUBLE_EQ(line.x(), 2);
    const QRectF big =
        MiniShelf::pillLineRect(DisplayStylePosition::bottom, QRectF(0, 0, 132, 99), 1.0);
    EXPECT_DOUBLE_EQ(big.width(), 48);
    EXPECT_DOUBLE_EQ(big.height(), 4);
    EXPECT_DOUBLE_EQ(big.bottom(), 99);
}

// A scene that records what ran and when.
struct Recorder {
    std::vector<std::pair<char, double>> log;

    PreviewPlayer::Scene scene() {
        PreviewPlayer::Scene s;
        s.reset = [this] { log.push_back({'r', -1}); };
        s.still = [this] { log.push_back({'s', -1}); };
        s.leadIn = 1.0;
        s.loop = {[this](double at) {
                      log.push_back({'a', at});
                      return 0.5;
                  },
                  [this](double at) {
                      log.push_back({'b', at});
                      return 0.0;
                  },
                  [this](double at) {
                      log.push_back({'c', at});
                      return 2.0;
                  }};
        return s;
    }
};

TEST(PreviewPlayerTest, LoopsAfterItsLeadInWithScaledWaits) {
    Recorder r;
    PreviewPlayer player;
    EXPECT_TRUE(player.start(PlayKey{true, false, QStringLiteral("x")}, r.scene(), 10, 2.0));
    player.advance(11.9);
    EXPECT_EQ(r.log.size(), 1u); // only the reset
    player.advance(12.0);
    player.advance(13.0);
    player.advance(18.0);
    const std::vector<std::pair<char, double>> expected{{'r', -1}, {'a', 12}, {'b', 13}, {'c', 13},
                                                        {'a', 17}, {'b', 18}, {'c', 18}};
    EXPECT_EQ(r.log, expected);
}

TEST(PreviewPlayerTest, StillFrameWhenNotPlayingOrReducingMotion) {
    for (const PlayKey& key : {PlayKey{false, false, {}}, PlayKey{true, true, {}}}) {
        Recorder r;
        PreviewPlayer player;
        player.start(key, r.scene(), 0, 1);
        player.advance(100);
        const std::vector<std::pair<char, double>> expected{{'r', -1}, {'s', -1}};
        EXPECT_EQ(r.log, expected);
        EXPECT_FALSE(player.running());
    }
}

TEST(PreviewPlayerTest, OnlyANewKeyRestartsAndAStoppedLoopAppliesNothingMore) {
    Recorder r;
    PreviewPlayer player;
    const PlayKey key{true, false, QStringLiteral("glow 2")};
    player.start(key, r.scene(), 0, 1);
    player.advance(1.2);
    EXPECT_FALSE(player.start(key, r.scene(), 1.2, 1));
    EXPECT_TRUE(player.start(PlayKey{true, false, QStringLiteral("glow 3")}, r.scene(), 1.3, 1));
    // Restarted from the reset and the lead-in.
    player.advance(2.2);
    EXPECT_EQ(r.log.back().first, 'r');
    player.advance(2.3);
    EXPECT_EQ(r.log.back(), (std::pair<char, double>{'a', 2.3}));
    player.stop();
    const auto size = r.log.size();
    player.advance(50);
    EXPECT_EQ(r.log.size(), size);
}

TEST(PreviewPlayerTest, ALongGapResumesFromNowInsteadOfReplayingEveryStep) {
    Recorder r;
    PreviewPlayer player;
    player.start(PlayKey{true, false, {}}, r.scene(), 0, 1);
    player.advance(1000);
    // The first due step runs once at the present, not hundreds of missed rounds.
    EXPECT_LE(r.log.size(), 4u);
}

} // namespace
} // namespace ostrel
