#include "Ostrel/Shell/LoginItem.h"

#include "Ostrel/Model/AppSettings.h"

namespace ostrel {

LoginItem::LoginItem(AppSettings& settings, AutostartEntry entry)
    : settings_(settings), entry_(std::move(entry)) {}

void LoginItem::sync() {
    const bool enabled = entry_.enabled();
    if (enabled) {
        settings_.setLaunchAtLoginError(std::nullopt);
    }
    if (settings_.prefs().launchAtLogin == enabled) {
        return;
    }
    syncing_ = true;
    Preferences next = settings_.prefs();
    next.launchAtLogin = enabled;
    settings_.setPrefs(next);
    syncing_ = false;
}

void LoginItem::changed(bool on) {
    if (syncing_) {
        return;
    }
    const auto refused = on ? entry_.enable() : entry_.disable();
    if (refused) {
        // The preference keeps what the user chose; the next sync shows the desktop's state.
        settings_.setLaunchAtLoginError(AppSettings::loginItemRefusedText + *refused);
    } else {
        settings_.setLaunchAtLoginError(std::nullopt);
    }
}

} // namespace ostrel
