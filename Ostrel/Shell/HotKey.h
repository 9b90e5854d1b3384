#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace ostrel {

namespace x11 {
class WindowSystem;
}

// One registration of the global shortcut: the key is grabbed on the root window for every lock
// state (none, CapsLock, NumLock, both), so that it fires whatever the lock keys say, and is
// released when the object goes. A registration never changes; a new shortcut is a new HotKey.
class HotKey : public QObject {
    Q_OBJECT
public:
    enum class Status {
        registered,
        taken,     // another client holds one of the variants
        noKey,     // the stored key code is unknown, or the keyboard in use lacks the key
        refused,   // the X server refused the grab for another reason
        noDisplay, // no X display of our own to grab on
        wayland,   // a Wayland session, where an X grab fires only while our window has focus
    };

    // Stored modifier bits (as the settings keep them).
    static constexpr qint64 command = 256;
    static constexpr qint64 shift = 512;
    static constexpr qint64 option = 2048;
    static constexpr qint64 control = 4096;

    // `windows` may be null (no X display). `wayland`: the session is a Wayland one.
    HotKey(x11::WindowSystem* windows, qint64 keyCode, qint64 modifiers,
           std::function<void()> action, bool wayland = isWaylandSession());
    ~HotKey() override;

    Status status() const { return status_; }
    // The sentence shown under the shortcut recorder; none when registered.
    static std::optional<QString> errorText(Status status);

    // The X modifier mask of stored modifier bits: command → Mod4, option → Mod1; bits the
    // settings do not define are left out.
    static quint16 xModifiers(qint64 modifiers);
    static bool isWaylandSession();

private:
    void pressed(quint32 keycode, quint16 state);

    x11::WindowSystem* windows_;
    std::function<void()> action_;
    Status status_ = Status::noDisplay;
    quint32 keycode_ = 0;
    quint16 modifiers_ = 0;
    quint16 locks_ = 0;
    QList<quint16> grabbed_;
};

} // namespace ostrel
