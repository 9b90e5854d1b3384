#include "Ostrel/Shell/SettingsHold.h"

#include "Ostrel/Model/AppSettings.h"

namespace ostrel {

SettingsHold::SettingsHold(AppSettings& settings, Apply apply, std::chrono::milliseconds hold,
                           QObject* parent)
    : QObject(parent), settings_(settings), apply_(std::move(apply)), handedOn_(settings.prefs()) {
    // A fixed pause for the user's typing, not an animation: the motion scale does not apply.
    timer_.setSingleShot(true);
    timer_.setInterval(hold);
    connect(&timer_, &QTimer::timeout, this, &SettingsHold::applyHeld);
}

void SettingsHold::reset() {
    timer_.stop();
    handedOn_ = settings_.prefs();
}

void SettingsHold::apply(const Preferences& next) {
    timer_.stop();
    Preferences effective = next;
    if (next.retentionDays < handedOn_.retentionDays) {
        effective.retentionDays = handedOn_.retentionDays;
        timer_.start();
    }
    handOn(effective);
}

void SettingsHold::applyHeld() {
    timer_.stop();
    handOn(settings_.prefs());
}

void SettingsHold::handOn(const Preferences& prefs) {
    if (prefs == handedOn_) {
        return;
    }
    const Preferences previous = handedOn_;
    handedOn_ = prefs;
    if (apply_) {
        apply_(prefs, previous);
    }
}

} // namespace ostrel
