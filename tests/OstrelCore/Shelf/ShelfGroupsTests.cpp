#include "OstrelCore/Shelf/ShelfGroups.h"

#include "ShelfFixtures.h"
#include "support/ItemIds.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ostrel;
using namespace ostrel::fixtures;

namespace {

using test::ids;

QStringList turnIDs(const SessionGroup& group) {
    QStringList out;
    for (const Turn& t : group.turns) {
        out.append(t.id);
    }
    return out;
}

QStringList groupIDs(const QList<SessionGroup>& groups) {
    QStringList out;
    for (const SessionGroup& g : groups) {
        out.append(g.id());
    }
    return out;
}

ShelfItem captured(const QString& id, double at, std::optional<QString> captureID) {
    ShelfItem i = item(id, QStringLiteral("s"), std::nullopt, at);
    i.captureID = std::move(captureID);
    return i;
}

} // namespace

TEST(ShelfGroupsBuild, EmptyOrUnreferencedRecordsYieldNothing) {
    Snapshot snap;
    snap.sessions = {session(QStringLiteral("s"), 1, 2)};
    snap.prompts = {prompt(QStringLiteral("p"), QStringLiteral("s"), 1)};
    EXPECT_TRUE(ShelfGroups::build(snap).isEmpty());

    snap.items = {item(QStringLiteral("a"), QStringLiteral("t"), QStringLiteral("q"), 5)};
    snap.sessions.append(session(QStringLiteral("u"), 1, 2));
    const auto groups = ShelfGroups::build(snap);
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(groups[0].id(), QStringLiteral("t"));
    ASSERT_EQ(groups[0].turns.size(), 1);
    EXPECT_FALSE(groups[0].turns[0].prompt.has_value());
}

TEST(ShelfGroupsBuild, TurnsByPromptTimeWithEarlierTurnLast) {
    Snapshot snap;
    snap.sessions = {session(QStringLiteral("s"), 0, 10)};
    // p1's prompt is old but its item is new: the prompt time places the turn.
    snap.prompts = {prompt(QStringLiteral("p1"), QStringLiteral("s"), 1),
                    prompt(QStringLiteral("p2"), QStringLiteral("s"), 5)};
    snap.items = {item(QStringLiteral("loose"), QStringLiteral("s"), std::nullopt, 100),
                  item(QStringLiteral("a"), QStringLiteral("s"), QStringLiteral("p1"), 50),
                  item(QStringLiteral("b"), QStringLiteral("s"), QStringLiteral("p2"), 6),
                  // No such prompt: dated by its newest item, not an earlier turn.
                  item(QStringLiteral("c"), QStringLiteral("s"), QStringLiteral("gone"), 3),
                  // An empty prompt id is a prompt turn of its own.
                  item(QStringLiteral("d"), QStringLiteral("s"), QString(), 2),
                  // A prompt id that looks like an earlier turn counts as one.
                  item(QStringLiteral("e"), QStringLiteral("s"), QStringLiteral("earlier:x"), 0)};
    const auto groups = ShelfGroups::build(snap);
    ASSERT_EQ(groups.size(), 1);
    EXPECT_EQ(turnIDs(groups[0]), (QStringList{"p2", "gone", "", "p1", "earlier:s", "earlier:x"}));
    EXPECT_TRUE(groups[0].turns[4].isEarlier());
    EXPECT_FALSE(groups[0].turns[1].isEarlier());
    EXPECT_FALSE(groups[0].turns[2].isEarlier());
    EXPECT_EQ(groups[0].turns[0].prompt, snap.prompts[1]);
    EXPECT_EQ(groups[0].newest, Date(100));
    EXPECT_EQ(ids(groups[0].items()), (QStringList{"b", "c", "d", "a", "loose", "e"}));
}

TEST(ShelfGroupsBuild, TiesBreakByAscendingIdInTextOrder) {
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    const QString fullwidth = QStringLiteral("\uFF21");
    Snapshot snap;
    // Items of one turn with equal times; groups with equal newest; turns with equal dates.
    snap.items = {item(emoji, QStringLiteral("s1"), QStringLiteral("p"), 5),
                  item(QStringLiteral("b"), QStringLiteral("s1"), QStringLiteral("p"), 5),
                  item(fullwidth, QStringLiteral("s1"), QStringLiteral("p"), 5),
                  item(QStringLiteral("x"), emoji, QStringLiteral("q2"), 5),
                  item(QStringLiteral("y"), emoji, QStringLiteral("q1"), 5),
                  item(QStringLiteral("z"), fullwidth, QStringLiteral("r"), 5)};
    const auto groups = ShelfGroups::build(snap);
    EXPECT_EQ(groupIDs(groups), (QStringList{"s1", fullwidth, emoji}));
    EXPECT_EQ(ids(groups[0].items()), (QStringList{"b", fullwidth, emoji}));
    EXPECT_EQ(turnIDs(groups[2]), (QStringList{"q1", "q2"}));

    // The input order does not matter.
    std::reverse(snap.items.begin(), snap.items.end());
    EXPECT_EQ(ShelfGroups::build(snap), groups);
}

