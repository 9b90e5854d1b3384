#pragma once

#include <QHash>
#include <QString>
#include <Qt>

#include <optional>

namespace ostrel {

// How a stored shortcut reads: the modifiers named the way Linux desktops name them, joined by
// "+", then the key ("Ctrl+Alt+Shift+Super+K", "Alt+Space").
namespace HotkeyText {

// Modifier bits of the stored mask.
inline constexpr qint64 command = 256; // Super
inline constexpr qint64 shift = 512;
inline constexpr qint64 option = 2048; // Alt
inline constexpr qint64 control = 4096;

// Key code to key name, for the 68 keys that have one.
const QHash<qint64, QString>& keyNames();

// Other bits of the mask are ignored; a key without a name reads "Key " and its code.
QString describe(qint64 keyCode, qint64 modifiers);

// The stored mask of the held modifiers; every other flag (keypad, group switch) is dropped.
qint64 carbonModifiers(Qt::KeyboardModifiers flags);

} // namespace HotkeyText

} // namespace ostrel
