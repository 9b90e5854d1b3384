#pragma once

#include <QByteArray>
#include <QList>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace ostrel::x11 {

using WindowId = quint32;

// One RandR monitor (what Qt turns into a QScreen) with the first output it drives.
struct Monitor {
    QString name;
    QRect geometry; // X root coordinates, pixels
    bool primary = false;
    std::optional<quint32> output;      // none for a monitor made without an output
    QByteArray edid;                    // empty when the output reports none (Xvfb)
    std::optional<QSize> preferredMode; // none when the output names no preferred mode (Xvfb)
    std::optional<QSize> currentMode;
    friend bool operator==(const Monitor&, const Monitor&) = default;
};

// One managed window of the EWMH client list.
struct ClientWindow {
    WindowId id = 0;
    std::optional<qint32> pid;
    QRect bounds; // X root coordinates, pixels
    bool fullscreen = false;
    bool hidden = false; // minimised or on another desktop
    friend bool operator==(const ClientWindow&, const ClientWindow&) = default;
};

struct PointerSample {
    QPoint position; // X root coordinates, pixels
    // The top-level window under the pointer (respecting input shapes); 0 over the bare root.
    WindowId window = 0;
    // Whether that window, or the client inside its frame, belongs to this process.
    bool overOwnWindow = false;
    friend bool operator==(const PointerSample&, const PointerSample&) = default;
};

// Which raw pointer motion the shelf wants to hear of. Far from every zone a moving pointer costs
// nothing; in a zone, leaving one, or with `everyMove` set, moves are reported. Within an
// approach the pointer is looked at more often than far away, so that it is seen soon after it
// enters a zone, but its moves there are not reported: nothing on the main thread changes with
// them.
struct PointerWatch {
    QList<QRect> zones; // X root coordinates, pixels
    bool everyMove = true;
    QList<QRect> approaches; // the same; each holds its zone and the room around it

    // Whether a move to `p` is reported; `inZone` says whether the last position lay in a zone
    // and is updated.
    bool reports(const QPoint& p, bool& inZone) const {
        const bool in = holds(zones, p);
        const bool left = inZone && !in;
        inZone = in;
        return everyMove || in || left;
    }
    // Whether `p` lies in a zone or on the way to one.
    bool near(const QPoint& p) const { return holds(zones, p) || holds(approaches, p); }
    friend bool operator==(const PointerWatch&, const PointerWatch&) = default;

private:
    static bool holds(const QList<QRect>& rects, const QPoint& p) {
        return std::any_of(rects.begin(), rects.end(),
                           [&p](const QRect& r) { return r.contains(p); });
    }
};

