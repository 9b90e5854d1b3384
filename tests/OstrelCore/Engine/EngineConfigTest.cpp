#include "OstrelCore/Engine/EngineConfig.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace ostrel;
using ostrel::test::TempDir;

namespace {

Preferences prefs() {
    Preferences p;
    p.retentionDays = 14;
    p.maxItems = 300;
    p.fileKinds = {ShelfItemKind::image, ShelfItemKind::pdf};
    p.extraExtensions = {"log", "csv"};
    p.outsideProjectOnly = false;
    p.watchedFolders = {"/srv/a", "/srv/b"};
    return p;
}

const Environment base{{"OSTREL_CLAUDE_HOME", "/h/.claude"},
                       {"OSTREL_SCRATCH_ROOT", "/s"},
                       {"OSTREL_SUPPORT_DIR", "/support"}};

Environment with(const QString& name, const QString& value) {
    Environment env = base;
    env.insert(name, value);
    return env;
}

} // namespace

TEST(EngineConfig, TakesThePreferencesUnlessTheEnvironmentOverridesWithinRange) {
    const auto config = EngineConfig::make(prefs(), base);
    EXPECT_EQ(config.retentionDays, 14);
    EXPECT_EQ(config.maxItems, 300);
    EXPECT_EQ(config.fileKinds, (ShelfItemKinds{ShelfItemKind::image, ShelfItemKind::pdf}));
    EXPECT_EQ(config.extraExtensions, (QSet<QString>{"log", "csv"}));
    EXPECT_FALSE(config.outsideProjectOnly);
    EXPECT_EQ(config.watchedFolders, (QStringList{"/srv/a", "/srv/b"}));
    EXPECT_EQ(config.chromeHold, 5.0);
    EXPECT_EQ(config.recentWindow, 600.0);
    EXPECT_EQ(config.paths.scratchRoot, QUrl::fromLocalFile("/s"));
    EXPECT_TRUE(config.ignoreGlobs.isEmpty());

    for (const char* bad : {"0", "5001", "twenty", ""}) {
        EXPECT_EQ(EngineConfig::make(prefs(), with("OSTREL_MAX_ITEMS", bad)).maxItems, 300) << bad;
    }
    EXPECT_EQ(EngineConfig::make(prefs(), with("OSTREL_MAX_ITEMS", " 20 ")).maxItems, 20);
    EXPECT_EQ(EngineConfig::make(prefs(), with("OSTREL_RETENTION_DAYS", "366")).retentionDays, 14);
    EXPECT_EQ(EngineConfig::make(prefs(), with("OSTREL_RETENTION_DAYS", "1")).retentionDays, 1);
    EXPECT_EQ(
        EngineConfig::make(prefs(), with("OSTREL_IGNORE_GLOBS", "*.tmp, ,*/cache/*")).ignoreGlobs,
        (QStringList{"*.tmp", "*/cache/*"}));
    EXPECT_EQ(EngineConfig::maxItemsRange, Preferences::maxItemsRange);
    EXPECT_EQ(EngineConfig::maxItemsDefault, 500);

    const ItemFilter filter = config.itemFilter();
    EXPECT_EQ(filter.kinds, config.fileKinds);
    EXPECT_EQ(filter.extraExtensions, config.extraExtensions);
    EXPECT_FALSE(filter.outsideProjectOnly);
    EXPECT_FALSE(filter.oldest.has_value());
    EXPECT_EQ(filter.minBytes, ItemFilter::defaultMinBytes);
}

TEST(EngineConfig, AChangeOfFoldersRestartsAndAnyOtherChangeUpdates) {
    const auto old = EngineConfig::make(prefs(), base);
    EXPECT_EQ(EngineConfig::make(prefs(), base).change(old), EngineConfig::Change::none);

    Preferences reordered = prefs();
    reordered.extraExtensions = {"csv", "log"};
    EXPECT_EQ(EngineConfig::make(reordered, base).change(old), EngineConfig::Change::none);
    reordered.watchedFolders = {"/srv/b", "/srv/a"};
    EXPECT_EQ(EngineConfig::make(reordered, base).change(old), EngineConfig::Change::update);

    auto held = old;
    held.chromeHold = 1.0;
    EXPECT_EQ(held.change(old), EngineConfig::Change::update);

    for (const char* name : {"OSTREL_CLAUDE_HOME", "OSTREL_SCRATCH_ROOT", "OSTREL_SUPPORT_DIR"}) {
        Preferences other = prefs();
        other.maxItems = 10;
        EXPECT_EQ(EngineConfig::make(other, with(name, "/elsewhere")).change(old),
                  EngineConfig::Change::restart)
            << name;
    }
}

TEST(EngineConfig, FolderRootsExpandTheTildeAndResolveLinks) {
    TempDir tmp;
    QDir().mkpath(tmp.file("real/docs"));
    QFile::link(tmp.file("real"), tmp.file("link"));
    auto config = EngineConfig::make(Preferences(), base);
    const QString home = QDir::homePath();
    config.watchedFolders = {tmp.file("link/docs"), "~/no-such-folder-here", "~",
                             tmp.file("link/docs"), "~no-such-user-here/x"};
    const QString realDocs = QFileInfo(tmp.file("real/docs")).canonicalFilePath();
    EXPECT_EQ(config.folderRoots(),
              (QStringList{realDocs, home + "/no-such-folder-here",
                           QFileInfo(home).canonicalFilePath(), realDocs, "~no-such-user-here/x"}));
    EXPECT_EQ(EngineConfig::expandTilde("~root/x"), "/root/x");
}
