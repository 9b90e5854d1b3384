#include "Ostrel/Shell/LoginItem.h"
#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Shell/SettingsHold.h"
#include "Platform/AutostartEntry.h"
#include "support/TempDir.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

struct Autostart : ::testing::Test {
    TempDir dir;
    QString binary = dir.write("bin/ostrel", "#!/bin/sh\n");
    QString path = dir.file("config/autostart/ostrel.desktop");
    AutostartEntry entry{path, binary};
};

TEST(AutostartExec, QuotesWhatTheDesktopWouldSplitOrExpand) {
    EXPECT_EQ(AutostartEntry::execValue({"/opt/ostrel/bin/ostrel"}), "/opt/ostrel/bin/ostrel");
    EXPECT_EQ(AutostartEntry::execValue({"/home/a b/ostrel"}), "\"/home/a b/ostrel\"");
    // "%" is doubled so that it reads as no field code; a quote, dollar and backslash are
    // escaped inside the quotes, and the backslash once more by the file's value escapes.
    EXPECT_EQ(AutostartEntry::execValue({"/x/100%u"}), "/x/100%%u");
    // In the file: "/x/\\"\\$a\\\\" (a literal backslash takes four).
    EXPECT_EQ(AutostartEntry::execValue({"/x/\"$a\\"}), R"("/x/\\"\\$a\\\\")");

    for (const QString& odd :
         {QStringLiteral("/home/a b/ostrel"), QStringLiteral("/tmp/%%u 50% \"q\" $HOME `x`"),
          QStringLiteral("/tmp/back\\slash/new\nline/tab\there"),
          QStringLiteral("/tmp/it's (mine) & ~yours; #1*?<>|")}) {
        const auto parsed = AutostartEntry::parseExec(AutostartEntry::execValue({odd, "--x"}));
        ASSERT_TRUE(parsed.has_value()) << odd.toStdString();
        EXPECT_EQ(*parsed, (QStringList{odd, "--x"})) << odd.toStdString();
    }
    EXPECT_FALSE(AutostartEntry::parseExec("\"/never/closed").has_value());
    EXPECT_EQ(*AutostartEntry::parseExec("/usr/bin/app %U --flag"),
              (QStringList{"/usr/bin/app", "--flag"}));
}

TEST_F(Autostart, WrittenEntryIsOnAndRemovedEntryIsOff) {
    EXPECT_FALSE(entry.enabled());
    ASSERT_EQ(entry.enable(), std::nullopt);
    EXPECT_TRUE(entry.enabled());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(dir.read("config/autostart/ostrel.desktop").startsWith("[Desktop Entry]\n"));

    // Another binary's entry at our name is not ours to count or to remove.
    EXPECT_FALSE(AutostartEntry(path, dir.write("other/ostrel", "x")).enabled());
    EXPECT_EQ(AutostartEntry(path, dir.file("other/ostrel")).disable(), std::nullopt);
    EXPECT_TRUE(QFile::exists(path));

    ASSERT_EQ(entry.disable(), std::nullopt);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(entry.disable(), std::nullopt);
}

TEST_F(Autostart, WhatElseLiesThereReadsAsOff) {
    const QByteArray good = AutostartEntry::contents(binary);
    const auto off = [&](const QByteArray& text) {
        dir.write("config/autostart/ostrel.desktop", text);
        return !entry.enabled();
    };
    EXPECT_FALSE(off(good));
    EXPECT_TRUE(off(good + "Hidden=true\n"));
    EXPECT_TRUE(off(QByteArray(good).replace("Autostart-enabled=true", "Autostart-enabled=false")));
    EXPECT_TRUE(off("\x01\xff garbage without a group"));
    EXPECT_TRUE(off("[Other]\nExec=" + binary.toUtf8() + "\n"));
    EXPECT_TRUE(off(QByteArray(good).replace("Exec=", "Exec=\"")));
    EXPECT_TRUE(off(""));

    QFile::remove(path);
    ASSERT_TRUE(QFile::link(dir.write("target.desktop", good), path));
    EXPECT_FALSE(entry.enabled());
    // Writing replaces the link, never the file it points at.
    ASSERT_EQ(entry.enable(), std::nullopt);
    EXPECT_TRUE(entry.enabled());
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(dir.read("target.desktop"), good);

    if (::geteuid() != 0) {
        ::chmod(QFile::encodeName(path).constData(), 0);
        EXPECT_FALSE(entry.enabled());
        ::chmod(QFile::encodeName(path).constData(), 0644);
    }
}

