// One start of the capture engine over a given tree, for tests that need it in a process of its
// own (to kill it at any moment): bootstraps, waits for the first snapshot, stops (which writes
// the index) and exits 0. Given a file name, it crashes as it reads a picture of that name; given
// "killed" after it, another process sends it SIGSEGV then instead, to the reading thread.
//
//   engine_run <claude home> <scratch root> <support folder> <chrome root> [crash on name [killed]]
#include "OstrelCore/Engine/Engine.h"
#include "Platform/OpenSsl.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrel;

int main(int argc, char** argv) {
    const bool killed = argc == 7 && QByteArray(argv[6]) == "killed";
    sigset_t segv;
    sigemptyset(&segv);
    sigaddset(&segv, SIGSEGV);
    if (killed) {
        // Blocked before any thread starts, so every thread inherits it: only the reading
        // thread, which lets it through, can take the signal a kill sends the whole process.
        pthread_sigmask(SIG_BLOCK, &segv, nullptr);
    }
    OpenSsl::init();
    QCoreApplication app(argc, argv);
    if (argc != 5 && argc != 6 && !killed) {
        std::fprintf(stderr, "usage: engine_run <claude home> <scratch> <support> <chrome> "
                             "[crash on name [killed]]\n");
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    const Environment env{{"OSTREL_CLAUDE_HOME", QString::fromLocal8Bit(argv[1])},
                          {"OSTREL_SCRATCH_ROOT", QString::fromLocal8Bit(argv[2])},
                          {"OSTREL_SUPPORT_DIR", QString::fromLocal8Bit(argv[3])}};
    auto config = Engine::Config::make(Preferences(), env);
    config.paths.chromeRoot = OstrelPaths::folderURL(QString::fromLocal8Bit(argv[4]));
    EngineTiming timing;
    if (argc >= 6) {
        timing.duringRead = [name = u'/' + QString::fromLocal8Bit(argv[5]), killed,
                             segv](const QString& what) {
            if (!what.endsWith(name)) {
                return;
            }
            if (!killed) {
                std::abort();
            }
            pthread_sigmask(SIG_UNBLOCK, &segv, nullptr);
            const pid_t self = getpid();
            const pid_t child = fork();
            if (child == 0) {
                kill(self, SIGSEGV);
                _exit(0);
            }
            // The signal ends the process; one that is swallowed lets the read go on.
            while (child > 0 && waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            usleep(200 * 1000);
        };
    }
    auto engine = Engine::make(config, &Date::now, nullptr, timing);
    engine->setOnSnapshot([&engine](const Snapshot&, Engine::Generation) {
        engine->stop();
        QCoreApplication::quit();
    });
    engine->start(false);
    app.exec();
    engine.reset();
    return 0;
}
