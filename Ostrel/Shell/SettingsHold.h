#pragma once

#include "OstrelCore/Records/Preferences.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace ostrel {

class AppSettings;

// Hands the user's settings on to the model, holding a lowered retention back for a moment so
// that the engine drops nothing while the user is still typing the number. Main thread only.
class SettingsHold : public QObject {
    Q_OBJECT
public:
    using Apply = std::function<void(const Preferences& now, const Preferences& previous)>;
    static constexpr std::chrono::milliseconds standardHold{1500};

    SettingsHold(AppSettings& settings, Apply apply, std::chrono::milliseconds hold = standardHold,
                 QObject* parent = nullptr);

    // The settings last handed on.
    const Preferences& handedOn() const { return handedOn_; }
    // Takes the current settings as the ones the model started with.
    void reset();
    bool holding() const { return timer_.isActive(); }

    // Hands `next` on, except a retention lower than the one handed on, which waits; each call
    // restarts the wait.
    void apply(const Preferences& next);
    // Hands the current settings on at once (the wait ended, or the Settings window closed).
    void applyHeld();

private:
    void handOn(const Preferences& prefs);

    AppSettings& settings_;
    Apply apply_;
    Preferences handedOn_;
    QTimer timer_;
};

} // namespace ostrel
