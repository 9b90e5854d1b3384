#include "support/ShelfModelTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(ShelfModelSnapshot, FirstSnapshotAnnouncesNothingAndCountsEveryUnreadItem) {
    ModelRig rig;
    EXPECT_TRUE(rig.model->groups().isEmpty());
    EXPECT_TRUE(rig.sent("start").empty()); // built idle
    rig.startWith(snapshotOf(unreadItems(20)));
    EXPECT_EQ(rig.sent("start").size(), 1u);
    EXPECT_EQ(rig.model->arrivalTick(), 0);
    EXPECT_TRUE(rig.model->arrivalItems().isEmpty());
    EXPECT_EQ(rig.model->signalUnread(), 20);
    EXPECT_EQ(rig.model->unreadCount(), 20);
    EXPECT_EQ(rig.model->version(), 1);
    EXPECT_EQ(rig.model->newItemCount(), 20);

    Preferences quiet = rig.settings->prefs();
    quiet.quietMode = true;
    ModelRig quietRig(1.0, quiet);
    quietRig.startWith(snapshotOf(unreadItems(20)));
    EXPECT_EQ(quietRig.model->signalUnread(), 0);
    // Turning quiet mode off brings the count back at once.
    quiet.quietMode = false;
    quietRig.settings->setOnChange([&](const Preferences& now, const Preferences& before) {
        quietRig.model->applyPreferences(now, before);
    });
    quietRig.settings->setPrefs(quiet);
    EXPECT_EQ(quietRig.model->signalUnread(), 20);
}

TEST(ShelfModelSnapshot, TheSameSnapshotTwiceChangesNothing) {
    ModelRig rig;
    const Snapshot snapshot = snapshotOf(unreadItems(3));
    rig.startWith(snapshot);
    QSignalSpy groups(rig.model.get(), &ShelfModel::groupsChanged);
    QSignalSpy version(rig.model.get(), &ShelfModel::versionChanged);
    QSignalSpy ticks(rig.model.get(), &ShelfModel::arrivalTickChanged);
    QSignalSpy unread(rig.model.get(), &ShelfModel::unreadCountChanged);
    QSignalSpy signal(rig.model.get(), &ShelfModel::signalUnreadChanged);
    rig.publish(snapshot);
    EXPECT_EQ(groups.count() + version.count() + ticks.count() + unread.count() + signal.count(),
              0);
    EXPECT_EQ(rig.model->version(), 1);
}

TEST(ShelfModelSnapshot, ArrivalsTickAndJoinTheDotsOnlyWhileOpen) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    rig.publish(snapshotOf({shelfItem("b"), shelfItem("a")}));
    EXPECT_EQ(rig.model->arrivalTick(), 1);
    ASSERT_EQ(rig.model->arrivalItems().size(), 1);
    EXPECT_EQ(rig.model->arrivalItems().front().id, "b");
    EXPECT_TRUE(rig.model->dotIDs().isEmpty());

    rig.model->setOpenScreen(1);
    EXPECT_EQ(rig.model->dotIDs(), (QSet<QString>{"a", "b"}));
    // Seen while open: the dot and the header count stay, the closed shelf's count drops.
    rig.publish(snapshotOf({shelfItem("c"), shelfItem("b", "s1", true), shelfItem("a")}));
    EXPECT_EQ(rig.model->arrivalTick(), 2);
    EXPECT_TRUE(rig.model->dotIDs().contains("c"));
    EXPECT_EQ(rig.model->unreadCount(), 3);
    EXPECT_EQ(rig.model->signalUnread(), 2);
}

TEST(ShelfModelSnapshot, AnArrivalIsAnnouncedOnceTheUnreadCountHoldsIt) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a", "s1", true)}));
    qint64 unreadAtTick = -1;
    QObject::connect(rig.model.get(), &ShelfModel::arrivalTickChanged,
                     [&] { unreadAtTick = rig.model->signalUnread(); });
    rig.publish(snapshotOf({shelfItem("b"), shelfItem("a", "s1", true)}));
    EXPECT_EQ(unreadAtTick, 1);
}

TEST(ShelfModelSnapshot, CountWidthFollowsTheCountSignalAndItsDigits) {
    Preferences prefs;
    prefs.arrivalSignal = ArrivalSignal::count;
    ModelRig rig(1.0, prefs);
    rig.model->start();
    EXPECT_EQ(rig.model->countWidth(), 0);
    const std::pair<int, double> cases[] = {{1, 24}, {9, 24}, {10, 30}, {99, 30}, {100, 38}};
    for (const auto& [count, width] : cases) {
        rig.publish(snapshotOf(unreadItems(count, QStringLiteral("n%1-").arg(count))));
        EXPECT_EQ(rig.model->countWidth(), width) << count;
    }
    // A pill can only glow: no count, no room for one.
    rig.model->setAppliedStyle(DisplayStyleChoice::pill(PillSide::left));
    EXPECT_EQ(rig.model->signal(), ArrivalSignal::glow);
    EXPECT_EQ(rig.model->countWidth(), 0);
}

TEST(ShelfModelSnapshot, ItemsInViewAreReportedSeenOnceAfterTheDelay) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    // Closed: nothing is reported and no timer waits.
    rig.model->itemAppeared("a", 1);
    EXPECT_EQ(rig.clock->pending(), 0);

    rig.model->setOpenScreen(1);
    rig.model->itemAppeared("b", 1);
    rig.clock->advance(0.49);
    rig.model->itemDisappeared("b", 1);
    rig.clock->advance(0.2);
    ASSERT_EQ(rig.sent("markSeen").size(), 1u);
    EXPECT_EQ(rig.sent("markSeen")[0].ids, QStringList{"a"});
    rig.clock->advance(5);
    EXPECT_EQ(rig.sent("markSeen").size(), 1u);
}

TEST(ShelfModelSnapshot, ProjectFilterAndFoldedSectionsLeaveWithTheirLastItem) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a", "s1"), shelfItem("b", "s2")}));
    rig.model->setProject(QStringLiteral("s2"));
    rig.model->toggleCollapsed(QStringLiteral("s2"));
    EXPECT_EQ(rig.model->groups().size(), 1);
    rig.publish(snapshotOf({shelfItem("a", "s1")}));
    EXPECT_FALSE(rig.model->filter().project.has_value());
    EXPECT_FALSE(rig.model->collapsed().contains("s2"));
    EXPECT_EQ(rig.model->groups().size(), 1);
}

TEST(ShelfModelSnapshot, OddSnapshotsAreTakenWithoutHarm) {
    ModelRig rig;
    QList<ShelfItem> items = unreadItems(5000);
    items[0].title.clear();
    items[1].id = QStringLiteral("../../etc/passwd");
    items[2].id = QStringLiteral("a/b");
    items[3].sessionID.clear();
    items[4].promptID.reset();
    items[5].id.clear();
    rig.startWith(snapshotOf(items));
    EXPECT_EQ(rig.model->signalUnread(), 4999); // an item without an id cannot be shown
    rig.model->setOpenScreen(1);
    rig.model->handleKey(ShelfKey::right);
    EXPECT_TRUE(rig.model->selectedItemID().has_value());
    rig.publish(Snapshot());
    EXPECT_TRUE(rig.model->groups().isEmpty());
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
}
