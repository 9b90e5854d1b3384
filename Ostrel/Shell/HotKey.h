#pragma once

#include "Platform/GlobalShortcut.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace ostrel {

namespace x11 {
class WindowSystem;
}

// One registration of the global shortcut from the stored key code and modifiers: an X key grab,
// or on a Wayland session (where an X grab fires only while one of our windows has the focus)
// the desktop portal. A registration never changes; a new shortcut is a new HotKey.
class HotKey : public QObject {
    Q_OBJECT
public:
    using Status = GlobalShortcut::Status;

    // Stored modifier bits (as the settings keep them).
    static constexpr qint64 command = 256;
    static constexpr qint64 shift = 512;
    static constexpr qint64 option = 2048;
    static constexpr qint64 control = 4096;

    // `windows` may be null (no X display). On a Wayland session the portal is asked over `bus`,
    // the session bus when none is given (touched only then).
    HotKey(x11::WindowSystem* windows, qint64 keyCode, qint64 modifiers,
           std::function<void()> action, bool wayland = isWaylandSession(),
           const QDBusConnection* bus = nullptr);
    ~HotKey() override;

    Status status() const { return shortcut_ ? shortcut_->status() : Status::noKey; }
    // The sentence shown under the shortcut recorder; none when registered or still pending.
    static std::optional<QString> errorText(Status status);

    // The X modifier mask of stored modifier bits: command → Mod4, option → Mod1; bits the
    // settings do not define are left out.
    static quint16 xModifiers(qint64 modifiers);
    // The portal's notation of the stored combination ("ALT+space"); empty for an unknown key.
    static QString portalTrigger(qint64 keyCode, qint64 modifiers);
    // XDG_SESSION_TYPE says wayland, or there is a Wayland display and no X one.
    static bool isWaylandSession();

signals:
    // The registration's outcome arrived later (the portal answers asynchronously).
    void statusChanged(ostrel::GlobalShortcut::Status status);

private:
    std::function<void()> action_;
    std::unique_ptr<GlobalShortcut> shortcut_;
};

} // namespace ostrel
