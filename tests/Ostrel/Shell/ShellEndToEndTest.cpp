// The real binary on a private X server: the first-run greeting, a second launch, autostart.
#include "Platform/AutostartEntry.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Whether a shown window of ours has this exact title.
bool showsWindow(XServer& x, const QString& title) {
    return !x.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).trimmed().isEmpty();
}

TEST(ShellEndToEnd, GreetsOnceAndASecondLaunchOpensSettings) {
    XServer::Options options;
    options.windowManager = true;
    XServer x(options);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.greeted = false;
    // Launch at login was on, but the desktop has no entry: the desktop's state wins.
    x.home().write("config/Ostrel/defaults.json",
                   QJsonDocument(QJsonObject{{"launchAtLogin", true}}).toJson());
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Welcome to Ostrel"); }, 30))
        << x.appLog().toStdString();
    const auto stored = [&] {
        return QJsonDocument::fromJson(x.home().read("config/Ostrel/defaults.json")).object();
    };
    EXPECT_TRUE(stored().value("shownWelcome").toBool());
    EXPECT_FALSE(stored().value("launchAtLogin").toBool());

    QProcess second;
    QProcessEnvironment env = x.environment();
    second.setProcessEnvironment(env);
    second.start(OSTREL_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Settings"); }, 20))
        << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);

    // Greeted once, never again; with Claude Code's projects folder missing, the folders pane
    // opens instead, once.
    x.greeted = false;
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Settings"); }, 30))
        << x.appLog().toStdString();
    EXPECT_FALSE(showsWindow(x, "Welcome to Ostrel"));
    EXPECT_TRUE(stored().value("shownMissingClaudeFolder").toBool());
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShellEndToEnd, AutostartEntryOnAtLaunchFollowsTheDesktop) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString path = x.home().file("config/autostart/ostrel.desktop");
    // An entry the user (or an earlier run) left for this binary turns the preference on.
    x.home().write("config/autostart/ostrel.desktop", AutostartEntry::contents(OSTREL_BINARY));
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    const auto stored = [&] {
        return QJsonDocument::fromJson(x.home().read("config/Ostrel/defaults.json")).object();
    };
    EXPECT_TRUE(waitUntil([&] { return stored().value("launchAtLogin").toBool(); }, 30))
        << x.appLog().toStdString();
    EXPECT_TRUE(AutostartEntry(path, OSTREL_BINARY).enabled());
    EXPECT_EQ(x.stopApp(), 0);
}

} // namespace
