#pragma once

#include "Platform/X11/WindowSystem.h"

#include <QHash>

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
    PointerSample pointer() override { return pointerSample; }
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
    bool compositorRunning() override { return compositor; }

    // Moves the pointer as a real device would (with raw motion).
    void movePointer(const QPoint& to, WindowId over = 0, bool own = false) {
        pointerSample = {to, over, own};
        emit rawMotion();
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
