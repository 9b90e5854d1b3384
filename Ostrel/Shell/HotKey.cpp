#include "Ostrel/Shell/HotKey.h"

#include "Ostrel/Shell/AppSettings.h"
#include "Platform/HotkeyKeys.h"
#include "Platform/X11/WindowSystem.h"

#include <QLoggingCategory>

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcHotKey, "app.ostrel.hotkey")

namespace ostrel {

namespace {

constexpr quint16 xShift = 0x01;
constexpr quint16 xLock = 0x02;
constexpr quint16 xControl = 0x04;
constexpr quint16 xMod1 = 0x08;
constexpr quint16 xMod4 = 0x40;

} // namespace

HotKey::HotKey(x11::WindowSystem* windows, qint64 keyCode, qint64 modifiers,
               std::function<void()> action, bool wayland)
    : windows_(windows), action_(std::move(action)) {
    if (wayland) {
        status_ = Status::wayland;
        return;
    }
    if (!windows_ || !windows_->isConnected()) {
        status_ = Status::noDisplay;
        return;
    }
    constexpr qint64 u32Max = std::numeric_limits<quint32>::max();
    const std::optional<quint32> keycode =
        HotkeyKeys::xKeycode(std::clamp<qint64>(keyCode, 0, u32Max));
    if (!keycode || !windows_->hasKey(*keycode)) {
        status_ = Status::noKey;
        return;
    }
    keycode_ = *keycode;
    modifiers_ = xModifiers(std::clamp<qint64>(modifiers, 0, u32Max));
    const quint16 numLock = windows_->numLockMask();
    locks_ = static_cast<quint16>(xLock | numLock);
    QList<quint16> variants{0, xLock};
    if (numLock != 0 && numLock != xLock) {
        variants += {numLock, static_cast<quint16>(numLock | xLock)};
    }
    status_ = Status::registered;
    for (const quint16 lock : variants) {
        const quint16 mask = static_cast<quint16>(modifiers_ | lock);
        const auto result = windows_->grabKey(keycode_, mask);
        if (result != x11::WindowSystem::GrabResult::grabbed) {
            // Half a grab would fire or not depending on the lock keys: all or none.
            status_ =
                result == x11::WindowSystem::GrabResult::taken ? Status::taken : Status::refused;
            for (const quint16 held : std::as_const(grabbed_)) {
                windows_->ungrabKey(keycode_, held);
            }
            grabbed_.clear();
            qCInfo(lcHotKey) << "the shortcut could not be grabbed:" << *errorText(status_);
            return;
        }
        grabbed_.append(mask);
    }
    connect(windows_, &x11::WindowSystem::grabbedKeyPressed, this, &HotKey::pressed);
    qCInfo(lcHotKey) << "the shortcut is registered";
}

HotKey::~HotKey() {
    if (windows_) {
        for (const quint16 held : std::as_const(grabbed_)) {
            windows_->ungrabKey(keycode_, held);
        }
    }
}

void HotKey::pressed(quint32 keycode, quint16 state) {
    const quint16 held = static_cast<quint16>(state & 0xff & ~locks_);
    if (keycode == keycode_ && held == modifiers_ && action_) {
        action_();
    }
}

std::optional<QString> HotKey::errorText(Status status) {
    switch (status) {
    case Status::registered:
        return std::nullopt;
    case Status::taken:
        return AppSettings::hotkeyTakenText;
    case Status::noKey:
        return QStringLiteral("This key is not on the keyboard in use. Choose a different one.");
    case Status::refused:
        return QStringLiteral(
            "The X server refused to grab this shortcut. Choose a different one.");
    case Status::noDisplay:
        return QStringLiteral("There is no X display to listen for this shortcut on.");
    case Status::wayland:
        return QStringLiteral(
            "This Wayland session offers no shortcut for the whole desktop. Open the shelf from "
            "the tray instead.");
    }
    return std::nullopt;
}

quint16 HotKey::xModifiers(qint64 modifiers) {
    quint16 mask = 0;
    if (modifiers & command) {
        mask |= xMod4;
    }
    if (modifiers & shift) {
        mask |= xShift;
    }
    if (modifiers & option) {
        mask |= xMod1;
    }
    if (modifiers & control) {
        mask |= xControl;
    }
    return mask;
}

bool HotKey::isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE")
               .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace ostrel
