#pragma once

#include <QString>

namespace ostrel {

// The Settings window's texts that speak of the desktop itself, written for Linux desktops in
// one place: the tray in the top bar, the input-method switchers that take Ctrl+Space and
// Super+Space before any application, and what an update check sends.
namespace SettingsText {

inline const QString showInMenuBar = QStringLiteral("Show top bar icon");
inline const QString shortcutDetail = QStringLiteral("Opens and closes the shelf on display.");
inline const QString quietModeDetail =
    QStringLiteral("Hides the new-item signal and turns off “Open on hover”, leaving only the "
                   "keyboard shortcut.");
// Ctrl+Space alone.
inline const QString inputMethodWarning =
    QStringLiteral("Ctrl+Space switches input methods in IBus and Fcitx, which receives it first.");
// Super+Space alone.
inline const QString inputSourceWarning =
    QStringLiteral("Super+Space switches input sources on GNOME, which receives it first.");
inline const QString autoCheckDetail =
    QStringLiteral("Once a day, sending only the app and system versions.");
// Where Claude publishes pages, for the published-artifacts row of the Files pane.
inline const QString artifactHost = QStringLiteral("claude.ai");

} // namespace SettingsText

} // namespace ostrel
