#include "Ostrel/Panels/GlowImage.h"
#include "Ostrel/Surface/Halo.h"
#include "Ostrel/Surface/PeekPile.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ostrel;

namespace {

// Counts renders and can refuse them, restoring the real renderer afterwards.
struct RendererSpy {
    std::vector<double> radii;
    bool refuse = false;
    RendererSpy() {
        HaloCache::clear();
        HaloCache::setRenderer([this](const QPainterPath&, const QRectF& lit, double radius,
                                      double pixels, const QColor&) -> std::optional<HaloImage> {
            radii.push_back(radius);
            if (refuse || lit.isEmpty() || !(pixels > 0)) {
                return std::nullopt;
            }
            QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::red);
            return HaloImage{image, lit.adjusted(-10, -10, 10, 10)};
        });
    }
    ~RendererSpy() {
        HaloCache::setRenderer({});
        HaloCache::clear();
    }
};

Halo halo(const QRectF& rect, double radius = 16) {
    return Halo{CornerShape::uniform(10), rect, Motion::GlowLook{radius, 28}, false, 1, 1};
}

} // namespace

TEST(Halo, ThinLineHoldsItsCoreToThreeThicknesses) {
    Halo line{
        CornerShape::uniform(2), QRectF(100, 50, 48, 4), Motion::GlowLook{16, 28}, true, 1, 1};
    EXPECT_EQ(line.coreRect(), QRectF(100, 46, 48, 12));
    line.bare = false;
    EXPECT_EQ(line.coreRect(), QRectF(100, 38, 48, 28));
    // A shape larger than the core keeps its rectangle.
    EXPECT_EQ(halo(QRectF(0, 0, 200, 20)).coreRect(), QRectF(0, -4, 200, 28));
    EXPECT_EQ(halo(QRectF(0, 0, 200, 40)).coreRect(), QRectF(0, 0, 200, 40));
}

TEST(Halo, CacheKeysOnRoundedRadiusAndPixelScale) {
    RendererSpy spy;
    ASSERT_TRUE(halo(QRectF(0, 0, 200, 40), 12.3).place(1));
    ASSERT_TRUE(halo(QRectF(0, 0, 200, 40), 12.4).place(1)); // same key: 12.5
    EXPECT_EQ(spy.radii, std::vector<double>{12.5});
    ASSERT_TRUE(halo(QRectF(0, 0, 200, 40), 12.2).place(1));
    EXPECT_EQ(spy.radii.back(), 12.0);
    // Another display's pixel scale is another bitmap.
    ASSERT_TRUE(halo(QRectF(0, 0, 200, 40), 12.2).place(2));
    EXPECT_EQ(HaloCache::count(), 3);
}

TEST(Halo, FullCacheStartsOverAndRefusedRendersAreNotKept) {
    RendererSpy spy;
    for (int i = 0; i < HaloCache::capacity; ++i) {
        ASSERT_TRUE(halo(QRectF(i, 0, 200, 40)).place(1));
    }
    EXPECT_EQ(HaloCache::count(), 24);
    ASSERT_TRUE(halo(QRectF(99, 0, 200, 40)).place(1));
    EXPECT_EQ(HaloCache::count(), 1);

    spy.refuse = true;
    EXPECT_FALSE(halo(QRectF(500, 0, 200, 40)).place(1));
    EXPECT_FALSE(halo(QRectF(500, 0, 200, 40)).place(1));
    EXPECT_EQ(spy.radii.size(), 24u + 1 + 2); // asked again: nothing was stored
    EXPECT_EQ(HaloCache::count(), 1);
    spy.refuse = false;
    EXPECT_FALSE(halo(QRectF(0, 0, 200, 40)).place(0));
}

TEST(Halo, SpreadGrowsBothAxesByTheSameDistance) {
    EXPECT_EQ(GlowGeometry::spreadScale(1, QRectF(0, 0, 200, 32), 16), QSizeF(1, 1));
    const QSizeF s = GlowGeometry::spreadScale(1.35, QRectF(0, 0, 200, 32), 16);
    EXPECT_GT(s.height(), s.width());
    EXPECT_DOUBLE_EQ(s.height(), 1.35); // the shorter axis spreads by the full factor
    RendererSpy spy;
    auto swollen = halo(QRectF(0, 0, 200, 32));
    swollen.spread = 1.35;
    const auto placed = swollen.place(1);
    ASSERT_TRUE(placed);
    EXPECT_NEAR(placed->target.center().x(), swollen.coreRect().center().x(), 1e-9);
}

