#include "Ostrel/Model/AppSettings.h"

#include "Platform/Log.h"
#include "Platform/MainClock.h"

#include <QThread>

namespace ostrel {

AppSettings::AppSettings(std::shared_ptr<UserDefaults> defaults, QObject* parent)
    : QObject(parent), defaults_(defaults ? std::move(defaults) : std::make_shared<UserDefaults>()),
      prefs_(Preferences::load(*defaults_)) {}

void AppSettings::setPrefs(const Preferences& prefs) {
    Q_ASSERT(MainClock::onMainThread());
    if (prefs == prefs_) {
        return;
    }
    const Preferences before = prefs_;
    prefs_ = prefs;
    save();
    emit prefsChanged();
    if (onChange_) {
        onChange_(prefs_, before);
    }
}

bool AppSettings::save() {
    if (prefs_.save(*defaults_)) {
        return true;
    }
    qCWarning(lcPlatform).noquote() << "preferences not saved:" << defaults_->path();
    return false;
}

void AppSettings::setHotkeyError(const std::optional<QString>& text) {
    if (text != hotkeyError_) {
        hotkeyError_ = text;
        emit hotkeyErrorChanged();
    }
}

void AppSettings::setLaunchAtLoginError(const std::optional<QString>& text) {
    if (text != launchAtLoginError_) {
        launchAtLoginError_ = text;
        emit launchAtLoginErrorChanged();
    }
}

void AppSettings::setDisplays(const QList<DisplayInfo>& displays) {
    if (displays != displays_) {
        displays_ = displays;
        emit displaysChanged();
    }
}

} // namespace ostrel