TEST(ShelfGroupsBuild, MissingSessionsAreMadeUpAndLastActiveLiftsGroups) {
    Snapshot snap;
    snap.sessions = {session(QStringLiteral("old"), 0, 500),
                     session(QStringLiteral("old"), 0, 1)}; // the first listed counts
    snap.prompts = {prompt(QStringLiteral("p"), QStringLiteral("old"), 1),
                    prompt(QStringLiteral("p"), QStringLiteral("old"), 99)};
    snap.items = {item(QStringLiteral("u1"), Session::unsortedID, std::nullopt, 300),
                  item(QStringLiteral("u2"), Session::unsortedID, std::nullopt, 200),
                  item(QStringLiteral("o"), QStringLiteral("old"), QStringLiteral("p"), 10)};
    const auto groups = ShelfGroups::build(snap);
    ASSERT_EQ(groupIDs(groups), (QStringList{"old", "unsorted"}));
    EXPECT_EQ(groups[0].newest, Date(500));
    EXPECT_EQ(groups[0].turns[0].prompt->at, Date(1));
    const Session& madeUp = groups[1].session;
    EXPECT_EQ(madeUp.startedAt, Date(200));
    EXPECT_EQ(madeUp.lastActive, Date(300));
    EXPECT_FALSE(madeUp.cwd.has_value());
    EXPECT_EQ(groups[1].newest, Date(300));
    EXPECT_EQ(turnIDs(groups[1]), QStringList{"earlier:unsorted"});
}

TEST(ShelfGroupsArrival, OldestFirstThenCaptureSequenceAsNumberThenId) {
    const QList<ShelfItem> items{captured(QStringLiteral("ten"), 5, QStringLiteral("tool#10")),
                                 captured(QStringLiteral("two"), 5, QStringLiteral("tool#2")),
                                 captured(QStringLiteral("none"), 5, std::nullopt),
                                 captured(QStringLiteral("neg"), 5, QStringLiteral("tool#-1")),
                                 captured(QStringLiteral("old"), 4, QStringLiteral("t#99")),
                                 captured(QStringLiteral("b"), 6, std::nullopt),
                                 captured(QStringLiteral("a"), 6, std::nullopt)};
    EXPECT_EQ(ids(ShelfGroups::arrivalOrder(items)),
              (QStringList{"old", "neg", "none", "two", "ten", "a", "b"}));
    EXPECT_TRUE(ShelfGroups::arrivalOrder({}).isEmpty());
}

TEST(ShelfGroupsArrival, CaptureSequenceReadsOnlyAWholeSignedNumber) {
    const auto seq = [](std::optional<QString> id) {
        return ShelfGroups::captureSequence(captured(QStringLiteral("x"), 0, std::move(id)));
    };
    EXPECT_EQ(seq(std::nullopt), 0);
    EXPECT_EQ(seq(QString()), 0);
    EXPECT_EQ(seq(QStringLiteral("###")), 0);
    EXPECT_EQ(seq(QStringLiteral("tool#12")), 12);
    EXPECT_EQ(seq(QStringLiteral("tool#7#")), 7);
    EXPECT_EQ(seq(QStringLiteral("tool#word#")), 0);
    EXPECT_EQ(seq(QStringLiteral("345")), 345);
    EXPECT_EQ(seq(QStringLiteral("a#+8")), 8);
    EXPECT_EQ(seq(QStringLiteral("a#-")), 0);
    EXPECT_EQ(seq(QStringLiteral("a# 3")), 0);
    EXPECT_EQ(seq(QStringLiteral("a#\u0663")), 0); // an Arabic-Indic digit is not ASCII
    EXPECT_EQ(seq(QStringLiteral("a#9223372036854775807")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(seq(QStringLiteral("a#9223372036854775808")), 0);
    EXPECT_EQ(seq(QStringLiteral("a#-9223372036854775808")), std::numeric_limits<qint64>::min());
    EXPECT_EQ(seq(QStringLiteral("a#-9223372036854775809")), 0);
}
