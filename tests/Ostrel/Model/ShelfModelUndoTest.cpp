#include "support/ShelfModelTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(ShelfModelUndo, ADeleteIsSentWhenTheWindowRunsOutScaledByMotion) {
    for (const double scale : {1.0, 2.0}) {
        ModelRig rig(scale);
        rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
        rig.model->setOpenScreen(1);
        rig.model->deleteItems({shelfItem("a")});
        EXPECT_EQ(rig.model->groups().front().items().size(), 1); // gone at once
        ASSERT_TRUE(rig.model->pendingUndo().has_value());
        EXPECT_EQ(rig.model->pendingUndo()->message(), "Deleted 1 item");
        rig.clock->advance(4.0 * scale - 0.01);
        EXPECT_TRUE(rig.sent("delete").empty()) << scale;
        rig.clock->advance(0.02);
        ASSERT_EQ(rig.sent("delete").size(), 1u) << scale;
        EXPECT_EQ(rig.sent("delete")[0].ids, QStringList{"a"});
        EXPECT_FALSE(rig.model->pendingUndo().has_value());
    }
}

TEST(ShelfModelUndo, TheWindowPausesWhileTheToastIsHoveredOrTheShelfIsClosed) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    rig.model->setOpenScreen(1);
    rig.model->hide(shelfItem("a"));
    rig.clock->advance(1);
    rig.model->setToastHovered(true);
    rig.clock->advance(10);
    EXPECT_TRUE(rig.sent("hide").empty());
    rig.model->setToastHovered(false);
    rig.clock->advance(2.99);
    EXPECT_TRUE(rig.sent("hide").empty());
    rig.clock->advance(0.02);
    EXPECT_EQ(rig.sent("hide").size(), 1u);

    // Closed at once: nothing is sent while closed; the window resumes on the next opening.
    rig.model->deleteItems({shelfItem("b")});
    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(30);
    EXPECT_TRUE(rig.sent("delete").empty());
    rig.model->setOpenScreen(1);
    rig.clock->advance(4.01);
    EXPECT_EQ(rig.sent("delete").size(), 1u);
}

TEST(ShelfModelUndo, ANewCommandCommitsTheHeldOneAndUndoSendsNothing) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b"), shelfItem("c")}));
    rig.model->setOpenScreen(1);
    rig.model->hide(shelfItem("a"));
    rig.clock->advance(3);
    rig.model->hide(shelfItem("b"));
    ASSERT_EQ(rig.sent("hide").size(), 1u);
    EXPECT_EQ(rig.sent("hide")[0].ids, QStringList{"a"});
    rig.clock->advance(3.9); // b has a fresh window
    EXPECT_EQ(rig.sent("hide").size(), 1u);
    rig.model->undo();
    rig.clock->advance(10);
    EXPECT_EQ(rig.sent("hide").size(), 1u);
    EXPECT_FALSE(rig.model->pendingUndo().has_value());
    EXPECT_EQ(rig.model->groups().front().items().size(), 2); // b is back; a waits for the engine

    // Unhiding is not held.
    rig.model->unhide({shelfItem("a")});
    ASSERT_EQ(rig.sent("unhide").size(), 1u);
    EXPECT_EQ(rig.sent("unhide")[0].ids, QStringList{"a"});
    EXPECT_FALSE(rig.model->pendingUndo().has_value());
}

TEST(ShelfModelUndo, DeleteAllCoversWhatWasShownAndSparesLaterArrivals) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}, {shelfItem("h")}));
    rig.model->setOpenScreen(1);
    rig.model->deleteAll();
    EXPECT_TRUE(rig.model->groups().isEmpty());
    rig.publish(snapshotOf({shelfItem("new"), shelfItem("a"), shelfItem("b")}, {shelfItem("h")}));
    EXPECT_EQ(rig.model->groups().size(), 1); // the newcomer shows
    rig.clock->advance(4.01);
    const auto calls = rig.sent("deleteAll");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].covering, (QSet<QString>{"a", "b", "h"}));
    EXPECT_EQ(calls[0].sparing, (QSet<QString>{"new"}));

    // Nothing to delete: no toast, no clock.
    ModelRig empty;
    empty.startWith(Snapshot());
    empty.model->deleteAll();
    empty.model->deleteItems({});
    EXPECT_FALSE(empty.model->pendingUndo().has_value());
    EXPECT_FALSE(empty.model->undoClock().has_value());
}

TEST(ShelfModelUndo, QuittingInsideTheWindowSendsTheCommandBeforeTheEngineStops) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    rig.model->setOpenScreen(1);
    rig.model->deleteItems({shelfItem("a")});
    rig.clock->advance(1);
    rig.model->shutdown();
    const auto calls = rig.log->calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].name, "delete");
    EXPECT_EQ(calls.back().name, "stop");
    // Afterwards nothing more reaches the engine.
    rig.model->hide(shelfItem("a"));
    rig.model->shutdown();
    EXPECT_EQ(rig.log->calls.size(), calls.size());
}
