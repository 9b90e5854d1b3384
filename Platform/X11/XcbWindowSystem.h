#pragma once

#include "Platform/X11/WindowSystem.h"

#include <QHash>
#include <QSet>

#include <xcb/xcb.h>

#include <atomic>

class QTimer;

namespace ostrel::x11 {

class EventReader;

// The window system over a second xcb connection of ours to Qt's X server: XInput2 raw events on
// the root, EWMH properties, RandR monitors, XFixes input shapes and selection watching, and the
// stacking of our panels. Qt's own connection is left alone (requests on it are not flushed when
// we need them to be). Events are read on a thread of the connection's own (EventReader), which
// keeps raw motion far from the shelf off the main thread; everything else reaches the main
// thread as it comes.
class XcbWindowSystem : public WindowSystem {
    Q_OBJECT
public:
    // `display` as for xcb_connect (none: $DISPLAY). Check isConnected() afterwards.
    explicit XcbWindowSystem(const QByteArray& display = {}, QObject* parent = nullptr);
    ~XcbWindowSystem() override;

    bool isConnected() const override;
    QList<Monitor> monitors() override;
    bool hasWindowManager() override;
    QList<ClientWindow> clientWindows() override;
    std::optional<WindowId> activeWindow() override;
    std::optional<qint32> activeWindowPid() override;
    std::optional<quint32> currentDesktop() override;
    PointerSample pointer() override;
    void watchPointer(const PointerWatch& watch) override;
    quint32 buttons() const override { return buttons_; }
    void setInputShape(WindowId window, const QList<QRect>& rects) override;
    void clearInputShape(WindowId window) override;
    void setKeptAbove(const QList<WindowId>& windows) override;
    void setKeptOnTop(std::optional<WindowId> window) override;
    std::optional<QMargins> frameExtents(WindowId window) override;
    void raise(WindowId window) override;
    std::optional<WindowId> focusedWindow() override;
    void handFocusBack(WindowId window, WindowId ours) override;
    bool isOwn(WindowId window) const override;
    bool exists(WindowId window) override;
    bool compositorRunning() override;
    GrabResult grabKey(quint32 keycode, quint16 modifiers) override;
    void ungrabKey(quint32 keycode, quint16 modifiers) override;
    quint16 numLockMask() override;
    void watchModifierKeys(bool on) override;
    bool modifierHeld() const override { return !modifiersDown_.isEmpty(); }
    bool hasKey(quint32 keycode) override;

    // For collaborators that add requests of their own on this connection (key grabs).
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(const char* name);

signals:
    // Every event read from the connection, after this class looked at it; for collaborators
    // that select events of their own (key presses of a grab).
    void event(const xcb_generic_event_t* event);

private:
    void setUp();
    void startReading();
    void handle(const xcb_generic_event_t* event);
    void watchClients();
    void raiseKept();
    xcb_window_t topLevel(xcb_window_t window);
    void handleKey(const xcb_generic_event_t* event);
    void selectRawEvents();
    QSet<quint32> keycodesOf(std::initializer_list<quint32> keysyms);
    void useDetectableRepeat();
    QByteArray property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                        quint32 longLength = 1024);
    std::optional<quint32> cardinal(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);
    QList<quint32> cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type);

    xcb_connection_t* c_ = nullptr;
    int screenNumber_ = 0;
    xcb_window_t root_ = 0;
    xcb_window_t own_ = 0; // an unmapped window of ours, for selection notifications
    quint8 xinputOpcode_ = 0;
    quint8 xfixesEvent_ = 0;
    quint8 randrEvent_ = 0;
    bool hasXfixes_ = false;
    bool hasRandr_ = false;
    quint32 qtIdBase_ = 0;
    quint32 qtIdMask_ = 0;
    quint32 buttons_ = 0;
    bool broken_ = false;
    // A report of motion is on its way to the main thread: later ones are folded into it, and it
    // carries the latest place.
    std::atomic<bool> motionQueued_{false};
    std::atomic<QPoint> motionAt_{QPoint()};
    bool repeatChecked_ = false;
    bool detectableRepeat_ = false;
    QSet<quint32> keysDown_; // grabbed keys pressed and not yet released
    bool watchModifiers_ = false;
    QSet<quint32> modifierKeys_;  // the key codes of Ctrl, Alt and Super
    QSet<quint32> modifiersDown_; // of those, the ones held
    quint32 lastReleaseKey_ = 0;
    quint32 lastReleaseTime_ = 0;
    QHash<QByteArray, xcb_atom_t> atoms_;
    QList<WindowId> keptAbove_;
    std::optional<WindowId> keptOnTop_;
    QList<WindowId> watchedClients_;
    QTimer* raiseTimer_ = nullptr;
    // Last, so that it stops before anything it reports to goes.
    std::unique_ptr<EventReader> reader_;
};

} // namespace ostrel::x11
