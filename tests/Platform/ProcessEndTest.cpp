#include "Platform/ProcessEnd.h"
#include "Platform/TerminationSignal.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

using namespace ostrel;

namespace {

// Says on stderr when and where the farewell ran, for the ending process's output to be matched.
void sayFarewell(bool late) {
    std::fprintf(stderr, "farewell %s on the %s thread\n", late ? "late" : "on time",
                 QThread::currentThread() == qApp->thread() ? "main" : "other");
}

struct ProcessEndTest : ::testing::Test {
    // Each ending runs in a fresh process of this binary, with its own application.
    ProcessEndTest() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Qt's xcb plugin warns, then calls exit(1): the farewell comes between, with everything alive.
TEST_F(ProcessEndTest, TheLastWordsOfABrokenXConnectionComeBeforeExit) {
    EXPECT_EXIT(
        {
            ProcessEnd end(sayFarewell);
            qWarning("The X11 connection broke (error 1). Did the X11 server die?");
            std::fputs("still here\n", stderr);
            std::exit(1);
        },
        ::testing::ExitedWithCode(1), "farewell on time on the main thread\nstill here");
}

// Any other exit(), here from another thread while the main thread goes on: late, and on the
// main thread, which the exiting thread waits for however long saving takes.
TEST_F(ProcessEndTest, AnExitFromAnotherThreadIsSaidFarewellOnTheMainThread) {
    EXPECT_EXIT(
        {
            ProcessEnd end([](bool late) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sayFarewell(late);
            });
            std::thread([] { std::exit(3); }).detach();
            QCoreApplication::exec();
        },
        ::testing::ExitedWithCode(3), "farewell late on the main thread");
}

TEST_F(ProcessEndTest, AFatalMessageIsSaidFarewellBeforeTheAbort) {
    EXPECT_DEATH(
        {
            ProcessEnd end(sayFarewell);
            qFatal("beyond repair");
        },
        "beyond repair\nfarewell on time on the main thread");
}

// A termination signal that comes while the main thread is busy (a launch making its windows) is
// noticed at once on another thread, and still read by the main thread once it is back in its
// loop.
TEST_F(ProcessEndTest, ATerminationSignalIsNoticedAtOnceWhileTheMainThreadIsBusy) {
    EXPECT_EXIT(
        {
            TerminationSignal::block();
            std::atomic<bool> noticed{false};
            {
                const TerminationSignal signal(
                    [](int number) {
                        std::fprintf(stderr, "read %d\n", number);
                        QCoreApplication::quit();
                    },
                    [&noticed] { noticed = true; });
                ::kill(::getpid(), SIGTERM);
                for (int i = 0; i < 2000 && !noticed; ++i) {
                    QThread::msleep(5);
                }
                std::fputs(noticed ? "noticed while busy\n" : "not noticed\n", stderr);
                QCoreApplication::exec();
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "noticed while busy\nread 15");
}

// `nohup ostrel &`: a hang-up and an interrupt ignored from launch stay ignored, and a SIGTERM,
// ignored too, still quits. The handler ends with the number of the first signal it reads.
TEST_F(ProcessEndTest, SignalsIgnoredAtLaunchStayIgnoredButTermination) {
    EXPECT_EXIT(
        {
            for (const int number : {SIGHUP, SIGINT, SIGTERM}) {
                std::signal(number, SIG_IGN);
            }
            TerminationSignal::block();
            const TerminationSignal signal([](int number) { std::exit(number); });
            for (const int number : {SIGHUP, SIGINT, SIGTERM}) {
                ::kill(::getpid(), number);
            }
            QTimer::singleShot(10000, [] { std::exit(0); });
            QCoreApplication::exec();
        },
        ::testing::ExitedWithCode(SIGTERM), "");
}

} // namespace
