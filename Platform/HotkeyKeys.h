#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace ostrel {

// The stored shortcut keeps the positional key codes of the original keyboard (Space is 49), so
// settings files stay interchangeable. This table maps them to X key codes (evdev codes + 8, the
// layout-independent physical key) and back: the hot-key grab goes one way, the shortcut
// recorder the other.
namespace HotkeyKeys {

// The X key code for a stored key code; none for keys the table does not know.
std::optional<quint32> xKeycode(qint64 keyCode);
// The stored key code for an X key code (what a key event carries as its native scan code).
std::optional<qint64> keyCode(quint32 xKeycode);

// The key's symbol name on a US layout ("space", "a", "F1"); empty for keys the table does not
// know.
QString keyName(qint64 keyCode);

// The stored key code of Escape, which cancels recording.
inline constexpr qint64 escape = 53;

} // namespace HotkeyKeys

} // namespace ostrel
