#include "OstrelCore/Shelf/CollapsedSections.h"
#include "OstrelCore/Shelf/DeckFan.h"

#include "ShelfFixtures.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::fixtures;
using Direction = ShelfSelection::Direction;

namespace {

Turn turn(const QString& id, const QStringList& itemIDs) {
    Turn t;
    t.id = id;
    for (const QString& itemID : itemIDs) {
        t.items.append(item(itemID, QStringLiteral("s"), id, 0));
    }
    return t;
}

SessionGroup group(const QString& id, QList<Turn> turns) {
    return SessionGroup{session(id, 0, 0), std::move(turns), Date()};
}

// Session A: turns t1 (a1 a2) and t2 (a3); session B: turn t3 (b1).
QList<SessionGroup> shelf() {
    return {group("A", {turn("t1", {"a1", "a2"}), turn("t2", {"a3"})}),
            group("B", {turn("t3", {"b1"})})};
}

QString step(const QString& from, Direction d, const QList<QStringList>& sections, qint64 c) {
    return ShelfSelection::move(from, d, sections, c).value_or(QStringLiteral("<none>"));
}

} // namespace

TEST(CollapsedSections, ToggleAndPrune) {
    CollapsedSections collapsed;
    collapsed.toggle("t1");
    EXPECT_TRUE(collapsed.contains("t1"));
    collapsed.toggle("A");
    collapsed.toggle("t1");
    EXPECT_EQ(collapsed.ids, QSet<QString>{"A"});
    collapsed.prune({"B", "t1"});
    EXPECT_TRUE(collapsed.ids.isEmpty());
    collapsed.toggle("t1");
    collapsed.prune({});
    EXPECT_TRUE(collapsed.ids.isEmpty());
}

TEST(CollapsedSections, RailWalksOpenTurnsOfTheSelectedGroupOnly) {
    CollapsedSections collapsed;
    const auto groups = shelf();
    EXPECT_TRUE(collapsed.selection(ShelfLayoutKind::rail, groups, nullptr).sections.isEmpty());
    EXPECT_FALSE(collapsed.canSelect("a1", ShelfLayoutKind::column, groups, nullptr));
    EXPECT_FALSE(ShelfSelection::move(std::nullopt, Direction::down, {}, 3).has_value());

    collapsed.toggle("t1");
    collapsed.toggle("B"); // a session id means nothing to the rail
    const auto frame = collapsed.selection(ShelfLayoutKind::rail, groups, &groups[0]);
    EXPECT_EQ(frame.sections, QList<QStringList>{{"a3"}});
    EXPECT_EQ(frame.columns, 3);
    EXPECT_FALSE(collapsed.canSelect("a1", ShelfLayoutKind::rail, groups, &groups[0]));
    EXPECT_TRUE(collapsed.canSelect("a3", ShelfLayoutKind::rail, groups, &groups[0]));
    EXPECT_FALSE(collapsed.canSelect("b1", ShelfLayoutKind::rail, groups, &groups[0]));
}

TEST(CollapsedSections, StacksWalkOneStripOfOpenSessions) {
    CollapsedSections collapsed;
    const auto groups = shelf();
    collapsed.toggle("t1"); // a turn id means nothing to the strip
    auto frame = collapsed.selection(ShelfLayoutKind::stacks, groups, nullptr);
    EXPECT_EQ(frame.sections, (QList<QStringList>{{"a1", "a2", "a3", "b1"}}));
    EXPECT_EQ(frame.columns, 0);
    EXPECT_TRUE(collapsed.canSelect("a1", ShelfLayoutKind::stacks, groups, nullptr));

    collapsed.toggle("A");
    frame = collapsed.selection(ShelfLayoutKind::sideStacks, groups, &groups[1]);
    EXPECT_EQ(frame.sections, QList<QStringList>{{"b1"}});
    EXPECT_EQ(frame.columns, 1);
    EXPECT_FALSE(collapsed.canSelect("a3", ShelfLayoutKind::stacks, groups, nullptr));
}

TEST(ShelfSelectionMove, NoSelectionOrUnknownSelectionGoesToFirst) {
    const QList<QStringList> sections{{}, {"x", "y"}};
    for (const Direction d : {Direction::left, Direction::right, Direction::up, Direction::down}) {
        EXPECT_EQ(ShelfSelection::move(std::nullopt, d, sections, 3), QStringLiteral("x"));
        EXPECT_EQ(step("zz", d, sections, 3), QStringLiteral("x"));
    }
    EXPECT_FALSE(ShelfSelection::move(QStringLiteral("x"), Direction::left, {{}, {}}, 3));
}

TEST(ShelfSelectionMove, LeftAndRightCrossSectionsWithoutWrapping) {
    const QList<QStringList> sections{{"a", "b"}, {}, {"c"}};
    EXPECT_EQ(step("b", Direction::right, sections, 3), QStringLiteral("c"));
    EXPECT_EQ(step("c", Direction::left, sections, 3), QStringLiteral("b"));
    EXPECT_EQ(step("a", Direction::left, sections, 3), QStringLiteral("a"));
    EXPECT_EQ(step("c", Direction::right, sections, 3), QStringLiteral("c"));
}

