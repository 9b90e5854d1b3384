#pragma once

#include "Ostrel/Model/AppSettings.h"
#include "OstrelCore/Records/Preferences.h"

#include <functional>

namespace ostrel {

// How a control reads the current preferences and hands back a whole changed record.
struct PrefsAccess {
    std::function<Preferences()> read;
    std::function<void(const Preferences&)> write;

    static PrefsAccess of(AppSettings& settings) {
        return {[&settings] { return settings.prefs(); },
                [&settings](const Preferences& prefs) { settings.setPrefs(prefs); }};
    }
};

} // namespace ostrel