// The window system as the shelf needs it beyond what Qt offers: screens with their outputs, the
// window manager's lists and flags, pointer and button events anywhere on screen, input shapes,
// focus hand-back, stacking and the compositor. Main thread only; signals come on it.
class WindowSystem : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isConnected() const = 0;

    // Screens.
    virtual QList<Monitor> monitors() = 0;

    // The window manager's view (empty or none without a window manager). Front first.
    virtual bool hasWindowManager() = 0;
    virtual QList<ClientWindow> clientWindows() = 0;
    virtual std::optional<WindowId> activeWindow() = 0;
    virtual std::optional<qint32> activeWindowPid() = 0;
    virtual std::optional<quint32> currentDesktop() = 0;

    // Pointer.
    virtual PointerSample pointer() = 0;
    // Where the pointer is (X root pixels). While rawMotion() is being handled, the place the
    // move was reported at, which the window system looked up just before: every reader of the
    // pointer during that handling is answered without another question to the server.
    QPoint pointerPosition() { return reported_ ? *reported_ : pointer().position; }
    // Narrows rawMotion() to what `watch` wants (by default every move). It then comes at most
    // once a display frame, and with `everyMove` the pointer is sampled as well, so that a warp
    // (which makes no raw motion) counts as a move.
    virtual void watchPointer(const PointerWatch& watch) { (void)watch; }
    // Mouse buttons held, as raw presses and releases reported them (bit n-1 for button n).
    virtual quint32 buttons() const = 0;

    // Windows of ours.
    // Input pass-through: pointer events reach the window only inside `rects` (window-relative).
    virtual void setInputShape(WindowId window, const QList<QRect>& rects) = 0;
    // Back to the window's full input area.
    virtual void clearInputShape(WindowId window) = 0;
    // Keeps these windows above every other window: raised again when another window maps or
    // restacks (without a window manager every new window covers them).
    virtual void setKeptAbove(const QList<WindowId>& windows) = 0;
    // One window of ours that stands above the kept windows (the preview over the open drawer);
    // under a window manager the kept windows go just beneath its frame instead. Restacks at once.
    virtual void setKeptOnTop(std::optional<WindowId> /*window*/) {}
    virtual void raise(WindowId window) = 0;
    // The frame a window manager will draw around `window` (X pixels), asked for before it maps;
    // no margins without a window manager, none when the manager does not say.
    virtual std::optional<QMargins> frameExtents(WindowId /*window*/) { return std::nullopt; }
    // The window that has the keyboard focus now (to hand it back later); none for none or root.
    virtual std::optional<WindowId> focusedWindow() = 0;
    // Gives the focus back to `window` (through the window manager when there is one).
    virtual void handFocusBack(WindowId window, WindowId ours) = 0;
    // Whether `window` was created by this process's Qt connection.
    virtual bool isOwn(WindowId window) const = 0;
    // Whether `window` still exists and can take the focus (shown, or kept by a window manager).
    virtual bool exists(WindowId window) = 0;

    // Whether a compositing manager blends translucent windows.
    virtual bool compositorRunning() = 0;

    // Global key grabs on the root window, one key code with one exact X modifier mask each.
    enum class GrabResult { grabbed, taken, refused };
    // `taken`: another client holds the combination (BadAccess); `refused`: any other error.
    virtual GrabResult grabKey(quint32 /*keycode*/, quint16 /*modifiers*/) {
        return GrabResult::refused;
    }
    virtual void ungrabKey(quint32 /*keycode*/, quint16 /*modifiers*/) {}
    // Raw presses and releases of Ctrl, Alt and Super anywhere on screen, reported only while
    // asked for: every key the user types would wake the application otherwise.
    virtual void watchModifierKeys(bool /*on*/) {}
    // Whether Ctrl, Alt or Super is held, as the watched raw key events tell.
    virtual bool modifierHeld() const { return false; }
    // The modifier bit that NumLock sets, as the modifier map says; 0 when no key carries it.
    virtual quint16 numLockMask() { return 0; }
    // Whether the keyboard in use has a symbol on this key code.
    virtual bool hasKey(quint32 /*keycode*/) { return false; }

signals:
    // Raw pointer events from anywhere on screen. Warps produce no motion.
    void rawMotion();
    void rawButtonPress(int button);
    void rawButtonRelease(int button);
    // Ctrl, Alt or Super went down or up (while watched); `held`: any of them is down now.
    void modifierKeysChanged(bool held);
    void activeWindowChanged();
    void currentDesktopChanged();
    void clientListChanged();
    // A window (not ours) mapped, or changed size, position or stacking.
    void windowsRestacked();
    void compositorChanged(bool running);
    void monitorsChanged();
    // The first press of a grabbed key; auto-repeated presses while it is held are left out.
    void grabbedKeyPressed(quint32 keycode, quint16 state);
    // Our connection to the X server broke: the display has gone (or the server ended).
    void connectionLost();

protected:
    // rawMotion() for a move that left the pointer at `at`.
    void reportMotion(const QPoint& at) {
        const auto outer = std::exchange(reported_, at);
        emit rawMotion();
        reported_ = outer;
    }

private:
    std::optional<QPoint> reported_;
};

// The window system of the display Qt runs on: a connection of our own to the same X server.
// Null when there is no X display (offscreen, or DISPLAY unset).
std::unique_ptr<WindowSystem> connectWindowSystem(QObject* parent = nullptr);

} // namespace ostrel::x11