TEST(ShelfSelectionMove, UpAndDownKeepTheColumnAndClampToShortRows) {
    const QStringList five{"0", "1", "2", "3", "4"};
    const QList<QStringList> withNext{five, {"n0", "n1", "n2"}};
    const QList<QStringList> withShortNext{five, {"n0"}};
    EXPECT_EQ(step("2", Direction::down, withNext, 3), QStringLiteral("4"));
    EXPECT_EQ(step("4", Direction::down, withNext, 3), QStringLiteral("n1"));
    EXPECT_EQ(step("4", Direction::down, withShortNext, 3), QStringLiteral("n0"));
    EXPECT_EQ(step("4", Direction::down, {five}, 3), QStringLiteral("4"));
    EXPECT_EQ(step("4", Direction::up, withNext, 3), QStringLiteral("1"));
    EXPECT_EQ(step("1", Direction::up, withNext, 3), QStringLiteral("1"));

    // Up from column 1 of the next section: the previous section's last row, same column...
    EXPECT_EQ(step("n1", Direction::up, {five, {"n0", "n1"}}, 3), QStringLiteral("4"));
    // ...or its last item when that row is shorter.
    EXPECT_EQ(step("n2", Direction::up, {five, {"n0", "n1", "n2"}}, 3), QStringLiteral("4"));
    EXPECT_EQ(step("n1", Direction::up, {{"p0", "p1", "p2", "p3"}, {"n0", "n1"}}, 3),
              QStringLiteral("p3"));
}

TEST(ShelfSelectionMove, UnboundedColumnsKeepUpAndDownStillWithoutOverflow) {
    const QList<QStringList> sections{{"a", "b"}, {"c"}};
    for (const qint64 c : {qint64(0), qint64(-5)}) {
        EXPECT_EQ(step("b", Direction::up, sections, c), QStringLiteral("b"));
        EXPECT_EQ(step("c", Direction::up, sections, c), QStringLiteral("c"));
        EXPECT_EQ(step("a", Direction::down, sections, c), QStringLiteral("a"));
        EXPECT_EQ(step("b", Direction::right, sections, c), QStringLiteral("c"));
    }
    // A huge but bounded column count must not overflow either.
    EXPECT_EQ(step("b", Direction::down, sections, unboundedColumns - 1), QStringLiteral("c"));
    EXPECT_EQ(step("c", Direction::up, sections, unboundedColumns - 1), QStringLiteral("a"));

    // One column: up and down walk the strip and stop at its ends.
    const QList<QStringList> strip{{"a", "b", "c"}};
    EXPECT_EQ(step("b", Direction::down, strip, 1), QStringLiteral("c"));
    EXPECT_EQ(step("c", Direction::down, strip, 1), QStringLiteral("c"));
    EXPECT_EQ(step("a", Direction::up, strip, 1), QStringLiteral("a"));
}

TEST(DeckFan, SmallOrSelectedDecksAreAlwaysSpreadAndIgnoreClicks) {
    DeckFan fan;
    EXPECT_TRUE(fan.isFanned("t", 1, false));
    EXPECT_TRUE(fan.isFanned("t", 0, false));
    EXPECT_FALSE(fan.click("t", 1, false));
    EXPECT_TRUE(fan.isFanned("t", 5, true));
    EXPECT_FALSE(fan.click("t", 5, true));
    EXPECT_FALSE(fan.clickedOpen.has_value());
    EXPECT_FALSE(fan.isFanned("t", 5, false));
}

TEST(DeckFan, OneClickOpenedDeckAtATime) {
    DeckFan fan;
    EXPECT_TRUE(fan.click("t1", 3, false));
    EXPECT_FALSE(fan.click("t1", 3, false)); // the second click reaches the card
    EXPECT_TRUE(fan.click("t2", 2, false));
    EXPECT_FALSE(fan.isFanned("t1", 3, false));
    EXPECT_TRUE(fan.isFanned("t2", 2, false));

    fan.fold("t1", {});
    EXPECT_EQ(fan.clickedOpen, QStringLiteral("t2"));
    fan.fold("S", {"t0", "t2"});
    EXPECT_FALSE(fan.clickedOpen.has_value());

    fan.click("t3", 2, false);
    fan.itemsChanged({"t3", "t4"});
    EXPECT_EQ(fan.clickedOpen, QStringLiteral("t3"));
    fan.itemsChanged({"t4"});
    EXPECT_FALSE(fan.clickedOpen.has_value());
}

TEST(DeckFan, EscapeUndoesOneLayerAtATime) {
    DeckFan fan;
    fan.click("t", 2, false);
    EXPECT_EQ(fan.escape(true, true), DeckFan::EscapeStep::closePreview);
    EXPECT_EQ(fan.escape(false, true), DeckFan::EscapeStep::clearSelection);
    EXPECT_EQ(fan.clickedOpen, QStringLiteral("t"));
    EXPECT_EQ(fan.escape(false, false), DeckFan::EscapeStep::collapseDeck);
    EXPECT_EQ(fan.escape(false, false), DeckFan::EscapeStep::nothing);
}
