#include "Ostrel/Panels/ActiveDisplayWatcher.h"

#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QGuiApplication>

namespace ostrel {

ActiveDisplayWatcher::ActiveDisplayWatcher(x11::WindowSystem* windows, Bounds bounds,
                                           std::function<void(std::optional<quint32>)> onChange,
                                           QObject* parent)
    : QObject(parent), windows_(windows), bounds_(std::move(bounds)),
      onChange_(std::move(onChange)) {
    burstTimer_.setInterval(static_cast<int>(Motion::burstInterval * 1000));
    connect(&burstTimer_, &QTimer::timeout, this, [this] {
        refresh();
        // Held: the left button, or Ctrl, Alt or Super (switching windows with Alt+Tab).
        const bool held = windows_ && ((windows_->buttons() & 1u) || windows_->modifierHeld());
        if (!held && MainClock::system()->now() >= burstEnd_) {
            burstTimer_.stop();
        }
    });
}

void ActiveDisplayWatcher::setEnabled(bool on) {
    const bool run = on && windows_ && QGuiApplication::screens().size() > 1;
    if (!run) {
        if (running_) {
            for (const auto& c : std::as_const(connections_)) {
                disconnect(c);
            }
            connections_.clear();
            burstTimer_.stop();
            if (windows_) {
                windows_->watchModifierKeys(false);
            }
            running_ = false;
        }
        return;
    }
    if (running_) {
        refresh();
        return;
    }
    running_ = true;
    connections_ = {
        connect(windows_, &x11::WindowSystem::rawButtonPress, this, &ActiveDisplayWatcher::pressed),
        connect(windows_, &x11::WindowSystem::rawButtonRelease, this,
                [this](int button) {
                    if (button == 1) {
                        burst();
                    }
                }),
        connect(windows_, &x11::WindowSystem::activeWindowChanged, this,
                &ActiveDisplayWatcher::burst),
        connect(windows_, &x11::WindowSystem::currentDesktopChanged, this,
                &ActiveDisplayWatcher::burst),
        // A modifier pressed starts a burst; released, it only extends one that runs.
        connect(windows_, &x11::WindowSystem::modifierKeysChanged, this,
                [this](bool held) {
                    if (held || burstTimer_.isActive()) {
                        burst();
                    }
                }),
    };
    windows_->watchModifierKeys(true);
    refresh();
}

std::vector<ActiveDisplay::Window> ActiveDisplayWatcher::windowList() const {
    std::vector<ActiveDisplay::Window> list;
    if (!windows_) {
        return list;
    }
    for (const x11::ClientWindow& w : windows_->clientWindows()) {
        if (!w.hidden && w.pid) {
            list.push_back(ActiveDisplay::Window{*w.pid, 0, 1.0, QRectF(w.bounds)});
        }
    }
    return list;
}

void ActiveDisplayWatcher::refresh() {
    if (!windows_) {
        return;
    }
    std::map<quint32, QRectF> displays = bounds_();
    // There is no file manager that stays frontmost on the desktop here: no second pid.
    if (tracker_.update(windowList(), windows_->activeWindowPid(), std::nullopt, displays)) {
        onChange_(tracker_.active);
    }
}

void ActiveDisplayWatcher::pressed(int button) {
    if (button != 1 || !windows_) {
        return;
    }
    const x11::PointerSample p = windows_->pointer();
    // A press on one of our own windows is neither the desktop nor an application window.
    const ActiveDisplay::Hit hit =
        p.overOwnWindow ? ActiveDisplay::Hit(ActiveDisplay::Other{})
                        : ActiveDisplay::hit(QPointF(p.position), windowList(), bounds_());
    tracker_.click(hit, windows_->activeWindowPid(), std::nullopt);
    burst();
}

void ActiveDisplayWatcher::burst() {
    refresh();
    burstEnd_ = MainClock::system()->now() + Motion::burstLength;
    if (!burstTimer_.isActive()) {
        burstTimer_.start();
    }
}

} // namespace ostrel
