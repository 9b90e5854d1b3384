#include "OstrelCore/Records/Preferences.h"
#include "Platform/UserDefaults.h"
#include "support/TempDir.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

Preferences loadOne(const QString& key, const QJsonValue& value) {
    return Preferences::load(QJsonObject{{key, value}});
}

} // namespace

TEST(PreferencesLoad, EmptyDictionaryGivesDefaults) {
    const Preferences p = Preferences::load({});
    EXPECT_EQ(p, Preferences());
    EXPECT_EQ(p.displayStyle, DisplayStyleChoice::notch());
    EXPECT_EQ(p.hotkeyKeyCode, 49);
    EXPECT_EQ(p.hotkeyModifiers, 2048);
    EXPECT_EQ(p.maxItems, 500);
    EXPECT_EQ(p.fileKinds.size(), 7u);
}

TEST(PreferencesLoad, OutOfRangeOrMistypedValuesKeepDefaults) {
    EXPECT_EQ(loadOne("layout", "Rail").layout, LayoutChoice::rail);
    EXPECT_EQ(loadOne("layout", "stacks").layout, LayoutChoice::stacks);
    EXPECT_EQ(loadOne("hotkeyKeyCode", 0).hotkeyKeyCode, 0);
    EXPECT_EQ(loadOne("hotkeyKeyCode", 128).hotkeyKeyCode, 49);
    EXPECT_EQ(loadOne("hotkeyKeyCode", -1).hotkeyKeyCode, 49);
    EXPECT_EQ(loadOne("hotkeyKeyCode", 12.5).hotkeyKeyCode, 49);
    EXPECT_EQ(loadOne("hotkeyKeyCode", true).hotkeyKeyCode, 49);
    EXPECT_EQ(loadOne("hotkeyModifiers", 0).hotkeyModifiers, 2048);
    EXPECT_EQ(loadOne("hoverDwellMs", 59).hoverDwellMs, 120);
    EXPECT_EQ(loadOne("hoverDwellMs", 600).hoverDwellMs, 600);
    EXPECT_EQ(loadOne("retentionDays", 0).retentionDays, 30);
    EXPECT_EQ(loadOne("retentionDays", 366).retentionDays, 30);
    EXPECT_EQ(loadOne("maxItems", 5001).maxItems, 500);
    EXPECT_EQ(loadOne("glowPulses", 0).glowPulses, 2);
    EXPECT_EQ(loadOne("glowPulses", 4).glowPulses, 2);
    EXPECT_EQ(loadOne("glowPulses", "3").glowPulses, 2);
    EXPECT_TRUE(loadOne("hoverEnabled", "false").hoverEnabled);
    EXPECT_TRUE(loadOne("hoverEnabled", 0).hoverEnabled);
    EXPECT_FALSE(loadOne("hoverEnabled", false).hoverEnabled);
}

TEST(PreferencesLoad, DisplayStyleAndItsMigration) {
    EXPECT_EQ(loadOne("displayStyle", "pill-left").displayStyle,
              DisplayStyleChoice::pill(PillSide::left));
    // A text that names no style gives the notch without looking at the retired key.
    const Preferences unknown = Preferences::load(
        {{"displayStyle", "dock"}, {"displayStyles", QJsonObject{{"1", "pill-right"}}}});
    EXPECT_EQ(unknown.displayStyle, DisplayStyleChoice::notch());

    const auto migrated = [](const QJsonObject& perDisplay) {
        return loadOne("displayStyles", perDisplay).displayStyle;
    };
    EXPECT_EQ(migrated({{"1", "pill-right"}, {"2", "pill-left"}}),
              DisplayStyleChoice::pill(PillSide::left));
    EXPECT_EQ(migrated({{"1", "dock"}}), DisplayStyleChoice::pill(PillSide::bottom));
    EXPECT_EQ(migrated({{"1", "pill-top"}}), DisplayStyleChoice::pill(PillSide::bottom));
    EXPECT_EQ(migrated({}), DisplayStyleChoice::notch());
    EXPECT_EQ(migrated({{"1", "notch"}}), DisplayStyleChoice::notch());
    EXPECT_EQ(migrated({{"1", "notch"}, {"2", "pill-right"}}),
              DisplayStyleChoice::pill(PillSide::right));
    // A non-string display style falls to the retired key.
    EXPECT_EQ(
        Preferences::load({{"displayStyle", 3}, {"displayStyles", QJsonObject{{"1", "dock"}}}})
            .displayStyle,
        DisplayStyleChoice::pill(PillSide::bottom));
    EXPECT_EQ(migrated({{"1", 5}}), DisplayStyleChoice::notch());
}

TEST(PreferencesLoad, ListsAreFilteredAndNormalised) {
    const auto kinds = loadOne("fileTypes", QJsonArray{"image", "file", "nonsense"}).fileKinds;
    EXPECT_EQ(kinds, ShelfItemKinds{ShelfItemKind::image});
    EXPECT_TRUE(loadOne("fileTypes", QJsonArray{}).fileKinds.empty());
    EXPECT_EQ(loadOne("fileTypes", QJsonArray{"image", 3}).fileKinds.size(), 7u);
    EXPECT_EQ(loadOne("extraExtensions", QJsonArray{"MD", ".csv", "md"}).extraExtensions,
              (QStringList{"md", "csv"}));
    EXPECT_EQ(loadOne("watchedFolders", QJsonArray{"/a", "", "/a", "/b"}).watchedFolders,
              (QStringList{"/a", "/b"}));
    // A folder holding U+0000 would be watched where the text before the NUL points.
    const QString crafted = QStringLiteral("/home/u") + QChar(u'\0') + "/docs";
    EXPECT_EQ(loadOne("watchedFolders", QJsonArray{crafted, "/b"}).watchedFolders,
              QStringList{"/b"});
    EXPECT_FALSE(loadOne("claudeHome", crafted).claudeHome);
    EXPECT_FALSE(loadOne("claudeHome", "").claudeHome);
    EXPECT_FALSE(loadOne("claudeHome", "").dictionary().contains("claudeHome"));
    EXPECT_EQ(loadOne("scratchRoot", " ~/x").scratchRoot, " ~/x");
}

