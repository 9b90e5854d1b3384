// The real binary on a private X server: the first-run greeting, a second launch, one shelf per
// support folder, autostart.
#include "OstrelCore/Display/DisplayLayout.h"
#include "Platform/AutostartEntry.h"
#include "support/NoisePicture.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QFile>
#include <QJsonArray>
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

// The first card of the open rail drawer at the top of a 1920 x 1080 screen, in X coordinates.
QRect firstCard() {
    const QRectF frame(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    const QPoint drawer(qRound(r.x()), qRound(1080 - (r.y() + r.height())));
    return QRect(drawer.x() + 207, drawer.y() + 57, 160, 120);
}

bool colourful(QColor c) {
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60;
}

// Two displays of one user share the support folder, and so the index: a launch on the second
// says where the shelf runs and ends, so that it never writes back the index it read over a
// deletion made on the first.
TEST(ShellEndToEnd, ALaunchOnAnotherDisplayOverTheSameIndexEnds) {
    XServer first;
    XServer second;
    ASSERT_TRUE(first.ok() && second.ok()) << first.error().toStdString();
    ASSERT_TRUE(noisePicture(200, 150, 5).save(first.scratchpad() + "/chart.png"));
    ASSERT_TRUE(first.startApp(OSTREL_BINARY));
    const auto index = [&] {
        return QJsonDocument::fromJson(first.home().read("data/Ostrel/index.json")).object();
    };
    const auto deleted = [&] {
        return index().value("items").toArray().isEmpty() &&
               index().value("deleted").toObject().size() == 1;
    };
    ASSERT_TRUE(waitUntil([&] { return index().value("items").toArray().size() == 1; }, 30))
        << first.appLog().toStdString();

    QProcessEnvironment shared;
    shared.insert("XDG_RUNTIME_DIR", first.home().file("runtime"));
    shared.insert("XDG_DATA_HOME", first.home().file("data"));
    ASSERT_TRUE(second.startApp(OSTREL_BINARY, {}, shared));
    waitUntil([&] { return second.app()->state() == QProcess::NotRunning; }, 10);

    // Deleted from the card's menu on the first display; the held deletion is committed as it
    // ends.
    first.moveTo(QPoint(960, 2));
    const QRect card = firstCard();
    const auto cardShows = [&] {
        const QImage shot = first.capture(card);
        int n = 0;
        for (int y = 0; y < shot.height(); y += 4) {
            for (int x = 0; x < shot.width(); x += 4) {
                n += colourful(shot.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n > 300;
    };
    ASSERT_TRUE(waitUntil(cardShows, 20)) << first.appLog().toStdString();
    first.moveTo(card.center());
    pump(0.1);
    first.click(3);
    pump(0.5);
    for (int i = 0; i < 7; ++i) {
        first.key(QStringLiteral("Down")); // to "Delete"
    }
    first.key(QStringLiteral("Return"));
    // The card goes as the deletion is held; only then may the application be ended.
    EXPECT_TRUE(waitUntil([&] { return !cardShows(); })) << first.appLog().toStdString();
    EXPECT_EQ(first.stopApp(), 0);
    EXPECT_TRUE(deleted());
    EXPECT_FALSE(showsWindow(first, "Settings"));

    EXPECT_EQ(second.stopApp(), 1);
    EXPECT_TRUE(second.appLog().contains("the shelf already runs on display " + first.display() +
                                         " with the same support folder"))
        << second.appLog().toStdString();
    EXPECT_TRUE(deleted());

    // Once the first has ended, the second display keeps the shelf, without the deleted item.
    ASSERT_TRUE(second.startApp(OSTREL_BINARY, {}, shared));
    EXPECT_TRUE(waitUntil([&] { return !second.appWindows().isEmpty(); }, 20))
        << second.appLog().toStdString();
    EXPECT_EQ(second.stopApp(), 0);
    EXPECT_TRUE(deleted());
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
