#pragma once

#include "TempDir.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMap>
#include <QMargins>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct xcb_connection_t;

namespace ostrel::test {

// A private X server for one test: its own `Xvfb -displayfd -noreset`, optionally split into two
// RandR monitors, optionally run by openbox and optionally composited by xcompmgr, with a fresh
// home and XDG folders. It starts the real `ostrel` binary against it, drives the pointer and
// keyboard, reads windows and captures the screen. Everything it starts is stopped when it goes
// away.
class XServer {
public:
    struct Options {
        QSize size{1920, 1080};
        // Two 1920-wide monitors side by side ("LEFT", primary, and "RIGHT") on one wide screen;
        // needs a width of 3840.
        bool twoMonitors = false;
        bool windowManager = false;
        // xcompmgr blends translucent windows, as a desktop's compositor would.
        bool compositor = false;
        // More Xvfb arguments ("-extension", "RANDR" takes RandR away).
        QStringList serverArguments;
    };

    // A top-level window as the server sees it.
    struct Window {
        quint32 id = 0;
        QRect geometry;
        bool overrideRedirect = false;
        bool viewable = false;
    };

    XServer();
    explicit XServer(const Options& options);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // False when Xvfb could not be started (the reason is in error()).
    bool ok() const { return display_ >= 0 && connection_ != nullptr; }
    const QString& error() const { return error_; }
    QString display() const { return QStringLiteral(":%1").arg(display_); }
    qint64 serverPid() const { return xvfbPid_; }
    xcb_connection_t* connection() const { return connection_; }
    const TempDir& home() const { return home_; }
    // A session's scratchpad under the home's scratch root, which is made private (the engine
    // refuses a scratch root others may write to).
    QString scratchpad() const;
    // Environment for a program on this server: DISPLAY, HOME and XDG folders, the X platform.
    QProcessEnvironment environment() const;

    // The application. `extra` entries override the defaults (OSTREL_MOTION_SCALE=0.05, and the
    // Claude and scratch folders inside the fresh home); an empty value removes the variable.
    bool startApp(const QString& binary, const QStringList& arguments = {},
                  const QProcessEnvironment& extra = {});
    QProcess* app() const { return app_.get(); }
    // The user started the application before: startApp stores that the welcome window and the
    // missing-projects notice were shown, so neither covers the screen. False for a first run.
    bool greeted = true;
    // A program and its arguments that start the application in turn, in its own process
    // (`nsenter` into a mount namespace); none starts it directly.
    QStringList launcher;
    qint64 appPid() const;
    // Everything the application wrote to stderr so far.
    QString appLog();
    // Sends SIGTERM and waits; the exit code, or none when it did not exit normally in time.
    std::optional<int> stopApp(double seconds = 10);
    // Ends the X server at once, as a crash or the end of the session would, and waits until it
    // is gone. The server's own connection is broken afterwards.
    void killServer();
    // The window manager's process, or -1 without one.
    qint64 windowManagerPid() const { return wmPid_; }

    // The application's top-level windows (by _NET_WM_PID), bottom to top.
    QList<Window> appWindows();
    // Of those, the ones shown other than its shelf panels (which bypass the window manager).
    QList<Window> shownWindows();
    // Whether the keyboard focus is on one of the application's top-level windows that bypass
    // the window manager (a shelf panel that took the keys).
    bool panelHasFocus();
    std::optional<Window> window(quint32 id);
    // From the call on, the server's account of each new top-level window's geometry is kept:
    // where it was made, then every place it was given, however late the test looks and even
    // after the window is gone.
    void watchGeometries();
    QList<QRect> geometries(quint32 id);

    // Pointer and keys through XTest (real device events, with raw motion).
    void moveTo(const QPoint& p);
    void press(int button);
    void release(int button);
    void click(int button);
    void key(const QString& keysym);
    // xdotool as a program (its mousemove warps and makes no raw motion).
    QString xdotool(const QStringList& arguments);
    QString xwininfo(const QStringList& arguments);
    QString xprop(const QStringList& arguments);
    QString run(const QString& program, const QStringList& arguments);

    // A plain window of the test's own, filled with `color`, counting the button presses it gets.
    // With `managed` the window manager frames and places it, else it sits at `rect` unmanaged.
    quint32 createWindow(const QRect& rect, const QColor& color, bool managed = false);
    // Desktop panels taking `room` off the screen's edges: under the window manager a dock
    // window that asks for it, without one the work area published on the root window as a
    // window manager would. Before the application starts, so that it sees them from the first.
    void reservePanels(const QMargins& room);
    // Unplugs one of the two monitors (RandR); false when the server refused.
    bool removeMonitor(const QString& name);

    // Starts or stops xcompmgr; true once the compositor selection has the state asked for.
    bool startCompositor();
    bool stopCompositor();
    bool compositorRunning();

    // The desktop's display scale, as a settings manager publishes it (XSETTINGS "Xft/DPI", what
    // GNOME's and Xfce's scale settings set); Qt follows it live when the manager was there
    // before it started. The first call makes this server's connection the manager.
    void setDisplayScale(double scale);

    // Asks the window manager to make a window full screen.
    void setFullscreen(quint32 id, bool on);
    void destroyWindow(quint32 id);
    // Button presses each of the test's windows received so far.
    int pressesOn(quint32 id);

    // The whole root window, or one area of it.
    QImage capture(const QRect& area = {});
    // The area once it has stopped changing: the first capture that stays the same for `quiet`
    // seconds, so that what an animation or a late repaint leaves is not mistaken for the end.
    // A null image when it is still changing after `seconds`.
    QImage steadyCapture(const QRect& area = {}, double quiet = 0.5, double seconds = 20);
    // Saves a capture as `name`.png in the test binary's folder and returns the path.
    QString saveCapture(const QString& name);

private:
    void start(const Options& options);
    bool splitMonitors();
    bool startWindowManager();
    void readEvents();
    void roundTrip();

    Options options_;
    TempDir home_;
    int display_ = -1;
    qint64 xvfbPid_ = -1;
    qint64 wmPid_ = -1;
    qint64 compositorPid_ = -1;
    xcb_connection_t* connection_ = nullptr;
    quint32 root_ = 0;
    std::unique_ptr<QProcess> app_;
    QString appLog_;
    QString error_;
    QMap<quint32, int> presses_;
    QMap<quint32, QList<QRect>> geometries_;
    quint32 settingsWindow_ = 0;
    quint32 settingsSerial_ = 0;
};

} // namespace ostrel::test