TEST(PreferencesDictionary, WritesTwentyTwoKeysAndRoundTrips) {
    const QJsonObject defaults = Preferences().dictionary();
    EXPECT_EQ(defaults.size(), 22);
    EXPECT_EQ(defaults.value("fileTypes").toArray(),
              (QJsonArray{"artifact", "audio", "document", "html", "image", "pdf", "video"}));
    EXPECT_EQ(defaults.value("displayStyle"), "notch");
    EXPECT_FALSE(defaults.contains("displayStyles"));

    Preferences p;
    p.layout = LayoutChoice::stacks;
    p.hotkeyKeyCode = 0;
    p.hoverDwellMs = 600;
    p.arrivalSignal = ArrivalSignal::count;
    p.glowStrength = GlowStrength::strong;
    p.pillPile = PeekPileStyle::stack;
    p.displayStyle = DisplayStyleChoice::pill(PillSide::right);
    p.fileKinds = {ShelfItemKind::pdf};
    p.extraExtensions = {"log", "md"};
    p.watchedFolders = {"/b", "/a"};
    p.claudeHome = "/c";
    p.scratchRoot = "/s";
    p.quietMode = true;
    const QJsonObject d = p.dictionary();
    EXPECT_EQ(d.size(), 24);
    EXPECT_EQ(d.value("displayStyle"), "pill-right");
    EXPECT_EQ(Preferences::load(d), p);
}

TEST(PreferencesSignal, APillCanOnlyGlow) {
    Preferences p;
    p.arrivalSignal = ArrivalSignal::count;
    EXPECT_EQ(p.effectiveSignal(), ArrivalSignal::count);
    for (const PillSide side : allPillSides) {
        p.displayStyle = DisplayStyleChoice::pill(side);
        EXPECT_EQ(p.effectiveSignal(), ArrivalSignal::glow);
    }
}

TEST(PreferencesParse, ExtensionsSplitTrimLowerAndDeduplicate) {
    EXPECT_EQ(Preferences::parseExtensions("Md, .CSV;;tar.gz\tpng png"),
              (QStringList{"md", "csv", "png"}));
    EXPECT_EQ(Preferences::parseExtensions("..log.. a-b a_b *.x \n\u00E9t\u00E9 e\u0301"),
              (QStringList{"log", "\u00E9t\u00E9", "e\u0301"}));
    EXPECT_TRUE(Preferences::parseExtensions(" ,;. ").isEmpty());
}

TEST(PreferencesParse, WholeNumberTypedIntoAField) {
    const auto whole = [](const QString& typed) {
        return Preferences::whole(typed, 30, Preferences::retentionRange);
    };
    EXPECT_EQ(whole(" 42 "), 42);
    EXPECT_EQ(whole("0"), 1);
    EXPECT_EQ(whole("400"), 365);
    EXPECT_EQ(whole("-5"), 1);
    EXPECT_EQ(whole("-"), 30);
    EXPECT_EQ(whole("-x"), 30);
    EXPECT_EQ(whole("abc"), 30);
    EXPECT_EQ(whole(""), 30);
    EXPECT_EQ(whole("12abc"), 12);
    EXPECT_EQ(whole("+5"), 30);
    EXPECT_EQ(whole("99999999999999999999"), 365);
    EXPECT_EQ(whole("\u0663"), 365); // a digit, but not an ASCII one
    EXPECT_EQ(Preferences::typedRetentionDays("7", 30), 7);
}

TEST(PreferencesStore, RetiredStylesMigrateOnceAndClearedOverridesGo) {
    test::TempDir dir;
    {
        UserDefaults defaults(dir.path(), "defaults");
        defaults.apply({{"displayStyles", QJsonObject{{"1", "pill-right"}}},
                        {"claudeHome", "/old"},
                        {"maxItems", 42}});
    }
    UserDefaults defaults(dir.path(), "defaults");
    Preferences prefs = Preferences::load(defaults);
    EXPECT_EQ(prefs.displayStyle, DisplayStyleChoice::pill(PillSide::right));
    EXPECT_EQ(prefs.maxItems, 42);
    // Saved back at once: the retired key is gone and the style stands on its own.
    EXPECT_FALSE(UserDefaults(dir.path(), "defaults").contains("displayStyles"));
    EXPECT_EQ(UserDefaults(dir.path(), "defaults").value("displayStyle"), "pill-right");

    prefs.claudeHome.reset();
    ASSERT_TRUE(prefs.save(defaults));
    UserDefaults reread(dir.path(), "defaults");
    EXPECT_FALSE(reread.contains("claudeHome"));
    EXPECT_EQ(Preferences::load(reread), prefs);
}
