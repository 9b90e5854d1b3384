#include "Platform/Desktop.h"
#include "Platform/MainClock.h"
#include "Platform/MainTask.h"
#include "Platform/SystemDesktop.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QFile>
#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(Desktop, TheOpenerNeverGetsWhatItWouldRun) {
    TempDir dir;
    const QString picture = dir.write("chart.png", QByteArray("\x89PNG\r\n\x1a\n", 8));
    const QString script = dir.write("build.sh", "#!/bin/sh\necho hi\n");
    const QString launcher = dir.write("app.desktop", "[Desktop Entry]\nExec=xterm\n");
    const QString binary = dir.write("tool", "\x7f"
                                             "ELF");
    QFile::setPermissions(binary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(Desktop::mayOpen(picture));
    EXPECT_TRUE(Desktop::mayOpen(dir.path()));
    EXPECT_FALSE(Desktop::mayOpen(script));
    EXPECT_FALSE(Desktop::mayOpen(launcher));
    EXPECT_FALSE(Desktop::mayOpen(binary));

    EXPECT_TRUE(Desktop::isReadableFile(picture));
    EXPECT_FALSE(Desktop::isReadableFile(dir.path()));
    EXPECT_FALSE(Desktop::isReadableFile(dir.file("missing")));
    ASSERT_EQ(::symlink(QFile::encodeName(picture).constData(),
                        QFile::encodeName(dir.file("link.png")).constData()),
              0);
    EXPECT_FALSE(Desktop::isReadableFile(dir.file("link.png")));
}

TEST(MainClock, StepsRunAtTheirDeadlineUnlessCancelledOrTheirContextIsGone) {
    auto clock = std::make_shared<ManualMainClock>();
    QStringList ran;
    auto context = std::make_unique<QObject>();
    clock->after(1.0, nullptr, [&] { ran << "plain"; });
    clock->after(0.5, context.get(), [&] { ran << "context"; });
    MainClock::Handle cancelled = clock->after(0.2, nullptr, [&] { ran << "cancelled"; });
    cancelled.cancel();
    context.reset();
    EXPECT_EQ(clock->advance(0.99), 0);
    EXPECT_EQ(clock->advance(0.02), 1);
    EXPECT_EQ(ran, QStringList{"plain"});

    // A task keeps one step: a new one replaces the pending one; going away cancels it.
    {
        MainTask task(clock);
        task.after(1.0, nullptr, [&] { ran << "first"; });
        task.pause(1.0, 2.0, nullptr, [&] { ran << "second"; });
        EXPECT_TRUE(task.isPending());
        clock->advance(1.5);
        EXPECT_TRUE(task.isPending());
        clock->advance(0.6);
        EXPECT_FALSE(task.isPending());
        task.after(1.0, nullptr, [&] { ran << "dropped"; });
    }
    clock->advance(5);
    EXPECT_EQ(ran, (QStringList{"plain", "second"}));
}

TEST(Desktop, TheOpenerGetsAbsoluteAddressesAndTheUsersEnvironment) {
    // A recording opener first in PATH; this process's environment stands for ours.
    TempDir dir;
    const QString opener =
        dir.write("bin/xdg-open", QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1/args'\n"
                                                 "printenv OSTREL_PROBE >> '%1/args'\n")
                                      .arg(dir.path())
                                      .toUtf8());
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (dir.file("bin") + ':' + qEnvironmentVariable("PATH")).toUtf8());
    qputenv("OSTREL_PROBE", "ours");

    SystemDesktop desktop;
    desktop.open(QUrl(QStringLiteral("-option-like")));
    desktop.open(QUrl(QStringLiteral("https://example.com/a b")));
    ASSERT_TRUE(waitUntil([&] { return !dir.read("args").isEmpty(); }, 10));
    pump(0.3);
    // Only the absolute address reached it, and without our variables.
    EXPECT_EQ(dir.read("args"), QByteArray("https://example.com/a%20b\n"));

    QProcessEnvironment ours;
    for (const char* name : {"QT_QPA_PLATFORM", "QT_PLUGIN_PATH", "LD_PRELOAD",
                             "OSTREL_MOTION_SCALE", "QT_QPA_PLATFORMTHEME", "DISPLAY", "PATH"}) {
        ours.insert(QLatin1String(name), QStringLiteral("x"));
    }
    EXPECT_EQ(SystemDesktop::childEnvironment(ours).keys(),
              (QStringList{"DISPLAY", "PATH", "QT_QPA_PLATFORMTHEME"}));
}
