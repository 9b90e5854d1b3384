#include "Platform/X11/KeyGrab.h"

#include "Platform/X11/WindowSystem.h"

namespace ostrel::x11 {

namespace {

constexpr quint16 xLock = 0x02;

} // namespace

KeyGrab::KeyGrab(WindowSystem* windows, quint32 keycode, quint16 modifiers, QObject* parent)
    : GlobalShortcut(parent), windows_(windows), keycode_(keycode), modifiers_(modifiers) {
    if (!windows_ || !windows_->isConnected()) {
        setStatus(Status::noDisplay);
        return;
    }
    if (!windows_->hasKey(keycode_)) {
        setStatus(Status::noKey);
        return;
    }
    const quint16 numLock = windows_->numLockMask();
    locks_ = static_cast<quint16>(xLock | numLock);
    QList<quint16> variants{0, xLock};
    if (numLock != 0 && numLock != xLock) {
        variants += {numLock, static_cast<quint16>(numLock | xLock)};
    }
    for (const quint16 lock : variants) {
        const quint16 mask = static_cast<quint16>(modifiers_ | lock);
        const auto result = windows_->grabKey(keycode_, mask);
        if (result != WindowSystem::GrabResult::grabbed) {
            // Half a grab would fire or not depending on the lock keys: all or none.
            for (const quint16 held : std::as_const(grabbed_)) {
                windows_->ungrabKey(keycode_, held);
            }
            grabbed_.clear();
            setStatus(result == WindowSystem::GrabResult::taken ? Status::taken : Status::refused);
            return;
        }
        grabbed_.append(mask);
    }
    connect(windows_, &WindowSystem::grabbedKeyPressed, this, &KeyGrab::pressed);
    setStatus(Status::registered);
}

KeyGrab::~KeyGrab() {
    if (windows_) {
        for (const quint16 held : std::as_const(grabbed_)) {
            windows_->ungrabKey(keycode_, held);
        }
    }
}

void KeyGrab::pressed(quint32 keycode, quint16 state) {
    const quint16 held = static_cast<quint16>(state & 0xff & ~locks_);
    if (keycode == keycode_ && held == modifiers_) {
        emit activated();
    }
}

} // namespace ostrel::x11
