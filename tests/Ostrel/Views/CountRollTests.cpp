#include "Ostrel/Views/CountRoll.h"

#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

const QRectF badge(100, 0, 40, 32);

const CountRoll::Glyph* find(const std::vector<CountRoll::Glyph>& glyphs, const QString& text,
                             int nth = 0) {
    for (const auto& g : glyphs) {
        if (g.text == text && nth-- == 0) {
            return &g;
        }
    }
    return nullptr;
}

} // namespace

TEST(CountRoll, AChangedDigitLeavesUpwardsAsItsSuccessorRisesFromBelow) {
    const QFont& font = ShelfStyle::countFont();
    const double lift = CountRoll::travel(font);
    ASSERT_GT(lift, 4);
    const auto rest = CountRoll{"12", "12", 1}.glyphs(badge, font);
    ASSERT_EQ(rest.size(), 2u);
    const double baseline = rest[0].origin.y();

    // Halfway: the tens stay whole where they were, the units cross.
    const auto half = CountRoll{"12", "13", 0.5}.glyphs(badge, font);
    ASSERT_EQ(half.size(), 3u);
    EXPECT_EQ(*find(half, "1"), rest[1 - 1]);
    const auto* leaving = find(half, "2");
    const auto* coming = find(half, "3");
    ASSERT_TRUE(leaving && coming);
    EXPECT_DOUBLE_EQ(leaving->origin.y(), baseline - lift / 2);
    EXPECT_DOUBLE_EQ(coming->origin.y(), baseline + lift / 2);
    EXPECT_DOUBLE_EQ(leaving->opacity, 0.5);
    EXPECT_DOUBLE_EQ(coming->opacity, 0.5);
    EXPECT_DOUBLE_EQ(leaving->origin.x(), coming->origin.x());

    // Counting down rolls the same way: the old digit still leaves upwards.
    const auto down = CountRoll{"13", "12", 0.25}.glyphs(badge, font);
    EXPECT_LT(find(down, "3")->origin.y(), baseline);
    EXPECT_GT(find(down, "2")->origin.y(), baseline);

    // A spring's overshoot carries the new digit past its place; opacities stay within 0..1.
    const auto over = CountRoll{"12", "13", 1.1}.glyphs(badge, font);
    EXPECT_LT(find(over, "3")->origin.y(), baseline);
    EXPECT_DOUBLE_EQ(find(over, "3")->opacity, 1);
    EXPECT_DOUBLE_EQ(find(over, "2")->opacity, 0);

    // Done: exactly the new text, centred.
    const auto done = CountRoll{"12", "13", 1}.glyphs(badge, font);
    ASSERT_EQ(done.size(), 2u);
    const QFontMetricsF m(font);
    EXPECT_NEAR(done[0].origin.x(), badge.center().x() - m.horizontalAdvance("13") / 2, 1e-9);
}

TEST(CountRoll, PlacesMatchFromTheRightAndKeptDigitsGlideWhenTheWidthChanges) {
    const QFont& font = ShelfStyle::countFont();
    const QFontMetricsF m(font);
    // 9 -> 10: nothing is kept; the new tens digit fades in where it will stand.
    const auto start = CountRoll{"9", "10", 0}.glyphs(badge, font);
    ASSERT_EQ(start.size(), 3u);
    EXPECT_DOUBLE_EQ(find(start, "9")->opacity, 1);
    EXPECT_DOUBLE_EQ(find(start, "1")->opacity, 0);
    EXPECT_DOUBLE_EQ(find(start, "0")->opacity, 0);

    // 19 -> 109: the units 9 is kept and slides from its old centred place to its new one.
    const double from =
        badge.center().x() - m.horizontalAdvance("19") / 2 + m.horizontalAdvance("1");
    const double to =
        badge.center().x() - m.horizontalAdvance("109") / 2 + m.horizontalAdvance("10");
    const auto mid = CountRoll{"19", "109", 0.5}.glyphs(badge, font);
    const auto* nine = find(mid, "9");
    ASSERT_NE(nine, nullptr);
    EXPECT_DOUBLE_EQ(nine->opacity, 1);
    EXPECT_NEAR(nine->origin.x(), (from + to) / 2, 1e-9);
    // The old tens 1 meets the new tens 0 and leaves; the new hundreds 1 rises.
    EXPECT_LT(find(mid, "1", 0)->origin.y(), find(mid, "1", 1)->origin.y());

    // The capped text rolls like any other.
    const auto capped = CountRoll{"99", "99+", 0.5}.glyphs(badge, font);
    EXPECT_NE(find(capped, "+"), nullptr);
}
