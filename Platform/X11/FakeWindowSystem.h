#pragma once

#include "Platform/X11/WindowSystem.h"

#include <QHash>
#include <QPair>
#include <QSet>

namespace ostrel::x11 {

// A window system whose every answer is set by the test; it records what is asked of it.
class FakeWindowSystem : public WindowSystem {
    Q_OBJECT
public:
    using WindowSystem::WindowSystem;

    QList<Monitor> monitorList;
    bool windowManager = true;
    QList<ClientWindow> clients; // front first
    std::optional<WindowId> active;
    std::optional<qint32> activePid;
    std::optional<quint32> desktop = 0;
    PointerSample pointerSample;
    quint32 heldButtons = 0;
    bool compositor = false;
    std::optional<WindowId> focus;
    QSet<WindowId> own;      // windows of this process
    QSet<WindowId> existing; // other windows that still exist

    QHash<WindowId, QList<QRect>> inputShapes; // absent: the full window
    QList<WindowId> keptAbove;
    QList<WindowId> raised;
    struct HandBack {
        WindowId window = 0;
        WindowId ours = 0;
    };
    QList<HandBack> handedBack;

    bool isConnected() const override { return true; }
    QList<Monitor> monitors() override { return monitorList; }
    bool hasWindowManager() override { return windowManager; }
    QList<ClientWindow> clientWindows() override {
        return windowManager ? clients : QList<ClientWindow>();
    }
    std::optional<WindowId> activeWindow() override { return active; }
    std::optional<qint32> activeWindowPid() override { return activePid; }
    std::optional<quint32> currentDesktop() override { return desktop; }
    int pointerQuestions = 0; // pointer() calls, each a round trip to a real server
    PointerSample pointer() override {
        ++pointerQuestions;
        return pointerSample;
    }
    quint32 buttons() const override { return heldButtons; }
    void setInputShape(WindowId window, const QList<QRect>& rects) override {
        inputShapes.insert(window, rects);
    }
    void clearInputShape(WindowId window) override { inputShapes.remove(window); }
    void setKeptAbove(const QList<WindowId>& windows) override { keptAbove = windows; }
    void raise(WindowId window) override { raised.append(window); }
    std::optional<WindowId> focusedWindow() override { return focus; }
    void handFocusBack(WindowId window, WindowId ours) override {
        handedBack.append({window, ours});
        focus = window;
    }
    bool isOwn(WindowId window) const override { return own.contains(window); }
    bool exists(WindowId window) override {
        return own.contains(window) || existing.contains(window);
    }
    bool compositorRunning() override { return compositor; }

    using Grab = QPair<quint32, quint16>;
    QSet<Grab> grabs;        // held by us now
    QSet<Grab> heldByOthers; // answered with `taken`
    QList<QString> grabLog;  // "grab 65/0x8", "ungrab 65/0x8" in call order
    quint16 numLock = 0x10;
    QSet<quint32> keysMissing; // key codes without a symbol
    GrabResult grabKey(quint32 keycode, quint16 modifiers) override {
        grabLog.append(QStringLiteral("grab %1/0x%2").arg(keycode).arg(modifiers, 0, 16));
        if (heldByOthers.contains({keycode, modifiers})) {
            return GrabResult::taken;
        }
        grabs.insert({keycode, modifiers});
        return GrabResult::grabbed;
    }
    void ungrabKey(quint32 keycode, quint16 modifiers) override {
        grabLog.append(QStringLiteral("ungrab %1/0x%2").arg(keycode).arg(modifiers, 0, 16));
        grabs.remove({keycode, modifiers});
    }
    quint16 numLockMask() override { return numLock; }
    bool modifiersWatched = false;
    bool modifierDown = false;
    void watchModifierKeys(bool on) override { modifiersWatched = on; }
    bool modifierHeld() const override { return modifierDown; }
    // Ctrl, Alt or Super pressed or released on the real keyboard.
    void pressModifier(bool down) {
        modifierDown = down;
        if (modifiersWatched) {
            emit modifierKeysChanged(down);
        }
    }
    bool hasKey(quint32 keycode) override { return !keysMissing.contains(keycode); }
    // A key press as the server delivers it: only for a combination grabbed now.
    void pressKey(quint32 keycode, quint16 state) {
        if (grabs.contains({keycode, state})) {
            emit grabbedKeyPressed(keycode, state);
        }
    }

    PointerWatch watch;
    bool pointerInZone = false;
    void watchPointer(const PointerWatch& w) override { watch = w; }

    // Moves the pointer as a real device would (with raw motion), reported as watched.
    void movePointer(const QPoint& to, WindowId over = 0, bool own = false) {
        pointerSample = {to, over, own};
        if (watch.reports(to, pointerInZone)) {
            reportMotion(to);
        }
    }
    void press(int button) {
        heldButtons |= 1u << (button - 1);
        emit rawButtonPress(button);
    }
    void release(int button) {
        heldButtons &= ~(1u << (button - 1));
        emit rawButtonRelease(button);
    }
};

} // namespace ostrel::x11
