#include "Ostrel/Model/LiveShelfEngine.h"
#include "support/ShelfModelTestSupport.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// The model over the real capture engine, every folder in one temporary tree.
struct LiveRig {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
    AppSettings settings{defaults};
    Environment environment{{"OSTREL_CLAUDE_HOME", dir.file("claude")},
                            {"OSTREL_SCRATCH_ROOT", dir.file("scratch")},
                            {"OSTREL_SUPPORT_DIR", dir.file("support")}};

    LiveRig() {
        QDir().mkpath(dir.file("claude/projects"));
        QDir().mkpath(dir.file("scratch"));
        QDir().mkpath(dir.file("tmp"));
    }

    std::unique_ptr<ShelfModel> makeModel() {
        ShelfModel::Services services;
        const QString temp = dir.file("tmp");
        services.makeEngine = [temp](const Engine::Config& config) -> std::unique_ptr<ShelfEngine> {
            Engine::Config local = config;
            // The screenshot root is the process's temporary folder; keep the test to its own.
            local.paths.chromeRoot = OstrelPaths::folderURL(temp);
            return std::make_unique<LiveShelfEngine>(local);
        };
        services.environment = [this] { return environment; };
        services.motionScale = 1;
        services.desktop = std::make_shared<RecordingDesktop>();
        services.menus = std::make_unique<FakeMenuRunner>();
        return std::make_unique<ShelfModel>(settings, std::move(services));
    }

    QString writePage(const QString& name) {
        QByteArray bytes = "<html><head><title>" + name.toUtf8() + "</title></head><body>";
        while (bytes.size() < 1200) {
            bytes += name.toUtf8() + " ";
        }
        bytes += "</body></html>";
        return dir.write("scratch/-work-proj/session-1/scratchpad/" + name, bytes);
    }
};

} // namespace

TEST(ShelfModelLiveEngine, AScratchpadFileReachesTheShelfAndAHeldDeleteSurvivesQuitting) {
    LiveRig rig;
    auto model = rig.makeModel();
    model->start();
    rig.writePage("report.html");
    ASSERT_TRUE(waitUntil([&] { return !model->groups().isEmpty(); }));
    ASSERT_EQ(model->unreadIDs().size(), 1);
    EXPECT_EQ(model->signalUnread(), 1);
    EXPECT_EQ(model->arrivalTick(), 1);
    const ShelfItem item = model->groups().front().items().front();
    EXPECT_EQ(item.sessionID, "session-1");
    EXPECT_TRUE(model->storeRoot().toLocalFile().startsWith(rig.dir.file("support")));

    // Looking at it marks it seen in the store; the next snapshot says so.
    model->setOpenScreen(1);
    model->showQuickLook(item);
    ASSERT_TRUE(waitUntil([&] { return model->unreadIDs().isEmpty(); }));
    EXPECT_EQ(model->signalUnread(), 0);

    model->deleteItems({item});
    model.reset(); // quits inside the undo window

    auto again = rig.makeModel();
    again->start();
    pump(1.0);
    EXPECT_TRUE(again->groups().isEmpty());
    EXPECT_TRUE(again->visibleSnapshot().items.isEmpty());
}

TEST(ShelfModelLiveEngine, ChangedFoldersRestartTheEngineWithoutAnnouncingWhatItFinds) {
    LiveRig rig;
    Preferences start = rig.settings.prefs();
    start.scratchRoot = rig.dir.file("scratch");
    rig.settings.setPrefs(start);
    rig.environment.remove("OSTREL_SCRATCH_ROOT");
    auto model = rig.makeModel();
    rig.settings.setOnChange([&](const Preferences& now, const Preferences& before) {
        model->applyPreferences(now, before);
    });
    model->start();
    rig.writePage("first.html");
    ASSERT_TRUE(waitUntil([&] { return model->groups().size() == 1; }));
    const qint64 ticks = model->arrivalTick();

    // Another scratch root with an item already in it.
    rig.dir.write("scratch2/-work-other/session-2/scratchpad/old.html",
                  QByteArray(1200, 'x').prepend("<html><body>").append("</body></html>"));
    Preferences prefs = rig.settings.prefs();
    prefs.scratchRoot = rig.dir.file("scratch2");
    rig.environment.remove("OSTREL_SCRATCH_ROOT"); // so that the preference counts
    rig.settings.setPrefs(prefs);
    ASSERT_TRUE(waitUntil([&] {
        for (const SessionGroup& group : model->groups()) {
            if (group.id() == "session-2") {
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(model->arrivalTick(), ticks);
}
