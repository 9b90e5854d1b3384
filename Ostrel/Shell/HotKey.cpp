#include "Ostrel/Shell/HotKey.h"

#include "Ostrel/Model/AppSettings.h"
#include "Platform/HotkeyKeys.h"
#include "Platform/PortalShortcut.h"
#include "Platform/X11/KeyGrab.h"

#include <QLoggingCategory>

#include <algorithm>
#include <limits>

Q_LOGGING_CATEGORY(lcHotKey, "app.ostrel.hotkey")

namespace ostrel {

namespace {

constexpr quint16 xShift = 0x01;
constexpr quint16 xControl = 0x04;
constexpr quint16 xMod1 = 0x08;
constexpr quint16 xMod4 = 0x40;

constexpr qint64 u32Max = std::numeric_limits<quint32>::max();

qint64 clampedU32(qint64 value) {
    return std::clamp<qint64>(value, 0, u32Max);
}

} // namespace

HotKey::HotKey(x11::WindowSystem* windows, qint64 keyCode, qint64 modifiers,
               std::function<void()> action, bool wayland, const QDBusConnection* bus)
    : action_(std::move(action)) {
    keyCode = clampedU32(keyCode);
    modifiers = clampedU32(modifiers);
    const std::optional<quint32> keycode = HotkeyKeys::xKeycode(keyCode);
    if (!keycode) {
        qCInfo(lcHotKey) << "the stored key code" << keyCode << "names no key";
        return;
    }
    if (wayland) {
        shortcut_ = std::make_unique<PortalShortcut>(
            bus ? *bus : QDBusConnection::sessionBus(), QStringLiteral("toggle-shelf"),
            QStringLiteral("Show or hide the shelf"), portalTrigger(keyCode, modifiers));
    } else {
        shortcut_ = std::make_unique<x11::KeyGrab>(windows, *keycode, xModifiers(modifiers));
    }
    connect(shortcut_.get(), &GlobalShortcut::activated, this, [this] {
        if (action_) {
            action_();
        }
    });
    connect(shortcut_.get(), &GlobalShortcut::statusChanged, this, [this](Status status) {
        if (const auto text = errorText(status)) {
            qCInfo(lcHotKey).noquote() << "the shortcut could not be registered:" << *text;
        }
        emit statusChanged(status);
    });
    if (const auto text = errorText(shortcut_->status())) {
        qCInfo(lcHotKey).noquote() << "the shortcut could not be registered:" << *text;
    } else if (shortcut_->status() == Status::registered) {
        qCInfo(lcHotKey) << "the shortcut is registered";
    }
}

HotKey::~HotKey() = default;

std::optional<QString> HotKey::errorText(Status status) {
    switch (status) {
    case Status::pending:
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
    case Status::portalRefused:
        return QStringLiteral("The desktop did not allow this shortcut. Choose a different one, "
                              "or allow it in the desktop's settings.");
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

QString HotKey::portalTrigger(qint64 keyCode, qint64 modifiers) {
    return PortalShortcut::trigger(modifiers & control, modifiers & option, modifiers & shift,
                                   modifiers & command, HotkeyKeys::keyName(keyCode));
}

bool HotKey::isWaylandSession() {
    if (qEnvironmentVariable("XDG_SESSION_TYPE")
            .compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace ostrel