TEST_F(Autostart, LoginItemFollowsTheDesktopAndSaysWhatItRefused) {
    TempDir store;
    AppSettings settings(std::make_shared<UserDefaults>(store.path(), "defaults"));
    LoginItem item(settings, entry);
    int changes = 0;
    settings.setOnChange([&](const Preferences& now, const Preferences& before) {
        ++changes;
        if (now.launchAtLogin != before.launchAtLogin) {
            item.changed(now.launchAtLogin);
        }
    });

    settings.binding(&Preferences::launchAtLogin).set(true);
    EXPECT_TRUE(entry.enabled());
    EXPECT_EQ(settings.launchAtLoginError(), std::nullopt);

    // The user removed the entry on the desktop: the next sync turns the preference off
    // without writing the entry back.
    QFile::remove(path);
    item.sync();
    EXPECT_FALSE(settings.prefs().launchAtLogin);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(changes, 2);

    // A folder in the way: the switch stays where the user put it, with the reason beside it.
    ASSERT_TRUE(QDir().mkpath(path));
    settings.binding(&Preferences::launchAtLogin).set(true);
    EXPECT_TRUE(settings.prefs().launchAtLogin);
    ASSERT_TRUE(settings.launchAtLoginError().has_value());
    EXPECT_TRUE(settings.launchAtLoginError()->startsWith(AppSettings::loginItemRefusedText));
    EXPECT_TRUE(settings.launchAtLoginError()->contains("a folder is in the way"));
    item.sync();
    EXPECT_FALSE(settings.prefs().launchAtLogin);
    EXPECT_TRUE(settings.launchAtLoginError().has_value());

    QDir(path).removeRecursively();
    settings.binding(&Preferences::launchAtLogin).set(true);
    EXPECT_EQ(settings.launchAtLoginError(), std::nullopt);
    item.sync();
    EXPECT_TRUE(settings.prefs().launchAtLogin);
}

struct Hold : ::testing::Test {
    TempDir store;
    AppSettings settings{std::make_shared<UserDefaults>(store.path(), "defaults")};
    std::vector<std::pair<qint64, qint64>> handed; // retention days: now, previous
    SettingsHold hold{settings,
                      [this](const Preferences& now, const Preferences& previous) {
                          handed.emplace_back(now.retentionDays, previous.retentionDays);
                      },
                      std::chrono::milliseconds(150)};

    Hold() {
        settings.setOnChange(
            [this](const Preferences& now, const Preferences&) { hold.apply(now); });
    }
    void setRetention(qint64 days) { settings.binding(&Preferences::retentionDays).set(days); }
};

TEST_F(Hold, LoweredRetentionWaitsAndOtherChangesGoAtOnce) {
    setRetention(60);
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed.back(), std::make_pair(qint64(60), qint64(30)));

    setRetention(7);
    settings.binding(&Preferences::quietMode).set(!settings.prefs().quietMode);
    // The other change went on with the retention still at 60.
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed.back().first, 60);
    EXPECT_TRUE(hold.holding());
    EXPECT_TRUE(QTest::qWaitFor([&] { return handed.size() == 3u; }, 3000));
    EXPECT_EQ(handed.back(), std::make_pair(qint64(7), qint64(60)));
    EXPECT_EQ(hold.handedOn(), settings.prefs());
}

TEST_F(Hold, RestoredOrClosedWithinTheWait) {
    setRetention(7);
    setRetention(30);
    QTest::qWait(400);
    EXPECT_TRUE(handed.empty()); // the lowered value never reached the model

    setRetention(5);
    hold.applyHeld(); // the Settings window closed
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed.back(), std::make_pair(qint64(5), qint64(30)));
    QTest::qWait(300);
    EXPECT_EQ(handed.size(), 1u);
}

} // namespace
