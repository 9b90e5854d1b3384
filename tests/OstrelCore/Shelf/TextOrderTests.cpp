#include "OstrelCore/Shelf/TextOrder.h"

#include "ShelfFixtures.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {
const QString composed = QStringLiteral("caf\u00E9");
const QString decomposed = QStringLiteral("cafe\u0301");
} // namespace

TEST(TextOrder, CanonicallyEquivalentSpellingsAreEqual) {
    EXPECT_TRUE(TextOrder::equivalent(composed, decomposed));
    EXPECT_EQ(TextOrder::key(composed), TextOrder::key(decomposed));
    // Decomposed, "e" + accent would sort before "f" by code units; composed, it sorts after.
    EXPECT_TRUE(TextOrder::less(QStringLiteral("caff"), decomposed));
    EXPECT_FALSE(TextOrder::less(decomposed, composed));
    EXPECT_FALSE(TextOrder::less(composed, decomposed));
}

TEST(TextOrder, CharactersBeyondTheBasicPlaneSortByScalar) {
    // UTF-16 puts the surrogate pair of U+1F600 before U+FF21; scalar order puts it after.
    const QString fullwidthA = QStringLiteral("\uFF21");
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    EXPECT_LT(emoji, fullwidthA); // what QString::operator< would do
    EXPECT_TRUE(TextOrder::less(fullwidthA, emoji));
    EXPECT_TRUE(TextOrder::less(QStringLiteral("a"), QStringLiteral("ab")));
    EXPECT_TRUE(TextOrder::equivalent(QString(), QString()));
}

TEST(TextOrder, SortIsIndependentOfInputOrder) {
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    QStringList one{emoji, decomposed, QStringLiteral("b"), composed, QStringLiteral("\uFF21")};
    QStringList two{composed, QStringLiteral("\uFF21"), QStringLiteral("b"), emoji, decomposed};
    TextOrder::sort(one);
    TextOrder::sort(two);
    EXPECT_EQ(one, two);
    EXPECT_EQ(one.first(), QStringLiteral("b"));
    EXPECT_EQ(one.last(), emoji);
}
