#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Model/InfoLink.h"
#include "Platform/RecordingDesktop.h"
#include "support/TempDir.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

QJsonObject fileOf(const TempDir& dir) {
    QFile file(dir.file("defaults.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

BundleInfo bundle(std::initializer_list<std::pair<QString, QString>> values) {
    BundleInfo info;
    for (const auto& [key, value] : values) {
        info.values.insert(key, value);
    }
    return info;
}

} // namespace

TEST(AppSettings, ChangesAreSavedWholeKeepingOtherKeysAndReportedOnce) {
    TempDir dir;
    auto defaults = std::make_shared<UserDefaults>(dir.path(), "defaults");
    defaults->set("shownWelcome", true);
    AppSettings settings(defaults);
    EXPECT_EQ(fileOf(dir).size(), 1); // loading writes nothing
    std::vector<std::pair<Preferences, Preferences>> changes;
    settings.setOnChange([&](const Preferences& now, const Preferences& before) {
        changes.push_back({now, before});
    });

    settings.setPrefs(settings.prefs());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(fileOf(dir).size(), 1);

    settings.binding(&Preferences::quietMode).set(true);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].first.quietMode);
    EXPECT_FALSE(changes[0].second.quietMode);
    EXPECT_FALSE(settings.hoverOpens());
    const QJsonObject saved = fileOf(dir);
    EXPECT_EQ(saved.value("shownWelcome"), QJsonValue(true));
    EXPECT_EQ(saved.value("quietMode"), QJsonValue(true));
    EXPECT_EQ(saved.size(), 1 + Preferences().dictionary().size());

    Preferences prefs = settings.prefs();
    prefs.claudeHome = QStringLiteral("/somewhere");
    settings.setPrefs(prefs);
    EXPECT_EQ(fileOf(dir).value("claudeHome"), QJsonValue("/somewhere"));
    prefs.claudeHome.reset();
    settings.setPrefs(prefs);
    EXPECT_FALSE(fileOf(dir).contains("claudeHome"));
}

TEST(AppSettings, AFailedSaveIsWrittenWholeAtTheNextChange) {
    TempDir dir;
    // The settings folder cannot be made while a file stands in its place.
    const QString blocked = dir.write("config", "not a folder");
    auto defaults = std::make_shared<UserDefaults>(blocked, "defaults");
    AppSettings settings(defaults);
    settings.binding(&Preferences::glowPulses).set(3);
    EXPECT_FALSE(QFile::exists(blocked + "/defaults.json"));
    QFile::remove(blocked);
    settings.binding(&Preferences::pillPreview).set(false);
    QFile file(blocked + "/defaults.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(saved.value("glowPulses"), QJsonValue(3));
    EXPECT_EQ(saved.value("pillPreview"), QJsonValue(false));
}

TEST(AppSettings, RetiredKeysAreRewrittenOnceAndWrongTypesFallBack) {
    TempDir dir;
    dir.write("defaults.json",
              R"({"displayStyles": {"1": "pill-left"}, "glowPulses": "three", "hoverEnabled": 1})");
    {
        AppSettings settings(std::make_shared<UserDefaults>(dir.path(), "defaults"));
        EXPECT_EQ(settings.prefs().displayStyle, DisplayStyleChoice::pill(PillSide::left));
        EXPECT_EQ(settings.prefs().glowPulses, 2);
        EXPECT_TRUE(settings.prefs().hoverEnabled);
    }
    const QJsonObject saved = fileOf(dir);
    EXPECT_FALSE(saved.contains("displayStyles"));
    EXPECT_EQ(saved.value("displayStyle"), QJsonValue("pill-left"));
    EXPECT_EQ(saved.value("glowPulses"), QJsonValue(2));

    AppSettings again(std::make_shared<UserDefaults>(dir.path(), "defaults"));
    QSignalSpy errors(&again, &AppSettings::hotkeyErrorChanged);
    again.setHotkeyError(AppSettings::hotkeyTakenText);
    again.setHotkeyError(AppSettings::hotkeyTakenText);
    EXPECT_EQ(errors.count(), 1);
}

TEST(AppSettings, VersionTextsAndLinksComeFromTheBuild) {
    const BundleInfo full = bundle({{BundleInfo::shortVersionKey, "1.2"},
                                    {BundleInfo::versionKey, "42"},
                                    {BundleInfo::websiteKey, "https://ostrel.app/"},
                                    {BundleInfo::changelogKey, "http://ostrel.app/changes"},
                                    {BundleInfo::feedbackKey, "hello@ostrel.app"}});
    EXPECT_EQ(Feedback::versionText(full), "1.2 (42)");
    EXPECT_EQ(Feedback::buildNumber(full), 42);
    const BundleInfo bare = bundle({{BundleInfo::shortVersionKey, "1.2"}});
    EXPECT_EQ(Feedback::versionText(bare), "1.2 (?)");
    EXPECT_EQ(Feedback::buildNumber(bare), 0);
    EXPECT_EQ(Feedback::buildNumber(bundle({{BundleInfo::versionKey, "4x"}})), 0);
    EXPECT_EQ(Feedback::versionText(BundleInfo()), "? (?)");
    EXPECT_FALSE(Feedback::email(bare).has_value());

    EXPECT_EQ(InfoLinks::url(InfoLink::website, full), QUrl("https://ostrel.app/"));
    EXPECT_FALSE(InfoLinks::url(InfoLink::changelog, full).has_value());
    RecordingDesktop desktop;
    InfoLinks::open(InfoLink::changelog, desktop, full);
    InfoLinks::open(InfoLink::website, desktop, full);
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl("https://ostrel.app/")});

    EXPECT_EQ(Feedback::shortVersion("2.36"), "2.36");
    EXPECT_EQ(Feedback::shortVersion("6.1.0-18-amd64"), "6.1");
    EXPECT_EQ(Feedback::shortVersion("14.5.1"), "14.5.1");
    EXPECT_FALSE(Feedback::systemVersion().isEmpty());

    // The built configuration fixes the version.
    EXPECT_EQ(Feedback::appVersion(), QStringLiteral("0.1.0"));
}

TEST(AppSettings, TheFeedbackMailNamesTheRunningSystem) {
    TempDir dir;
    const QString release =
        dir.write("os-release", "NAME=\"Debian GNU/Linux\"\n"
                                "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    EXPECT_EQ(Feedback::systemName(release), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_TRUE(Feedback::systemName(dir.file("none")).startsWith("Linux "));

    const BundleInfo info = bundle({{BundleInfo::shortVersionKey, "1.2"},
                                    {BundleInfo::versionKey, "42"},
                                    {BundleInfo::feedbackKey, "hello@ostrel.app"}});
    const auto url = Feedback::mailURL("Ostrel feedback", {"R&D=1+1"}, info, "Debian 12");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->scheme(), "mailto");
    EXPECT_EQ(url->path(), "hello@ostrel.app");
    const QUrlQuery query(*url);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Ostrel feedback");
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded),
              QStringLiteral("\n\n\u2014\nR&D=1+1\nOstrel 1.2 (42)\nDebian 12"));
    EXPECT_FALSE(Feedback::mailURL("x", {}, BundleInfo(), "Debian 12").has_value());
}
