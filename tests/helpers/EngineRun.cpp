// One start of the capture engine over a given tree, for tests that need it in a process of its
// own (to kill it at any moment): bootstraps, waits for the first snapshot, stops (which writes
// the index) and exits 0. Given a file name, it crashes as it reads a picture of that name.
//
//   engine_run <claude home> <scratch root> <support folder> <chrome root> [crash on name]
#include "OstrelCore/Engine/Engine.h"
#include "Platform/OpenSsl.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

using namespace ostrel;

int main(int argc, char** argv) {
    OpenSsl::init();
    QCoreApplication app(argc, argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: engine_run <claude home> <scratch> <support> <chrome> "
                             "[crash on name]\n");
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    const Environment env{{"OSTREL_CLAUDE_HOME", QString::fromLocal8Bit(argv[1])},
                          {"OSTREL_SCRATCH_ROOT", QString::fromLocal8Bit(argv[2])},
                          {"OSTREL_SUPPORT_DIR", QString::fromLocal8Bit(argv[3])}};
    auto config = Engine::Config::make(Preferences(), env);
    config.paths.chromeRoot = OstrelPaths::folderURL(QString::fromLocal8Bit(argv[4]));
    EngineTiming timing;
    if (argc == 6) {
        timing.duringRead = [name = u'/' + QString::fromLocal8Bit(argv[5])](const QString& what) {
            if (what.endsWith(name)) {
                std::abort();
            }
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
