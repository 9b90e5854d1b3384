// Ostrel's process entry. For now the application runs headless: it loads the user's settings,
// opens the index in the support folder and keeps it until it is asked to stop.
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Preferences.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/Log.h"
#include "Platform/SerialQueue.h"
#include "Platform/TerminationSignal.h"
#include "Platform/UserDefaults.h"

#include <QApplication>

using namespace ostrel;

int main(int argc, char** argv) {
    TerminationSignal::block();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    UserDefaults defaults;
    const Preferences prefs = Preferences::load(defaults.dictionary());
    // Settings from earlier versions are migrated once: write them back without retired keys.
    const bool hasRetired =
        std::any_of(Preferences::retiredKeys.begin(), Preferences::retiredKeys.end(),
                    [&](const QString& key) { return defaults.contains(key); });
    if (hasRetired) {
        QStringList removed = Preferences::retiredKeys;
        if (!prefs.claudeHome) {
            removed.append(QStringLiteral("claudeHome"));
        }
        if (!prefs.scratchRoot) {
            removed.append(QStringLiteral("scratchRoot"));
        }
        defaults.apply(prefs.dictionary(), removed);
    }

    const OstrelPaths paths =
        OstrelPaths::resolve(Env::process(), prefs.claudeHome, prefs.scratchRoot);
    auto queue = SerialQueue::make(QStringLiteral("app.ostrel.engine"));
    std::shared_ptr<Store> store;
    queue->sync([&] { store = Store::make(paths.supportDir, &Date::now, queue); });
    qCInfo(lcStore).noquote() << "index in" << paths.supportDir.toLocalFile() << "with"
                              << store->items().size() << "items";

    TerminationSignal termination([&](int) { QApplication::quit(); });
    const int status = QApplication::exec();
    queue->sync([&] {
        store->flush();
        store.reset();
    });
    return status;
}
