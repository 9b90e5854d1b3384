#pragma once

#include "Ostrel/Model/DisplayInfo.h"
#include "OstrelCore/Records/Preferences.h"
#include "Platform/UserDefaults.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace ostrel {

// The user's preferences for the running application, kept in the user defaults, with the few
// things the Settings window shows beside them. Main thread only.
class AppSettings : public QObject {
    Q_OBJECT
public:
    // Shown under the shortcut recorder when the X server refuses the key grab because another
    // client holds the combination.
    static inline const QString hotkeyTakenText =
        QStringLiteral("Another app already uses this shortcut. Choose a different one.");
    // Shown under the launch-at-login switch, followed by the reason, when the autostart entry
    // could not be written.
    static inline const QString loginItemRefusedText =
        QStringLiteral("The system did not allow writing the autostart entry: ");

    using ChangeHandler = std::function<void(const Preferences& now, const Preferences& before)>;

    // A two-way handle on one field: reading gives the field of the current preferences, writing
    // assigns a copy of them with the field changed (so the change runs once per edit).
    template <typename T> struct Binding {
        AppSettings* settings;
        T Preferences::*field;
        T get() const { return settings->prefs().*field; }
        void set(const T& value) const {
            Preferences next = settings->prefs();
            next.*field = value;
            settings->setPrefs(next);
        }
    };

    // Loads the preferences from `defaults` (the user's standard store when none is given); a
    // store that still holds keys of earlier versions is rewritten once without them.
    explicit AppSettings(std::shared_ptr<UserDefaults> defaults = nullptr,
                         QObject* parent = nullptr);

    const Preferences& prefs() const { return prefs_; }
    // Stores the preferences; when they differ from the current ones, saves them and then calls
    // the change handler with the new and the previous value.
    void setPrefs(const Preferences& prefs);

    template <typename T> Binding<T> binding(T Preferences::*field) {
        return Binding<T>{this, field};
    }

    // Opening on hover is in effect.
    bool hoverOpens() const { return prefs_.hoverEnabled && !prefs_.quietMode; }

    // Writes every preference in one write of the defaults file, keeping the keys it does not
    // own. False when the file could not be written (the next change writes it all again).
    bool save();

    const std::optional<QString>& hotkeyError() const { return hotkeyError_; }
    void setHotkeyError(const std::optional<QString>& text);
    const std::optional<QString>& launchAtLoginError() const { return launchAtLoginError_; }
    void setLaunchAtLoginError(const std::optional<QString>& text);
    const QList<DisplayInfo>& displays() const { return displays_; }
    void setDisplays(const QList<DisplayInfo>& displays);

    const ChangeHandler& onChange() const { return onChange_; }
    void setOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

    const std::shared_ptr<UserDefaults>& defaults() const { return defaults_; }

signals:
    void prefsChanged();
    void hotkeyErrorChanged();
    void launchAtLoginErrorChanged();
    void displaysChanged();

private:
    std::shared_ptr<UserDefaults> defaults_;
    Preferences prefs_;
    std::optional<QString> hotkeyError_;
    std::optional<QString> launchAtLoginError_;
    QList<DisplayInfo> displays_;
    ChangeHandler onChange_;
};

} // namespace ostrel
