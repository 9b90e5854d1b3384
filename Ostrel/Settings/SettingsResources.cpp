#include "Ostrel/Settings/SettingsResources.h"

#include <QtGlobal>

#include <mutex>

static void loadSettingsResources() {
    Q_INIT_RESOURCE(Settings);
}

namespace ostrel::SettingsResources {

void ensureLoaded() {
    static std::once_flag once;
    std::call_once(once, loadSettingsResources);
}

} // namespace ostrel::SettingsResources
