#include "support/ShelfModelTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Settings changes reach the model as the application wires them.
void follow(ModelRig& rig) {
    rig.settings->setOnChange([&rig](const Preferences& now, const Preferences& before) {
        rig.model->applyPreferences(now, before);
    });
}

} // namespace

TEST(ShelfModelEngine, SettingsUpdateRestartOrLeaveTheEngineAlone) {
    ModelRig rig;
    follow(rig);
    rig.startWith(snapshotOf({shelfItem("a")}));

    Preferences prefs = rig.settings->prefs();
    prefs.glowStrength = GlowStrength::strong;
    QSignalSpy glow(rig.model.get(), &ShelfModel::glowStrengthChanged);
    rig.settings->setPrefs(prefs);
    EXPECT_EQ(glow.count(), 1);
    EXPECT_EQ(rig.model->glowStrength(), GlowStrength::strong);
    EXPECT_TRUE(rig.sent("update").empty());
    EXPECT_EQ(rig.log->engines.size(), 1u);

    prefs.retentionDays = 7;
    rig.settings->setPrefs(prefs);
    ASSERT_EQ(rig.sent("update").size(), 1u);
    EXPECT_EQ(rig.sent("update")[0].config->retentionDays, 7);
    EXPECT_EQ(rig.log->engines.size(), 1u);

    // An override set between two changes compares equal on both sides: nothing more happens.
    rig.environment.insert(QStringLiteral("OSTREL_RETENTION_DAYS"), QStringLiteral("3"));
    prefs.layout = LayoutChoice::stacks;
    rig.settings->setPrefs(prefs);
    EXPECT_EQ(rig.sent("update").size(), 1u);
    EXPECT_EQ(rig.model->layoutChoice(), LayoutChoice::stacks);

    prefs.claudeHome = rig.dir.file("elsewhere");
    rig.settings->setPrefs(prefs);
    ASSERT_EQ(rig.log->engines.size(), 2u);
    EXPECT_TRUE(rig.log->engines[0] == nullptr); // the old engine is gone
    const auto calls = rig.log->calls;
    EXPECT_EQ(calls[calls.size() - 2].name, "stop");
    EXPECT_EQ(calls.back().name, "start");
    EXPECT_EQ(calls.back().engine, rig.engine().generation());
}

TEST(ShelfModelEngine, ARestartedEngineBringsNoArrivalsAndTheOldOnesLateSnapshotsAreDropped) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    const ShelfEngine::SnapshotHandler oldHandler = rig.engine().handler();
    ASSERT_TRUE(oldHandler);
    const ShelfEngine::Generation oldGeneration = rig.engine().generation();

    Engine::Config moved = Engine::Config::make(Preferences(), rig.environment);
    moved.paths.claudeHome = OstrelPaths::folderURL(rig.dir.file("other"));
    rig.model->restart(moved);
    // The old engine's snapshot still on its way to the main thread.
    oldHandler(snapshotOf({shelfItem("late"), shelfItem("a")}), oldGeneration);
    EXPECT_EQ(rig.model->arrivalTick(), 0);
    EXPECT_FALSE(rig.model->state().known().contains("late"));
    // The shelf keeps what it showed until the new engine speaks; its first snapshot is quiet.
    EXPECT_EQ(rig.model->groups().size(), 1);
    rig.publish(snapshotOf({shelfItem("x"), shelfItem("y")}));
    EXPECT_EQ(rig.model->arrivalTick(), 0);
    EXPECT_EQ(rig.model->signalUnread(), 2);
    rig.publish(snapshotOf({shelfItem("z"), shelfItem("x"), shelfItem("y")}));
    EXPECT_EQ(rig.model->arrivalTick(), 1);
}

TEST(ShelfModelEngine, NoCallbackOutlivesTheModel) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    rig.model->setOpenScreen(1);
    rig.model->itemAppeared("a", 1);
    rig.model->hide(shelfItem("b"));
    rig.model->setOpenScreen(std::nullopt);
    rig.model->setOpenScreen(1);
    EXPECT_GT(rig.clock->pending(), 0);
    FakeShelfEngine* engine = &rig.engine();
    const auto handler = engine->handler();
    rig.model.reset();
    // The held hide went out before the engine stopped.
    const auto calls = rig.log->calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].name, "hide");
    EXPECT_EQ(calls.back().name, "stop");
    // Timers, the engine's late snapshot: nothing runs, nothing crashes.
    EXPECT_EQ(rig.clock->advance(60), 0);
    if (handler) {
        handler(snapshotOf({shelfItem("c")}), 1);
    }
}
