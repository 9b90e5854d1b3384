#include "Platform/ProcessEnd.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

// Threads that post to the main thread while the application object is destroyed (a thumbnail
// decode ending as the process exits) are refused instead of posting into freed memory. The race
// is run in processes of its own, a few times over; freed memory is overwritten under the address
// sanitizer, which cannot see the read inside Qt, so that the stale read crashes there too.
TEST(HandOff, PostsToTheMainThreadWhileTheApplicationGoesAwayAreRefused) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               asan + (asan.isEmpty() ? QString() : QStringLiteral(":")) +
                   QStringLiteral("max_free_fill_size=4096:free_fill_byte=255"));
    for (int run = 0; run < 10; ++run) {
        QProcess helper;
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral(OSTREL_POST_AT_TEARDOWN), {});
        ASSERT_TRUE(helper.waitForFinished(60000)) << run;
        EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit) << run;
        EXPECT_EQ(helper.exitCode(), 0) << run << helper.readAllStandardError().toStdString();
    }
}

// An exit() from a worker while the application goes away does not wait for a farewell the main
// thread will never run: the hand-off is refused.
TEST(HandOff, AnExitWhileTheApplicationGoesAwayWaitsForNoHandOff) {
    QProcess helper;
    helper.start(QStringLiteral(OSTREL_POST_AT_TEARDOWN), {QStringLiteral("exit")});
    ASSERT_TRUE(helper.waitForFinished(ostrel::ProcessEnd::handOffLimitMs / 2));
    EXPECT_EQ(helper.exitCode(), 4) << helper.readAllStandardError().toStdString();
}
