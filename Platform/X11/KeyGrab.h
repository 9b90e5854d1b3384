#pragma once

#include "Platform/GlobalShortcut.h"

#include <QList>

namespace ostrel::x11 {

class WindowSystem;

// The shortcut as a key grab on the root window, taken for every lock state (none, CapsLock,
// NumLock, both) so that it fires whatever the lock keys say. All variants or none: one refused
// variant releases those already taken. Released when the object goes.
class KeyGrab : public GlobalShortcut {
    Q_OBJECT
public:
    // `windows` may be null (no X display). `keycode` and `modifiers` are the X ones.
    KeyGrab(WindowSystem* windows, quint32 keycode, quint16 modifiers, QObject* parent = nullptr);
    ~KeyGrab() override;

private:
    void pressed(quint32 keycode, quint16 state);

    WindowSystem* windows_;
    quint32 keycode_;
    quint16 modifiers_;
    quint16 locks_ = 0;
    QList<quint16> grabbed_;
};

} // namespace ostrel::x11
