// Ostrel's process entry. Until the shelf windows exist the application runs headless: it loads
// the user's settings, runs the capture engine for its whole life and reports what it collects.
#include "OstrelCore/Engine/Engine.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/Preferences.h"
#include "Platform/Log.h"
#include "Platform/OpenSsl.h"
#include "Platform/TerminationSignal.h"
#include "Platform/UserDefaults.h"

#include <QApplication>

using namespace ostrel;

int main(int argc, char** argv) {
    OpenSsl::init();
    TerminationSignal::block();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    UserDefaults defaults;
    const Preferences prefs = Preferences::load(defaults);
    const Engine::Config config = Engine::Config::make(prefs, Env::process());
    qCInfo(lcIngest).noquote() << "collecting into" << config.paths.supportDir.toLocalFile();

    const std::shared_ptr<Engine> engine = Engine::make(config);
    const Engine::Generation current = engine->generation();
    qsizetype shown = -1;
    engine->setOnSnapshot([&](const Snapshot& snapshot, Engine::Generation generation) {
        if (generation != current || snapshot.items.size() == shown) {
            return;
        }
        shown = snapshot.items.size();
        qCInfo(lcIngest).noquote() << "shelf:" << snapshot.items.size() << "items in"
                                   << snapshot.sessions.size() << "sessions";
    });
    engine->start(true);

    TerminationSignal termination([](int) { QApplication::quit(); });
    const int status = QApplication::exec();
    engine->stop();
    return status;
}