TEST(Halo, RealRendererLeavesTheGlowAroundTheShape) {
    HaloCache::clear();
    const auto placed = halo(QRectF(100, 100, 200, 32)).place(2);
    ASSERT_TRUE(placed);
    const QImage& image = placed->image;
    EXPECT_EQ(image.width(), static_cast<int>(placed->target.width() * 2));
    // Bright next to the shape, fading to nothing at the bitmap's corner.
    const QPointF nearEdge((100 - placed->target.x() + 100) * 2,
                           (100 - placed->target.y() - 4) * 2);
    EXPECT_GT(qAlpha(image.pixel(nearEdge.toPoint())), 100);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    HaloCache::clear();
}

TEST(PeekPile, BehindCardsAndMarkers) {
    PeekPile pile{PeekPileStyle::fan, 1, DisplayStylePosition::bottom, QSizeF(132, 99), 1, {}};
    for (const auto style : {PeekPileStyle::fan, PeekPileStyle::count, PeekPileStyle::stack}) {
        pile.style = style;
        for (const int count : {0, 1}) {
            pile.count = count;
            EXPECT_EQ(pile.cards().size(), 1u);
            EXPECT_FALSE(pile.showsBadge());
        }
        pile.count = 150;
        EXPECT_EQ(pile.cards().size(), style == PeekPileStyle::count ? 1u : 2u);
        EXPECT_EQ(pile.showsBadge(), style == PeekPileStyle::count);
        // Front card drawn last, with the strongest outline.
        EXPECT_EQ(pile.cards().back().index, 0);
        EXPECT_DOUBLE_EQ(pile.cards().back().outlineOpacity, 0.8);
    }
}

TEST(PeekPile, FanTurnsAboutTheBottomCornerAwayFromTheEdge) {
    PeekPile pile{PeekPileStyle::fan, 2, DisplayStylePosition::left, QSizeF(132, 99), 1, {}};
    auto back = pile.cards().front();
    ASSERT_EQ(back.index, 1);
    // Left pill: clockwise about the bottom-leading corner, which stays put.
    EXPECT_EQ(back.transform.map(QPointF(0, 99)), QPointF(0, 99));
    EXPECT_GT(back.transform.map(QPointF(0, 0)).x(), 0);
    EXPECT_DOUBLE_EQ(back.darken, 0.2);

    pile.edge = DisplayStylePosition::right;
    back = pile.cards().front();
    const QPointF corner = back.transform.map(QPointF(132, 99));
    EXPECT_NEAR(corner.x(), 132, 1e-9);
    EXPECT_NEAR(corner.y(), 99, 1e-9);
    EXPECT_LT(back.transform.map(QPointF(132, 0)).x(), 132);

    pile.edge = DisplayStylePosition::bottom;
    back = pile.cards().front();
    EXPECT_EQ(back.transform.map(QPointF(0, 99)), QPointF(0, 99));
    EXPECT_LT(back.transform.map(QPointF(0, 0)).x(), 0);
}

TEST(PeekPile, StackShiftsUpAndAwayFromARightEdge) {
    PeekPile pile{PeekPileStyle::stack, 2, DisplayStylePosition::right, QSizeF(132, 99), 1, {}};
    auto back = pile.cards().front();
    EXPECT_EQ(back.transform.map(QPointF(66, 49.5)), QPointF(58, 41.5));
    EXPECT_NEAR(back.transform.map(QPointF(0, 0)).x(), -8 + 66 * 0.03, 1e-9);
    EXPECT_DOUBLE_EQ(back.outlineOpacity, 0.6);
    EXPECT_DOUBLE_EQ(back.darken, 0.1);
    pile.edge = DisplayStylePosition::left;
    EXPECT_EQ(pile.cards().front().transform.map(QPointF(66, 49.5)), QPointF(74, 41.5));
}

TEST(PeekPile, SmallScaleKeepsAVisibleOutline) {
    PeekPile pile{PeekPileStyle::count, 5, DisplayStylePosition::left, QSizeF(53, 40), 0.4, {}};
    EXPECT_DOUBLE_EQ(pile.outlineWidth(), 0.75);
    EXPECT_DOUBLE_EQ(pile.corner(), 4);
    EXPECT_GE(pile.badgeRect().width(), 6);
}
